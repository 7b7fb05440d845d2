#include "platform/wave_out_device.h"

#include "platform/wave_backend.h"
#include "platform/wave_queue.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

namespace platform {

namespace {

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
    WaveQueue m_core;
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

WaveResult WaveOutDevice::open(std::unique_ptr<WaveOutDevice>& device, uint32_t device_id,
                               const WaveFormat& format, WindowHandle window) {
    if (device_id != WAVE_MAPPER && device_id != 0)
        return MMSYSERR_BADDEVICEID;
    if (!acceptable(format))
        return WAVERR_BADFORMAT;
    auto opened = std::make_unique<WaveOut>(format, window);
    if (!opened->open(*chosen_wave_backend()))
        return MMSYSERR_NODRIVER;
    device = std::move(opened);
    return MMSYSERR_NOERROR;
}

WaveResult WaveOutDevice::prepare_header(WaveHeader* header) {
    return prepare_wave_header(header);
}

WaveResult WaveOutDevice::unprepare_header(WaveHeader* header) {
    return unprepare_wave_header(header);
}

} // namespace platform
