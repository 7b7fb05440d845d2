#include "audio/player_pcm.h"

#include "audio/pcm_converter.h"
#include "foundation/log.h"
#include "foundation/threads.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/thread_priority.h"
#include "platform/wave_out_device.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace audio {

using namespace platform;

namespace {

// Playback that ran dry between two buffers is said, with how long the silence was.
void log_underruns(platform::WaveOutDevice& device, int rate) {
    const platform::WaveLoss loss = device.loss();
    const int kind = int(platform::WaveLossKind::Underrun);
    if (loss.events[kind] > 0 && rate > 0)
        foundation::log() << "PlayerPCM "
                          << platform::wave_loss_name(platform::WaveLossKind::Underrun) << " "
                          << loss.events[kind] << " times, "
                          << loss.frames[kind] * 1000 / uint64_t(rate) << " ms\n";
}

constexpr int kBuffers = 6;
constexpr int kPullBytes = 16384;

enum State : int32_t { Idle = 0, Playing = 1, Draining = 2 };

PcmLayout layout_of(int channels, int bits, int rate) {
    return PcmLayout{channels, bits, rate, false};
}

// What the output device is opened with for a stream: 8- and 16-bit mono or stereo at rates
// a device takes are played as they are, everything else as 16-bit, at most two channels.
PcmLayout device_layout_for(const PcmLayout& source) {
    PcmLayout device = source;
    if (device.bits != 8)
        device.bits = 16;
    device.channels = std::min(device.channels, 2);
    if (device.rate < 1000)
        device.rate = 8000;
    else if (device.rate > 192000)
        device.rate = 48000;
    return device;
}

} // namespace

class PlayerPCMImpl : public foundation::Thread {
public:
    explicit PlayerPCMImpl(PlayerPCM& owner) : m_owner(owner) {
        set_priority(1);
        m_started = foundation::Thread::start();
        if (!m_started)
            foundation::log() << "player bad thread!!!!!\n";
    }
    ~PlayerPCMImpl() override {
        if (!m_started)
            return;
        request_stop();
        m_ready.wait();
        post_message(m_window, WM_USER, 0, 0);
        join();
    }

    enum class Request { Play, Stop, Pause };
    bool request(Request request) {
        if (!m_started)
            return false;
        m_ready.wait();
        std::lock_guard guard(m_owner.lock());
        switch (request) {
        case Request::Play:
            m_play_requested = true;
            m_pause_requested = false;
            m_finished = false;
            m_fault = PlayerPCM::Fault::None;
            break;
        case Request::Stop:
            m_play_requested = false;
            m_pause_requested = false;
            m_finished = true;
            m_stop_requested = true;
            break;
        case Request::Pause:
            m_pause_requested = true;
            break;
        }
        return post_message(m_window, WM_USER, 0, 0);
    }

    bool is_finished() const {
        std::lock_guard guard(m_owner.lock());
        return m_finished;
    }
    PlayerPCM::Fault fault() const {
        std::lock_guard guard(m_owner.lock());
        return m_fault;
    }

    void set_volume(double volume) {
        std::lock_guard guard(m_owner.lock());
        m_volume = std::clamp(volume, 0.0, 1.0);
        apply_volume();
    }
    double volume() const {
        std::lock_guard guard(m_owner.lock());
        return m_volume;
    }
    double level(int channel) const {
        std::lock_guard guard(m_owner.lock());
        return m_levels[channel <= 0 ? 0 : 1];
    }
    int32_t frames_pulled() const {
        std::lock_guard guard(m_owner.lock());
        return m_frames_pulled;
    }
    // The device's own count, in the stream's frames (the device may run at another rate).
    int32_t frames_heard() {
        std::lock_guard guard(m_owner.lock());
        const int32_t block = m_device_layout.channels * m_device_layout.bits / 8;
        if (m_device && block > 0 && m_device_layout.rate > 0) {
            const uint64_t bytes = m_device->position();
            const double frames = double(bytes / uint64_t(block)) * m_rate / m_device_layout.rate;
            m_frames_heard = std::min(m_frames_pulled, int32_t(frames));
        }
        return m_frames_heard;
    }
    void set_buffer_ms(int milliseconds) {
        std::lock_guard guard(m_owner.lock());
        m_buffer_ms = std::clamp(milliseconds, 5, 200);
    }

protected:
    void run() override;

private:
    void handle_request();
    void fill_or_close();
    // False when the reader has no more data of the stream's format.
    bool fill_buffers();
    // Copies or converts pending data into `to`; returns the bytes written.
    size_t take_pending(uint8_t* to, size_t room);
    void open_device();
    void fail(PlayerPCM::Fault fault);
    void close_down();
    void pull_pending();
    void measure(const WaveHeader& header);
    bool any_queued() const;
    void check_stall();
    void apply_volume();

