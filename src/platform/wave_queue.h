#pragma once

// What a device of either direction keeps: the queue of headers with the position in the front
// one, the window its messages go to, whether it was lost and what it lost. `m_mutex` guards it
// all; the devices add their own state under the same lock.

#include "platform/messages.h"
#include "platform/wave_device.h"

#include <atomic>
#include <deque>
#include <mutex>

namespace platform {

WaveResult prepare_wave_header(WaveHeader* header);
// Refused with WAVERR_STILLPLAYING while the header is queued.
WaveResult unprepare_wave_header(WaveHeader* header);

class WaveQueue {
public:
    WaveQueue(const WaveFormat& format, WindowHandle window, uint32_t wake_message)
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

} // namespace platform
