#pragma once

// The phone's speaker during a call, switched through callaudiod (org.mobian_project.CallAudio
// on the session bus) where it runs. Requests never wait for the bus: a helper thread, started
// by the first request, carries them out one at a time, the newest replacing one not yet sent.
// Without a session bus or without callaudiod the request is dropped, and that is said once.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class CallAudio {
public:
    enum class Outcome {
        None,        // nothing carried out yet
        Switched,    // callaudiod switched the speaker
        Refused,     // callaudiod answered that it could not
        Unavailable, // no session bus, no callaudiod, or no answer
    };

    CallAudio();
    ~CallAudio();
    CallAudio(const CallAudio&) = delete;
    CallAudio& operator=(const CallAudio&) = delete;

    // Speaker on or off; returns at once.
    void set_speaker(bool on);
    // What became of the last request carried out, and how many were carried out.
    Outcome last_outcome() const;
    unsigned completed() const;
    // Whether a request waits or is being carried out.
    bool pending() const;
    // Lines worth a log entry, taken once each (each condition is told once until it clears).
    std::vector<std::string> take_notices();

private:
    struct Bus;
    void run();
    void notice(const std::string& key, const std::string& text);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<bool> m_wanted; // a request not yet sent
    bool m_sending{false};
    bool m_stop{false};
    Outcome m_outcome{Outcome::None};
    unsigned m_completed{0};
    std::vector<std::string> m_notices;
    std::vector<std::string> m_told; // keys of conditions already told
    std::unique_ptr<Bus> m_bus;      // used by the helper thread only
    std::thread m_thread;
};

} // namespace platform