    PlayerPCM& m_owner;
    std::unique_ptr<WaveOutDevice> m_device;
    WaveHeader m_headers[kBuffers];
    std::vector<uint8_t> m_buffers[kBuffers];
    double m_volume{1.0};
    double m_levels[2]{0.0, 0.0};
    int32_t m_channels{0}, m_bits{0}, m_rate{0}; // the stream's format, as the reader gives it
    std::unique_ptr<PcmConverter> m_converter;   // when the device takes another one
    bool m_converter_flushed{false};
    PcmLayout m_device_layout;
    int32_t m_buffer_size{0};
    int32_t m_buffer_ms{200};
    int32_t m_frames_pulled{0};
    int32_t m_frames_heard{0}; // last read from the open device; kept once it has closed
    AudioBlock m_pending;
    foundation::Event m_ready{foundation::Event::Reset::Manual};
    WindowHandle m_window{0};
    int32_t m_state{Idle};
    bool m_device_paused{false};
    bool m_play_requested{false};
    bool m_pause_requested{false};
    bool m_finished{true};
    bool m_stop_requested{false};
    bool m_started{false}; // the playback thread runs
    PlayerPCM::Fault m_fault{PlayerPCM::Fault::None};
    uint32_t m_last_done{0}; // tick of the last buffer heard, the open or the restart
};

constexpr uint32_t kStallTimer = 1;

void PlayerPCMImpl::run() {
    set_current_thread_name("qv-player");
    m_window = create_window([](WindowHandle, uint32_t, WParam, LParam) -> LResult { return 0; });
    m_ready.set();
    Message message;
    while (!stop_requested() && get_message(message)) {
        if (stop_requested())
            break;
        std::lock_guard guard(m_owner.lock());
        switch (message.message) {
        case MM_WOM_OPEN:
            if (message.wparam == WParam(m_device.get()))
                fill_or_close();
            break;
        case MM_WOM_DONE: {
            if (message.wparam != WParam(m_device.get()))
                break;
            auto* header = reinterpret_cast<WaveHeader*>(message.lparam);
            if (header < m_headers || header >= m_headers + kBuffers || header->user == 0)
                break;
            header->user = 0;
            m_last_done = tick_count();
            m_device->unprepare_header(header);
            measure(*header);
            fill_or_close();
            break;
        }
        case MM_WOM_CLOSE:
            if (m_state == Draining && m_device == nullptr) {
                close_down();
                // With a play request standing (the stream ended, or a new one was asked for
                // while this one drained), the request that close_down() posted decides: it
                // opens the device again or finds no data and finishes.
                if (!m_play_requested)
                    m_finished = true;
            }
            break;
        case WM_USER:
            handle_request();
            break;
        case WM_TIMER:
            // The watch runs only while an output is open.
            if (m_device)
                check_stall();
            else
                kill_timer(m_window, kStallTimer);
            break;
        default:
            break;
        }
        if (m_device && m_device->lost()) {
            foundation::log() << "PlayerPCM device lost\n";
            fail(PlayerPCM::Fault::DeviceLost);
        }
    }
    std::lock_guard guard(m_owner.lock());
    if (m_device) {
        m_device->reset();
        for (WaveHeader& header : m_headers)
            m_device->unprepare_header(&header);
        log_underruns(*m_device, m_rate);
        m_device->close();
        m_device.reset();
    }
    kill_timer(m_window, kStallTimer);
    destroy_window(m_window);
}

// An output that takes nothing for over a second while it should be playing has gone away
// without saying so (some sound servers freeze instead).
void PlayerPCMImpl::check_stall() {
    if (!m_device || m_device_paused || !any_queued())
        return;
    const uint32_t limit = 1000 + uint32_t(400.0 / platform::audio_device_speed());
    if (tick_count() - m_last_done > limit) {
        foundation::log() << "PlayerPCM output stalled\n";
        fail(PlayerPCM::Fault::DeviceLost);
    }
}

void PlayerPCMImpl::handle_request() {
    if (m_play_requested && m_stop_requested) {
        m_stop_requested = false;
        // A stop followed at once by a new play: the old stream ends here, whatever its state.
        if (m_state != Idle) {
            m_pending = AudioBlock{};
            close_down();
        }
    }
    if (m_stop_requested && !m_play_requested)
        m_stop_requested = false;
    if (m_play_requested && m_state == Idle) {
        if (m_pending.empty())
            pull_pending();
        if (!m_pending.empty()) {
            m_channels = m_pending.channels;
            m_bits = m_pending.bits_per_sample;
            m_rate = m_pending.sample_rate;
            m_state = Playing;
            open_device();
        } else if (!any_queued()) {
            m_finished = true;
        }
    } else if (!m_play_requested && m_state != Idle) {
        // Stopped, also while the last buffers drain: what the device holds is dropped and
        // the returned buffers close it.
        m_state = Draining;
        m_pending = AudioBlock{};
        m_converter.reset();
        if (m_device)
            m_device->reset();
    }
    if (m_device) {
        if (m_pause_requested && !m_device_paused) {
            m_device->pause();
            m_device_paused = true;
        } else if (!m_pause_requested && m_device_paused) {
            m_device->restart();
            m_device_paused = false;
            m_last_done = tick_count();
        }
    } else {
        m_device_paused = false;
    }
}

