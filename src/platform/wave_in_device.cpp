#include "platform/wave_in_device.h"

#include "platform/wave_backend.h"
#include "platform/wave_files.h"
#include "platform/wave_queue.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace platform {

namespace {

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

    WaveQueue m_core;
    bool m_started{false};                // under m_core.m_mutex
    std::unique_ptr<WaveFileSink> m_tap;  // written under m_core.m_mutex
    std::unique_ptr<WaveStream> m_stream; // the microphone
    std::atomic<WaveDownlink> m_downlink_state{WaveDownlink::None};
    CaptureMix* m_downlink_mix{nullptr};    // m_mix, also before it is in place
    std::unique_ptr<CaptureMix> m_mix;      // set under m_mutex before the downlink runs
    std::vector<uint8_t> m_mixed;           // under m_mutex
    std::unique_ptr<WaveStream> m_downlink; // the second capture device, after m_mix
};

} // namespace

WaveResult WaveInDevice::open(std::unique_ptr<WaveInDevice>& device, uint32_t device_id,
                              const WaveFormat& format, WindowHandle window,
                              std::unique_ptr<CaptureMix> mix) {
    const bool call = device_id == WAVE_CALL_MAPPER;
    if (device_id != WAVE_MAPPER && device_id != 0 && !call)
        return MMSYSERR_BADDEVICEID;
    if (!acceptable(format))
        return WAVERR_BADFORMAT;
    auto opened = std::make_unique<WaveIn>(format, window);
    if (!opened->open(*chosen_wave_backend(), call, std::move(mix)))
        return MMSYSERR_NODRIVER;
    device = std::move(opened);
    return MMSYSERR_NOERROR;
}

WaveResult WaveInDevice::prepare_header(WaveHeader* header) {
    return prepare_wave_header(header);
}

WaveResult WaveInDevice::unprepare_header(WaveHeader* header) {
    return unprepare_wave_header(header);
}

} // namespace platform
