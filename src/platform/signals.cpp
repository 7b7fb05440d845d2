#include "platform/signals.h"

#include <csignal>

namespace platform {

namespace {
void on_hangup(int) {
    // raise() may be called from a handler; the TERM handler in place then runs.
    std::raise(SIGTERM);
}
} // namespace

void treat_hangup_as_termination() {
    struct sigaction action {};
    action.sa_handler = on_hangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace platform
