#pragma once

// Threads and the small synchronisation objects shared by the audio engine and the UI thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace foundation {

// Base of the audio engine's threads. Started, joined and destroyed by one owner thread;
// request_stop() may be called from any thread, run() polls stop_requested().
// Owners join() before destroying (the destructor joins as a last resort).
class Thread {
public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    [[nodiscard]] bool start();
    void join();
    [[nodiscard]] bool running() const;
    void request_stop() { m_stop_requested.store(true, std::memory_order_release); }
    [[nodiscard]] bool stop_requested() const {
        return m_stop_requested.load(std::memory_order_acquire);
    }
    // Level -2 (lowest) .. 2 (highest), clamped; returns whether the platform accepted it.
    bool set_priority(int level);
    int priority() const { return m_priority; }

protected:
    virtual void run() = 0;

private:
    std::thread m_thread;
    std::atomic<bool> m_stop_requested{false};
    std::atomic<bool> m_finished{true};
    int m_priority{0};
};

// Platform priority (5 lowest .. 1 highest) for a level -2 .. 2, clamped.
int platform_priority(int level);

// A recursive lock: the owning thread may enter again.
class CriticalSection {
public:
    void enter() { m_mutex.lock(); }
    void leave() { m_mutex.unlock(); }
    // For std::lock_guard / std::unique_lock.
    void lock() { enter(); }
    void unlock() { leave(); }
    [[nodiscard]] bool try_lock() { return m_mutex.try_lock(); }

private:
    std::recursive_mutex m_mutex;
};

class Event {
public:
    enum class Reset { Manual, Auto };
    explicit Event(Reset mode = Reset::Auto) : m_mode(mode) {}
    void set();
    void reset();
    void wait();
    // False when the time ran out first.
    [[nodiscard]] bool wait_for_ms(uint32_t milliseconds);

private:
    Reset m_mode;
    bool m_signalled{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

void sleep_seconds(double seconds);

int32_t interlocked_increment(std::atomic<int32_t>& counter);
int32_t interlocked_decrement(std::atomic<int32_t>& counter);

class Stopwatch {
public:
    Stopwatch() { restart(); }
    void restart();
    double elapsed() const;
    double lap();

private:
    double m_start_ms{0};
};

class TickCounter {
public:
    TickCounter() { start(); }
    void start();
    uint32_t lap();

private:
    uint32_t m_start{0};
};

} // namespace foundation
