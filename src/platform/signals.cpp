#include "platform/signals.h"

#include "platform/ready_watch.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {
void on_hangup(int) {
    // raise() may be called from a handler; the TERM handler in place then runs.
    std::raise(SIGTERM);
}

constexpr int wake_signals[] = {SIGTERM, SIGINT};
int g_wake_event = -1;
struct sigaction g_previous[2];

void install_waking(int signal_number);

void on_termination(int signal_number) {
    const int saved_errno = errno;
    const int slot = signal_number == SIGTERM ? 0 : 1;
    const struct sigaction& previous = g_previous[slot];
    if (previous.sa_handler == SIG_DFL) {
        // Nothing took the signal over: it ends the process as it would have.
        ::signal(signal_number, SIG_DFL);
        ::raise(signal_number);
    } else if (previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal_number);
        // The earlier handler may have put itself back in place of this one.
        install_waking(signal_number);
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_wake_event, &one, sizeof one);
    errno = saved_errno;
}

void install_waking(int signal_number) {
    struct sigaction action {};
    action.sa_handler = on_termination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal_number, &action, nullptr);
}
} // namespace

void treat_hangup_as_termination() {
    struct sigaction action {};
    action.sa_handler = on_hangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, nullptr);
}

std::unique_ptr<TerminationWake> TerminationWake::create() {
    if (g_wake_event >= 0)
        return nullptr;
    const int event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (event < 0)
        return nullptr;
    std::unique_ptr<TerminationWake> wake(new TerminationWake);
    // The posted wake-up is all the loop needs; the count is only taken away.
    wake->m_ready = ReadyWatch::create(event, [event] {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(event, &count, sizeof count);
    });
    if (!wake->m_ready) {
        ::close(event);
        return nullptr;
    }
    g_wake_event = event;
    for (size_t i = 0; i < 2; ++i) {
        ::sigaction(wake_signals[i], nullptr, &g_previous[i]);
        if (g_previous[i].sa_flags & SA_SIGINFO)
            continue; // a handler that wants more than the number is left alone
        install_waking(wake_signals[i]);
    }
    return wake;
}

TerminationWake::~TerminationWake() {
    for (size_t i = 0; i < 2; ++i)
        if (!(g_previous[i].sa_flags & SA_SIGINFO))
            ::sigaction(wake_signals[i], &g_previous[i], nullptr);
    m_ready.reset();
    ::close(g_wake_event);
    g_wake_event = -1;
}

} // namespace platform