void PlayerPCMImpl::fill_or_close() {
    if (m_state == Playing && !fill_buffers())
        m_state = Draining;
    if (m_state == Draining && !any_queued() && m_device) {
        log_underruns(*m_device, m_rate);
        if (m_device->close() == MMSYSERR_NOERROR)
            m_device.reset();
    }
}

void PlayerPCMImpl::pull_pending() {
    // Once stop() has returned, the reader may be swapped for the next one: nothing is pulled
    // until the stop has been carried out, so no block of the next stream is taken for this one.
    if (m_stop_requested) {
        m_pending = AudioBlock{};
        return;
    }
    pull(m_owner, m_pending, kPullBytes);
    m_frames_pulled += int32_t(m_pending.frames());
}

size_t PlayerPCMImpl::take_pending(uint8_t* to, size_t room) {
    size_t copied = 0;
    while (copied < room) {
        if (m_converter) {
            const size_t got = m_converter->get(to + copied, room - copied);
            if (got > 0) {
                copied += got;
                continue;
            }
        }
        if (m_pending.empty())
            pull_pending();
        const bool same_format = !m_pending.empty() && m_pending.channels == m_channels &&
                                 m_pending.bits_per_sample == m_bits &&
                                 m_pending.sample_rate == m_rate;
        if (!same_format) {
            // The end of the stream or of its format: the converter gives up what it holds;
            // a block of another format stays pending.
            if (m_converter && !m_converter_flushed) {
                m_converter->flush();
                m_converter_flushed = true;
                continue;
            }
            break;
        }
        if (m_converter) {
            m_converter->put(m_pending.bytes.data(), m_pending.size());
            m_pending = AudioBlock{};
            continue;
        }
        size_t taken = std::min(room - copied, m_pending.size());
        std::memcpy(to + copied, m_pending.bytes.data(), taken);
        copied += taken;
        m_pending.bytes = m_pending.bytes.slice(taken, m_pending.size() - taken);
    }
    return copied;
}

bool PlayerPCMImpl::fill_buffers() {
    for (int i = 0; i < kBuffers; ++i) {
        WaveHeader& header = m_headers[i];
        if (header.user != 0)
            continue;
        const size_t room = size_t(m_buffer_size);
        const size_t copied = take_pending(header.data, room);
        if (copied > 0) {
            header.user = 1;
            header.buffer_length = uint32_t(copied);
            m_device->prepare_header(&header);
            if (m_device->write(&header) != MMSYSERR_NOERROR)
                header.user = 0;
        }
        if (copied < room)
            return false;
    }
    return true;
}

void PlayerPCMImpl::open_device() {
    if (m_device)
        return;
    const PcmLayout source = layout_of(m_channels, m_bits, m_rate);
    m_device_layout = device_layout_for(source);
    m_converter.reset();
    m_converter_flushed = false;
    if (!(m_device_layout == source)) {
        m_converter = PcmConverter::create(source, m_device_layout);
        if (!m_converter) {
            foundation::log() << "PlayerPCM::open_device no conversion from channels:" << m_channels
                              << " bits:" << m_bits << " rate:" << m_rate << "\n";
            fail(PlayerPCM::Fault::Format);
            return;
        }
    }
    WaveFormat format;
    format.format_tag = WAVE_FORMAT_PCM;
    format.channels = uint16_t(m_device_layout.channels);
    format.samples_per_sec = uint32_t(m_device_layout.rate);
    format.bits_per_sample = uint16_t(m_device_layout.bits);
    format.block_align = uint16_t(m_device_layout.channels * m_device_layout.bits / 8);
    format.avg_bytes_per_sec = format.block_align * uint32_t(m_device_layout.rate);
    WaveResult result = WaveOutDevice::open(m_device, WAVE_MAPPER, format, m_window);
    if (result != MMSYSERR_NOERROR) {
        foundation::log() << "PlayerPCM::open_device waveOutOpen=" << result << "\n";
        m_device.reset();
        fail(result == WAVERR_BADFORMAT ? PlayerPCM::Fault::Format : PlayerPCM::Fault::NoDevice);
        return;
    }
    set_timer(m_window, kStallTimer, 250);
    int32_t size = std::max(1, m_device_layout.rate * m_buffer_ms / 1000) * format.block_align;
    if (size != m_buffer_size) {
        m_buffer_size = size;
        for (int i = 0; i < kBuffers; ++i) {
            m_buffers[i].assign(size_t(size), 0);
            m_headers[i].data = m_buffers[i].data();
            m_headers[i].buffer_length = uint32_t(size);
        }
    }
    for (WaveHeader& header : m_headers)
        header.user = 0;
    m_frames_pulled = 0;
    m_frames_heard = 0;
    m_last_done = tick_count();
    apply_volume();
}

