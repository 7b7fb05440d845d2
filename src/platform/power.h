#pragma once

// Keeping the machine awake while recording or playing. Where logind runs, a sleep and idle
// inhibitor is taken over the system bus; elsewhere these do nothing.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

// Asks for a blocking "sleep:idle" inhibitor and returns its descriptor (closing it lets the
// inhibitor go), or -1 when none is granted.
using InhibitorOpener = int (*)(const std::string& why);
// Tests put a fake logind here; nullptr restores the real one. Any thread.
void set_inhibitor_opener(InhibitorOpener opener);

// Holds a "sleep:idle" inhibitor for its lifetime. Waits for the bus: not for the
// user-interface thread.
class AwakeInhibitor {
public:
    explicit AwakeInhibitor(const std::string& why);
    ~AwakeInhibitor();
    AwakeInhibitor(const AwakeInhibitor&) = delete;
    AwakeInhibitor& operator=(const AwakeInhibitor&) = delete;

    // Whether logind granted the inhibitor.
    bool active() const { return m_fd >= 0; }

private:
    int m_fd{-1};
};

// The phone's idle-timer reset for a controller that checks periodically: keep_awake() takes
// an inhibitor when none is held, let_sleep() lets it go. Neither waits for the bus: a helper
// thread, started by the first keep_awake(), does the asking. Calls from one thread.
class AwakeKeeper {
public:
    explicit AwakeKeeper(std::string why);
    ~AwakeKeeper();
    AwakeKeeper(const AwakeKeeper&) = delete;
    AwakeKeeper& operator=(const AwakeKeeper&) = delete;

    void keep_awake();
    void let_sleep();
    // Whether an inhibitor is held at this moment (taking one may still be under way).
    bool holding() const;

private:
    void run();

    const std::string m_why;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_wanted{false};
    bool m_held{false};
    bool m_stop{false};
    std::thread m_thread;
};

} // namespace platform
