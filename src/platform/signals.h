#pragma once

// How the program meets the system's requests to end.

#include <memory>

namespace platform {

// From now on a hang-up (the terminal closed, the session ended) is handled as a request to
// terminate: whatever handles SIGTERM at that moment handles it, so a recording is completed
// and the exit status is the one a TERM gives.
void treat_hangup_as_termination();

class ReadyWatch;

// While it lives, SIGTERM and SIGINT wake the message loop of the thread that made it, after the
// handlers in place when it was made have run (the display's, which turn them into a message
// the loop finds once it looks). A loop that sleeps until input would otherwise see a request
// to end only at its next timer, or never. One at a time.
class TerminationWake {
public:
    // Null when no waiting thread can be had.
    static std::unique_ptr<TerminationWake> create();
    // Puts the earlier handlers back.
    ~TerminationWake();
    TerminationWake(const TerminationWake&) = delete;
    TerminationWake& operator=(const TerminationWake&) = delete;

private:
    TerminationWake() = default;
    std::unique_ptr<ReadyWatch> m_ready;
};

} // namespace platform
