#include "foundation/threads.h"

#include "platform/clock.h"
#include "platform/thread_priority.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace foundation {

Thread::~Thread() {
    join();
}

bool Thread::start() {
    if (m_thread.joinable() && !m_finished.load(std::memory_order_acquire))
        return false;
    if (m_thread.joinable())
        m_thread.join();
    m_stop_requested.store(false, std::memory_order_release);
    m_finished.store(false, std::memory_order_release);
    try {
        m_thread = std::thread([this] {
            platform::set_current_thread_priority(platform_priority(m_priority));
            run();
            m_finished.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // The system could not make another thread (limits, memory): reported, not fatal.
        m_finished.store(true, std::memory_order_release);
        return false;
    }
    return true;
}

void Thread::join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

bool Thread::running() const {
    return m_thread.joinable() && !m_finished.load(std::memory_order_acquire);
}

int platform_priority(int level) {
    return 3 - std::clamp(level, -2, 2);
}

bool Thread::set_priority(int level) {
    m_priority = std::clamp(level, -2, 2);
    if (!running())
        return true; // applied when the thread starts
    return platform::set_thread_priority(m_thread.native_handle(), platform_priority(m_priority));
}

void Event::set() {
    std::lock_guard lock(m_mutex);
    m_signalled = true;
    if (m_mode == Reset::Auto)
        m_changed.notify_one();
    else
        m_changed.notify_all();
}

void Event::reset() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

void Event::wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_signalled; });
    if (m_mode == Reset::Auto)
        m_signalled = false;
}

bool Event::wait_for_ms(uint32_t milliseconds) {
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return m_signalled; }))
        return false;
    if (m_mode == Reset::Auto)
        m_signalled = false;
    return true;
}

void sleep_seconds(double seconds) {
    if (seconds <= 0)
        return;
    platform::sleep_ms(static_cast<uint32_t>(seconds * 1000.0));
}

int32_t interlocked_increment(std::atomic<int32_t>& counter) {
    return ++counter;
}
int32_t interlocked_decrement(std::atomic<int32_t>& counter) {
    return --counter;
}

void Stopwatch::restart() {
    m_start_ms = platform::tick_count();
}

double Stopwatch::elapsed() const {
    return (double(platform::tick_count()) - m_start_ms) * 0.001;
}

double Stopwatch::lap() {
    double seconds = elapsed();
    restart();
    return seconds;
}

void TickCounter::start() {
    m_start = platform::tick_count();
}

uint32_t TickCounter::lap() {
    uint32_t now = platform::tick_count();
    uint32_t elapsed = now - m_start;
    m_start = now;
    return elapsed;
}

} // namespace foundation
