#include "formats/wave_file.h"

#include "audio/pcm_converter.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "foundation/file.h"
#include "foundation/unicode.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace formats {

namespace {

constexpr int kReadBytes = 4096;

platform::WaveFormat wave_format(int channels, int bits, int rate) {
    platform::WaveFormat format;
    format.channels = uint16_t(channels);
    format.bits_per_sample = uint16_t(bits);
    format.samples_per_sec = uint32_t(rate);
    format.block_align = uint16_t(channels * ((bits + 7) / 8));
    format.avg_bytes_per_sec = format.block_align * uint32_t(rate);
    return format;
}

class WavSource final : public platform::WaveFileSource {
public:
    WavSource(std::unique_ptr<PcmWavReader> reader, const platform::WaveFormat& format,
              std::unique_ptr<audio::PcmConverter> converter)
        : m_reader(std::move(reader)), m_format(format), m_converter(std::move(converter)) {}

    const platform::WaveFormat& format() const override { return m_format; }

    size_t read(uint8_t* bytes, size_t size) override {
        size_t got = 0;
        while (got < size) {
            if (m_converter) {
                // The converter hands out whole frames only.
                if (size - got < m_format.block_align)
                    break;
                if (const size_t taken = m_converter->get(bytes + got, size - got)) {
                    got += taken;
                    continue;
                }
                if (m_ended)
                    break;
                audio::AudioBlock block;
                m_reader->output().get_data(block, kReadBytes);
                if (block.empty()) {
                    m_converter->flush();
                    m_ended = true;
                } else if (!m_converter->put(block.bytes.data(), block.size())) {
                    m_ended = true;
                }
                continue;
            }
            if (m_pending.empty()) {
                m_reader->output().get_data(m_pending, kReadBytes);
                if (m_pending.empty())
                    break;
            }
            const size_t taken = std::min(size - got, m_pending.size());
            std::memcpy(bytes + got, m_pending.bytes.data(), taken);
            m_pending.bytes = m_pending.bytes.slice(taken, m_pending.size() - taken);
            got += taken;
        }
        return got;
    }

private:
    std::unique_ptr<PcmWavReader> m_reader;
    platform::WaveFormat m_format;
    std::unique_ptr<audio::PcmConverter> m_converter; // null when the file is as wanted
    audio::AudioBlock m_pending;                      // read, not yet handed out
    bool m_ended{false};                              // the converter has all of the file
};

class WavSink final : public platform::WaveFileSink {
public:
    WavSink(const std::u16string& path, const audio::AudioBlock& format)
        : m_writer(path, false, format), m_format(format) {}
    ~WavSink() override { m_writer.complete(); }

    bool write(const uint8_t* bytes, size_t size) override {
        audio::AudioBlock block = m_format;
        block.bytes = audio::ByteSlice::copy_of(size, bytes);
        m_writer.on_data(block);
        return m_writer.is_valid();
    }

private:
    PcmWavWriter m_writer;
    audio::AudioBlock m_format;
};

class WavFiles final : public platform::WaveFiles {
public:
    std::unique_ptr<platform::WaveFileSource> open(const std::string& path,
                                                   const platform::WaveFormat* format) override {
        return open_wave_file(path, format);
    }
    std::unique_ptr<platform::WaveFileSink> create(const std::string& path,
                                                   const platform::WaveFormat& format) override {
        return create_wave_file(path, format);
    }
};

} // namespace

std::unique_ptr<platform::WaveFileSource> open_wave_file(const std::string& path,
                                                         const platform::WaveFormat* format) {
    auto reader = std::make_unique<PcmWavReader>(foundation::utf8_to_utf16(path));
    if (!reader->is_valid())
        return nullptr;
    const audio::PcmLayout stored{reader->channels(), reader->bits_per_sample(),
                                  reader->sample_rate(), false};
    if (!format || (format->channels == stored.channels && format->bits_per_sample == stored.bits &&
                    int(format->samples_per_sec) == stored.rate))
        return std::make_unique<WavSource>(
            std::move(reader), wave_format(stored.channels, stored.bits, stored.rate), nullptr);
    const audio::PcmLayout wanted{format->channels, format->bits_per_sample,
                                  int(format->samples_per_sec), false};
    auto converter = audio::PcmConverter::create(stored, wanted);
    if (!converter)
        return nullptr;
    return std::make_unique<WavSource>(std::move(reader),
                                       wave_format(wanted.channels, wanted.bits, wanted.rate),
                                       std::move(converter));
}

std::unique_ptr<platform::WaveFileSink> create_wave_file(const std::string& path,
                                                         const platform::WaveFormat& format) {
    const std::u16string name = foundation::utf8_to_utf16(path);
    // The writer makes the file with its first block; a file that cannot be made is known now.
    if (foundation::File file; !file.open(name, foundation::File::WriteNew))
        return nullptr;
    audio::AudioBlock declared;
    declared.channels = format.channels;
    declared.bits_per_sample = format.bits_per_sample;
    declared.sample_rate = int32_t(format.samples_per_sec);
    return std::make_unique<WavSink>(name, declared);
}

void use_wave_files() {
    static std::once_flag once;
    std::call_once(once, [] { platform::set_wave_files(std::make_unique<WavFiles>()); });
}

} // namespace formats