// Nothing more can be played: the playback ends as finished, with the reason kept.
void PlayerPCMImpl::fail(PlayerPCM::Fault fault) {
    m_fault = fault;
    m_play_requested = false;
    m_pending = AudioBlock{};
    m_converter.reset();
    if (m_device)
        close_down();
    m_state = Idle;
    m_channels = m_bits = m_rate = 0;
    m_finished = true;
}

void PlayerPCMImpl::close_down() {
    if (m_device) {
        m_device->reset();
        for (WaveHeader& header : m_headers)
            m_device->unprepare_header(&header);
        log_underruns(*m_device, m_rate);
        m_device->close();
        m_device.reset();
        // Whatever the closed device still posted belongs to no stream now.
        Message stale;
        while (peek_message(stale, 0, MM_WOM_OPEN, MM_WOM_DONE)) {
        }
    }
    for (WaveHeader& header : m_headers) {
        header.user = 0;
        header.flags.store(0);
    }
    m_state = Idle;
    m_frames_pulled = 0;
    m_levels[0] = m_levels[1] = 0.0;
    m_channels = m_bits = m_rate = 0;
    m_converter.reset();
    m_device_paused = false;
    post_message(m_window, WM_USER, 0, 0);
}

bool PlayerPCMImpl::any_queued() const {
    for (const WaveHeader& header : m_headers)
        if (header.user != 0)
            return true;
    return false;
}

void PlayerPCMImpl::measure(const WaveHeader& header) {
    int channels = std::clamp(m_device_layout.channels, 1, 2);
    int stride_channels = std::max(m_device_layout.channels, 1);
    for (int channel = 0; channel < channels; ++channel) {
        int peak = 0;
        if (m_device_layout.bits == 16) {
            size_t stride = size_t(stride_channels) * 2;
            for (size_t at = size_t(channel) * 2; at + 2 <= header.buffer_length; at += stride) {
                int16_t sample;
                std::memcpy(&sample, header.data + at, 2);
                peak = std::max(peak, std::abs(int(sample)));
            }
            m_levels[channel] = peak / 32768.0;
        } else {
            for (size_t at = size_t(channel); at < header.buffer_length;
                 at += size_t(stride_channels))
                peak = std::max(peak, std::abs(int(header.data[at]) - 128));
            m_levels[channel] = peak / 128.0;
        }
    }
    if (channels == 1)
        m_levels[1] = m_levels[0];
}

void PlayerPCMImpl::apply_volume() {
    if (!m_device)
        return;
    uint32_t word = uint32_t(m_volume * 65535);
    m_device->set_volume(word | (word << 16));
}

PlayerPCM::PlayerPCM() : m_impl(std::make_unique<PlayerPCMImpl>(*this)) {}

PlayerPCM::~PlayerPCM() {
    m_impl.reset();
}

bool PlayerPCM::play() {
    return m_impl->request(PlayerPCMImpl::Request::Play);
}

bool PlayerPCM::stop() {
    return m_impl->request(PlayerPCMImpl::Request::Stop);
}

bool PlayerPCM::pause() {
    return m_impl->request(PlayerPCMImpl::Request::Pause);
}

bool PlayerPCM::is_finished() const {
    return m_impl->is_finished();
}

PlayerPCM::Fault PlayerPCM::fault() const {
    return m_impl->fault();
}

bool PlayerPCM::can_play(int channels, int bits, int rate) {
    const PcmLayout source = layout_of(channels, bits, rate);
    const PcmLayout device = device_layout_for(source);
    return device == source || PcmConverter::create(source, device) != nullptr;
}

void PlayerPCM::set_volume(double volume) {
    m_impl->set_volume(volume);
}

double PlayerPCM::volume() const {
    return m_impl->volume();
}

double PlayerPCM::level(int channel) const {
    return m_impl->level(channel);
}

int32_t PlayerPCM::frames_pulled() const {
    return m_impl->frames_pulled();
}

int32_t PlayerPCM::frames_heard() const {
    return m_impl->frames_heard();
}

void PlayerPCM::set_buffer_ms(int milliseconds) {
    m_impl->set_buffer_ms(milliseconds);
}

void PlayerPCM::on_data(const AudioBlock&) {
    foundation::fatal_error(u"PlayerPCM::on_data", u"on_data unexpected - player is active object");
}

} // namespace audio
