#pragma once

// Starting other programs. Every program this one starts goes through here: the words reach it
// whole (never through a shell), it finds its program on PATH, and its standard streams are on
// /dev/null unless its output is read. All functions may be called from any thread.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The end of a program started by spawn_watched, filled in by its waiter thread; read from any
// thread.
class ChildExit {
public:
    bool finished() const { return m_finished.load(std::memory_order_acquire); }
    // The exit status once finished; -1 when a signal ended it.
    int status() const { return m_status.load(std::memory_order_relaxed); }
    void set(int status) {
        m_status.store(status, std::memory_order_relaxed);
        m_finished.store(true, std::memory_order_release);
    }

private:
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_status{-1};
};

// Starts a program with arguments, detached: in a session of its own, never waited for by the
// caller and never left as a zombie. False when it cannot be found or started.
[[nodiscard]] bool spawn_detached(const std::vector<std::string>& argv);
// As spawn_detached, and tells how the program ended. None when it cannot be started.
[[nodiscard]] std::shared_ptr<const ChildExit> spawn_watched(const std::vector<std::string>& argv);

// Runs a program and returns the first line it prints on its standard output (without the
// line end), waiting at most `deadline` for it; the program is then ended (SIGTERM) and waited
// for. Empty when it cannot be started, prints nothing in time or fails.
std::string first_output_line(const std::vector<std::string>& argv,
                              std::chrono::milliseconds deadline);

} // namespace platform
