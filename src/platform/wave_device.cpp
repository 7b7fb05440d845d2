#include "platform/wave_device.h"

#include "platform/number.h"
#include "platform/wave_backend.h"
#include "platform/wave_backend_file.h"
#include "platform/wave_backend_null.h"
#include "platform/wave_backend_sdl.h"
#include "platform/wave_files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>

namespace platform {

namespace {

enum class Backend { Sdl, File, Null };

Backend chosen_backend() {
    const char* value = std::getenv("QUILLORY_AUDIO");
    const std::string_view name = value ? value : "";
    if (name == "file")
        return Backend::File;
    if (name == "null")
        return Backend::Null;
    return Backend::Sdl;
}

std::unique_ptr<WaveBackend> make_backend() {
    switch (chosen_backend()) {
    case Backend::File:
        return make_file_wave_backend();
    case Backend::Null:
        return make_null_wave_backend();
    case Backend::Sdl:
        break;
    }
    return make_sdl_wave_backend();
}

WaveResult prepare(WaveHeader* header) {
    if (!header || !header->data)
        return MMSYSERR_INVALPARAM;
    header->flags.fetch_or(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

WaveResult unprepare(WaveHeader* header) {
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (header->flags.load() & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->flags.fetch_and(~uint32_t(WHDR_PREPARED));
    return MMSYSERR_NOERROR;
}

// The queue of headers and the state shared by both directions; `m_mutex` guards it all.
class DeviceCore {
public:
    DeviceCore(const WaveFormat& format, WindowHandle window, uint32_t wake_message)
        : m_format(format), m_window(window), m_wake_message(wake_message) {}

    bool is_lost() const { return m_lost.load(); }

    // Any thread.
    void count_loss(WaveLossKind kind, uint64_t frames) {
        std::lock_guard guard(m_mutex);
        ++m_loss.events[int(kind)];
        m_loss.frames[int(kind)] += frames;
    }
    WaveLoss losses() {
        std::lock_guard guard(m_mutex);
        return m_loss;
    }

    // Any thread: the device went away. The owner is woken with a message without a header.
    void went_away(const void* device) {
        if (!m_lost.exchange(true) && m_window)
            post_message(m_window, m_wake_message, WParam(device), 0);
    }

    WaveResult enqueue(WaveHeader* header) {
        if (!header || !header->data)
            return MMSYSERR_INVALPARAM;
        if (!(header->flags.load() & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (header->flags.load() & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        if (is_lost())
            return MMSYSERR_NODRIVER;
        std::lock_guard guard(m_mutex);
        header->flags.store((header->flags.load() & ~uint32_t(WHDR_DONE)) | WHDR_INQUEUE);
        m_queue.push_back(header);
        return MMSYSERR_NOERROR;
    }

    // Hands a header back. Called with m_mutex held.
    void complete(const void* device, WaveHeader* header, uint32_t message) {
        header->flags.store((header->flags.load() & ~uint32_t(WHDR_INQUEUE)) | WHDR_DONE,
                            std::memory_order_release);
        if (m_window)
            post_message(m_window, message, WParam(device), LParam(header));
    }

    // Hands the oldest header back. Called with m_mutex held.
    void complete_front(const void* device, uint32_t message) {
        WaveHeader* header = m_queue.front();
        m_queue.pop_front();
        m_position = 0;
        complete(device, header, message);
    }

    void post(const void* device, uint32_t message) {
        if (m_window)
            post_message(m_window, message, WParam(device), 0);
    }

    WaveFormat m_format;
    WindowHandle m_window;
    uint32_t m_wake_message;
    std::atomic<bool> m_lost{false};
    std::mutex m_mutex;
    std::deque<WaveHeader*> m_queue;
    uint32_t m_position{0}; // bytes of the front header already played (output)
    WaveLoss m_loss;
};

class WaveIn final : public WaveInDevice, private CaptureTarget {
public:
    WaveIn(const WaveFormat& format, WindowHandle window) : m_core(format, window, MM_WIM_DATA) {}
    // What the messages carry.
    const void* self() const { return static_cast<const WaveInDevice*>(this); }
    ~WaveIn() override {
        m_stream.reset();
        m_downlink.reset();
    }

    bool open(WaveBackend& backend, bool call, std::unique_ptr<CaptureMix> mix) {
        m_stream = backend.open_capture(m_core.m_format, *this, call);
        if (!m_stream)
            return false;
        if (call)
            open_downlink(backend, std::move(mix));
        m_core.post(self(), MM_WIM_OPEN);
        return true;
    }

    WaveResult add_buffer(WaveHeader* header) override {
        if (header)
            header->bytes_recorded = 0;
        return m_core.enqueue(header);
    }

    WaveResult start() override {
        if (lost())
            return MMSYSERR_NODRIVER;
        {
            std::lock_guard guard(m_core.m_mutex);
            m_started = true;
        }
        // Outside the lock: the streams deliver under it.
        if (m_downlink)
            m_downlink->set_running(true);
        m_stream->set_running(true);
        return MMSYSERR_NOERROR;
    }

    WaveResult stop() override {
        // What the source has captured up to now is still taken.
        if (started())
            m_stream->drain();
        {
            std::lock_guard guard(m_core.m_mutex);
            if (m_mix) {
                // What the mixer holds back was captured before the stop.
                if (m_started) {
                    m_mixed.clear();
                    m_mix->flush(m_mixed);
                    fill_headers(m_mixed.data(), m_mixed.size());
                }
                m_mix->clear();
            }
            if (m_started && !m_core.m_queue.empty() && m_core.m_queue.front()->bytes_recorded > 0)
                m_core.complete_front(self(), MM_WIM_DATA);
            m_started = false;
        }
        m_stream->set_running(false);
        if (m_downlink)
            m_downlink->set_running(false);
        return MMSYSERR_NOERROR;
    }

    WaveResult reset() override {
        {
            std::lock_guard guard(m_core.m_mutex);
            if (m_mix)
                m_mix->clear();
            m_started = false;
            while (!m_core.m_queue.empty())
                m_core.complete_front(self(), MM_WIM_DATA);
        }
        m_stream->set_running(false);
        if (m_downlink)
            m_downlink->set_running(false);
        return MMSYSERR_NOERROR;
    }

    WaveResult close() override {
        {
            std::lock_guard guard(m_core.m_mutex);
            if (!m_core.m_queue.empty())
                return WAVERR_STILLPLAYING;
            m_started = false;
        }
        m_stream.reset();
        m_downlink.reset();
        m_tap.reset();
        m_core.post(self(), MM_WIM_CLOSE);
        return MMSYSERR_NOERROR;
    }

    bool lost() const override { return m_core.is_lost(); }
    WaveDownlink downlink() const override { return m_downlink_state.load(); }
    WaveLoss loss() override { return m_core.losses(); }
    std::string description() const override {
        return m_stream ? m_stream->describe() : std::string();
    }

private:
    // The stream's thread: captured bytes, mixed with the downlink where there is one, go into
    // the queued headers in order; full ones are handed back.
    void deliver(const uint8_t* bytes, size_t size) override {
        std::lock_guard guard(m_core.m_mutex);
        if (!m_started || lost())
            return;
        if (m_mix) {
            m_mixed.clear();
            m_mix->add_primary(bytes, size, m_mixed);
            fill_headers(m_mixed.data(), m_mixed.size());
        } else {
            fill_headers(bytes, size);
        }
    }

    size_t room() override {
        std::lock_guard guard(m_core.m_mutex);
        if (!m_started)
            return 0;
        size_t free = 0;
        for (const WaveHeader* header : m_core.m_queue)
            free += header->buffer_length - header->bytes_recorded;
        const size_t held = m_mix ? m_mix->held_bytes() : 0;
        return free > held ? free - held : 0;
    }

    bool started() override {
        std::lock_guard guard(m_core.m_mutex);
        return m_started;
    }
    void add_loss(WaveLossKind kind, uint64_t frames) override { m_core.count_loss(kind, frames); }
    void mark_lost() override { m_core.went_away(self()); }
    void set_tap(std::unique_ptr<WaveFileSink> tap) override {
        std::lock_guard guard(m_core.m_mutex);
        m_tap = std::move(tap);
    }

    void deliver_downlink(const uint8_t* bytes, size_t size) override {
        if (m_downlink_state.load() == WaveDownlink::Mixed)
            m_downlink_mix->add_secondary(bytes, size);
    }
    bool downlink_wanted() const override { return m_downlink_state.load() == WaveDownlink::Mixed; }
    void downlink_removed() override {
        WaveDownlink mixed = WaveDownlink::Mixed;
        m_downlink_state.compare_exchange_strong(mixed, WaveDownlink::Lost);
    }

    // The second capture device. Its failure, now or later, leaves the microphone alone.
    void open_downlink(WaveBackend& backend, std::unique_ptr<CaptureMix> mix) {
        if (!mix) {
            m_downlink_state = WaveDownlink::Unavailable;
            return;
        }
        m_downlink_mix = mix.get();
        // Set before the stream runs, so that its first chunk is taken.
        m_downlink_state = WaveDownlink::Mixed;
        std::unique_ptr<WaveStream> stream = backend.open_downlink(m_core.m_format, *this);
        if (!stream) {
            m_downlink_state = WaveDownlink::Unavailable;
            return;
        }
        {
            std::lock_guard guard(m_core.m_mutex);
            m_mix = std::move(mix);
        }
        m_downlink = std::move(stream);
    }

    // Called with m_mutex held.
    void fill_headers(const uint8_t* bytes, size_t size) {
        auto& queue = m_core.m_queue;
        while (size > 0 && !queue.empty()) {
            WaveHeader* header = queue.front();
            size_t room = header->buffer_length - header->bytes_recorded;
            size_t taken = std::min(room, size);
            std::memcpy(header->data + header->bytes_recorded, bytes, taken);
            if (m_tap)
                m_tap->write(bytes, taken);
            header->bytes_recorded += uint32_t(taken);
            bytes += taken;
            size -= taken;
            if (header->bytes_recorded >= header->buffer_length)
                m_core.complete_front(self(), MM_WIM_DATA);
        }
        // No buffer to take it: the owner fell behind by the whole ring, and this is lost.
        if (size > 0) {
            ++m_core.m_loss.events[int(WaveLossKind::Overflow)];
            m_core.m_loss.frames[int(WaveLossKind::Overflow)] +=
                size / frame_bytes(m_core.m_format);
        }
    }

    DeviceCore m_core;
    bool m_started{false};                // under m_core.m_mutex
    std::unique_ptr<WaveFileSink> m_tap;  // written under m_core.m_mutex
    std::unique_ptr<WaveStream> m_stream; // the microphone
    std::atomic<WaveDownlink> m_downlink_state{WaveDownlink::None};
    CaptureMix* m_downlink_mix{nullptr};    // m_mix, also before it is in place
    std::unique_ptr<CaptureMix> m_mix;      // set under m_mutex before the downlink runs
    std::vector<uint8_t> m_mixed;           // under m_mutex
    std::unique_ptr<WaveStream> m_downlink; // the second capture device, after m_mix
};

class WaveOut final : public WaveOutDevice, private PlaybackTarget {
public:
    WaveOut(const WaveFormat& format, WindowHandle window) : m_core(format, window, MM_WOM_DONE) {}
    // What the messages carry.
    const void* self() const { return static_cast<const WaveOutDevice*>(this); }
    ~WaveOut() override { m_stream.reset(); }

    bool open(WaveBackend& backend) {
        m_stream = backend.open_playback(m_core.m_format, *this);
        if (!m_stream)
            return false;
        m_core.post(self(), MM_WOM_OPEN);
        return true;
    }

    WaveResult write(WaveHeader* header) override {
        {
            std::lock_guard guard(m_core.m_mutex);
            // Audio after silence that was not the end: the output ran dry in between.
            if (m_starved_bytes > 0) {
                ++m_core.m_loss.events[int(WaveLossKind::Underrun)];
                m_core.m_loss.frames[int(WaveLossKind::Underrun)] +=
                    m_starved_bytes / frame_bytes(m_core.m_format);
                m_starved_bytes = 0;
            }
        }
        return m_core.enqueue(header);
    }

    WaveResult pause() override { return set_paused(true); }
    WaveResult restart() override { return set_paused(false); }

    WaveResult reset() override {
        std::lock_guard guard(m_core.m_mutex);
        // In play order: first what is already in the device's buffer, then the queue.
        for (const Heard& heard : m_heard)
            m_core.complete(self(), heard.header, MM_WOM_DONE);
        m_heard.clear();
        m_going_out.clear();
        m_played = 0;
        ++m_resets;
        m_played_any = false;
        m_starved_bytes = 0;
        while (!m_core.m_queue.empty())
            m_core.complete_front(self(), MM_WOM_DONE);
        return MMSYSERR_NOERROR;
    }

    uint64_t position() override {
        std::lock_guard guard(m_core.m_mutex);
        return m_played;
    }

    void set_volume(uint32_t volume) override {
        std::lock_guard guard(m_core.m_mutex);
        m_volume = volume;
    }
    uint32_t volume() override {
        std::lock_guard guard(m_core.m_mutex);
        return m_volume;
    }

    WaveResult close() override {
        {
            std::lock_guard guard(m_core.m_mutex);
            if (!m_core.m_queue.empty() || !m_heard.empty())
                return WAVERR_STILLPLAYING;
        }
        // Whatever the device's own buffer still held is not heard.
        m_stream.reset();
        m_core.post(self(), MM_WOM_CLOSE);
        return MMSYSERR_NOERROR;
    }

    bool lost() const override { return m_core.is_lost(); }
    WaveLoss loss() override { return m_core.losses(); }

private:
    WaveResult set_paused(bool paused) {
        std::lock_guard guard(m_core.m_mutex);
        m_paused = paused;
        return MMSYSERR_NOERROR;
    }

    // A header consumed whole is done once `m_latency` more bytes have gone out behind it.
    size_t consume(uint8_t* bytes, size_t size, uint64_t* resets) override {
        std::lock_guard guard(m_core.m_mutex);
        if (resets)
            *resets = m_resets;
        auto& queue = m_core.m_queue;
        uint32_t& position = m_core.m_position;
        size_t copied = 0;
        while (!m_paused && !lost() && copied < size && !queue.empty()) {
            WaveHeader* header = queue.front();
            size_t left = header->buffer_length - position;
            size_t taken = std::min(left, size - copied);
            std::memcpy(bytes + copied, header->data + position, taken);
            position += uint32_t(taken);
            copied += taken;
            if (position >= header->buffer_length) {
                queue.pop_front();
                position = 0;
                m_heard.push_back({header, m_total + copied});
            }
        }
        apply_volume(bytes, copied);
        std::memset(bytes + copied, m_core.m_format.bits_per_sample == 8 ? 0x80 : 0, size - copied);
        // Silence after audio: the end, or an underrun if more audio follows.
        if (copied > 0)
            m_played_any = true;
        if (m_played_any && copied < size && !m_paused && !lost())
            m_starved_bytes += size - copied;
        m_total += size;
        if (copied > 0)
            m_going_out.push_back({m_total, copied});
        while (!m_going_out.empty() && m_going_out.front().end + m_latency <= m_total) {
            m_played += m_going_out.front().bytes;
            m_going_out.pop_front();
        }
        while (!m_heard.empty() && m_heard.front().end + m_latency <= m_total) {
            m_core.complete(self(), m_heard.front().header, MM_WOM_DONE);
            m_heard.pop_front();
        }
        return copied;
    }

    uint64_t resets() override {
        std::lock_guard guard(m_core.m_mutex);
        return m_resets;
    }
    void set_latency(size_t bytes) override {
        std::lock_guard guard(m_core.m_mutex);
        m_latency = bytes;
    }
    void fell_behind(uint64_t frames) override {
        std::lock_guard guard(m_core.m_mutex);
        if (!m_paused && (!m_core.m_queue.empty() || !m_heard.empty())) {
            ++m_core.m_loss.events[int(WaveLossKind::Underrun)];
            m_core.m_loss.frames[int(WaveLossKind::Underrun)] += frames;
        }
    }
    void mark_lost() override { m_core.went_away(self()); }

    // Called with m_mutex held.
    void apply_volume(uint8_t* bytes, size_t size) {
        uint32_t left = m_volume & 0xFFFF;
        uint32_t right = m_volume >> 16;
        if (left == 0xFFFF && right == 0xFFFF)
            return;
        int channels = m_core.m_format.channels;
        if (m_core.m_format.bits_per_sample == 16) {
            for (size_t i = 0; i + 1 < size; i += 2) {
                int16_t sample;
                std::memcpy(&sample, bytes + i, 2);
                uint32_t gain = (channels == 2 && (i / 2) % 2 == 1) ? right : left;
                sample = int16_t(int32_t(sample) * int32_t(gain) / 65535);
                std::memcpy(bytes + i, &sample, 2);
            }
        } else {
            for (size_t i = 0; i < size; ++i) {
                uint32_t gain = (channels == 2 && i % 2 == 1) ? right : left;
                bytes[i] = uint8_t(128 + (int32_t(bytes[i]) - 128) * int32_t(gain) / 65535);
            }
        }
    }

    struct Heard {
        WaveHeader* header;
        uint64_t end; // m_total just after its last byte went out
    };
    // Header bytes that went out in one transfer, not heard yet.
    struct GoingOut {
        uint64_t end; // m_total just after the transfer
        size_t bytes;
    };

    // All under m_core.m_mutex.
    DeviceCore m_core;
    bool m_paused{false};
    bool m_played_any{false};  // since the last reset
    size_t m_starved_bytes{0}; // silence played since the last audio
    uint32_t m_volume{0xFFFFFFFFu};
    std::deque<Heard> m_heard;
    std::deque<GoingOut> m_going_out;
    uint64_t m_played{0}; // header bytes heard since the open or reset
    uint64_t m_total{0};  // bytes gone out, silence included
    uint64_t m_resets{0}; // resets so far
    size_t m_latency{0};  // bytes between going out and being heard
    std::unique_ptr<WaveStream> m_stream;
};

} // namespace

bool acceptable(const WaveFormat& format) {
    return format.format_tag == WAVE_FORMAT_PCM && format.channels >= 1 && format.channels <= 2 &&
           (format.bits_per_sample == 8 || format.bits_per_sample == 16) &&
           format.samples_per_sec >= 1000 && format.samples_per_sec <= 192000;
}

double audio_device_speed() {
    if (chosen_backend() != Backend::File)
        return 1.0;
    const char* text = std::getenv("QUILLORY_AUDIO_SPEED");
    const std::optional<double> speed = parse_number<double>(text ? text : "");
    if (!speed || !(*speed > 0.0 && *speed <= 1000.0))
        return 1.0;
    return *speed;
}

const char* wave_loss_name(WaveLossKind kind) {
    switch (kind) {
    case WaveLossKind::Overflow:
        return "overflow";
    case WaveLossKind::Discontinuity:
        return "discontinuity";
    case WaveLossKind::Underrun:
        return "underrun";
    case WaveLossKind::Gap:
        return "gap";
    }
    return "loss";
}

WaveResult WaveInDevice::open(std::unique_ptr<WaveInDevice>& device, uint32_t device_id,
                              const WaveFormat& format, WindowHandle window,
                              std::unique_ptr<CaptureMix> mix) {
    const bool call = device_id == WAVE_CALL_MAPPER;
    if (device_id != WAVE_MAPPER && device_id != 0 && !call)
        return MMSYSERR_BADDEVICEID;
    if (!acceptable(format))
        return WAVERR_BADFORMAT;
    auto opened = std::make_unique<WaveIn>(format, window);
    if (!opened->open(*make_backend(), call, std::move(mix)))
        return MMSYSERR_NODRIVER;
    device = std::move(opened);
    return MMSYSERR_NOERROR;
}

WaveResult WaveInDevice::prepare_header(WaveHeader* header) {
    return prepare(header);
}

WaveResult WaveInDevice::unprepare_header(WaveHeader* header) {
    return unprepare(header);
}

WaveResult WaveOutDevice::open(std::unique_ptr<WaveOutDevice>& device, uint32_t device_id,
                               const WaveFormat& format, WindowHandle window) {
    if (device_id != WAVE_MAPPER && device_id != 0)
        return MMSYSERR_BADDEVICEID;
    if (!acceptable(format))
        return WAVERR_BADFORMAT;
    auto opened = std::make_unique<WaveOut>(format, window);
    if (!opened->open(*make_backend()))
        return MMSYSERR_NODRIVER;
    device = std::move(opened);
    return MMSYSERR_NOERROR;
}

WaveResult WaveOutDevice::prepare_header(WaveHeader* header) {
    return prepare(header);
}

WaveResult WaveOutDevice::unprepare_header(WaveHeader* header) {
    return unprepare(header);
}

} // namespace platform
