#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

// Ends the process, failing the test, if it still runs after `seconds`: a hang fails.
class Watchdog {
public:
    explicit Watchdog(int seconds, std::string what = "test");
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_done_changed;
    bool m_done{false};
    std::thread m_thread;
};

} // namespace testing_support
