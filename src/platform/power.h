#pragma once

// Keeping the machine awake while recording or playing. Where logind runs, a sleep and idle
// inhibitor is taken over the system bus; elsewhere these do nothing.

#include <string>

namespace platform {

// Holds a "sleep:idle" inhibitor for its lifetime. Any thread.
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

// The phone's idle-timer reset: keeps the machine awake for the next 30 seconds. Called
// periodically while recording or playing; cheap when the inhibitor is already held.
void system_idle_timer_reset();

} // namespace platform
