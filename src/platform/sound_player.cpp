#include "platform/sound_player.h"

#include "platform/utf.h"
#include "platform/wave_files.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {

namespace {

// The whole frames of a PCM WAV file the devices take, at most a minute of them (a sound is a
// short cue). False when it cannot be read.
bool load_sound(const std::u16string& path, WaveFormat& format, std::vector<uint8_t>& bytes) {
    WaveFiles* files = wave_files();
    std::unique_ptr<WaveFileSource> source =
        files ? files->open(utf16_to_utf8(path), nullptr) : nullptr;
    if (!source || !acceptable(source->format()))
        return false;
    format = source->format();
    const size_t limit = size_t(format.samples_per_sec) * frame_bytes(format) * 60;
    bytes.clear();
    uint8_t chunk[4096];
    while (bytes.size() < limit) {
        const size_t read = source->read(chunk, std::min(sizeof chunk, limit - bytes.size()));
        if (read == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + read);
    }
    bytes.resize(bytes.size() - bytes.size() % frame_bytes(format));
    return true;
}

} // namespace

bool play_sound_and_wait(const std::u16string& path) {
    WaveFormat format;
    std::vector<uint8_t> bytes;
    if (!load_sound(path, format, bytes))
        return false;
    if (bytes.empty())
        return true;
    std::unique_ptr<WaveOutDevice> device;
    if (WaveOutDevice::open(device, WAVE_MAPPER, format, 0) != MMSYSERR_NOERROR)
        return false;
    WaveHeader header;
    header.data = bytes.data();
    header.buffer_length = uint32_t(bytes.size());
    device->prepare_header(&header);
    device->write(&header);
    // Done means heard: the device's own buffer has drained behind the sound. A device that
    // freezes is given up two seconds after the sound should have ended.
    const auto give_up =
        std::chrono::steady_clock::now() +
        std::chrono::duration<double>(double(bytes.size()) / frame_bytes(format) /
                                          format.samples_per_sec / audio_device_speed() +
                                      2.0);
    while (!(header.flags.load(std::memory_order_acquire) & WHDR_DONE) && !device->lost() &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool heard = !device->lost() && (header.flags.load() & WHDR_DONE);
    device->reset();
    device->unprepare_header(&header);
    device->close();
    return heard;
}

SoundCue::SoundCue(std::u16string path) : m_path(std::move(path)) {}

SoundCue::~SoundCue() {
    close();
}

bool SoundCue::start() {
    close();
    if (!m_loaded && !load_sound(m_path, m_format, m_bytes))
        return false;
    m_loaded = true;
    if (m_bytes.empty())
        return true;
    if (WaveOutDevice::open(m_device, WAVE_MAPPER, m_format, 0) != MMSYSERR_NOERROR) {
        m_device.reset();
        return false;
    }
    m_header.data = m_bytes.data();
    m_header.buffer_length = uint32_t(m_bytes.size());
    m_header.flags.store(0);
    m_device->prepare_header(&m_header);
    m_device->write(&m_header);
    return true;
}

bool SoundCue::poll() {
    if (!m_device)
        return false;
    if (!(m_header.flags.load(std::memory_order_acquire) & WHDR_DONE) && !m_device->lost())
        return true;
    close();
    return false;
}

void SoundCue::close() {
    if (!m_device)
        return;
    m_device->reset();
    m_device->unprepare_header(&m_header);
    m_device->close();
    m_device.reset();
}

} // namespace platform
