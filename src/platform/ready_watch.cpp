#include "platform/ready_watch.h"

#include "platform/messages.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {
constexpr uint32_t ready_message = WM_USER + 0x60;
} // namespace

struct ReadyWatch::State {
    int descriptor{-1};
    int stop_event{-1}; // ends the thread's wait on the descriptor
    std::function<void()> handler;
    WindowHandle window{0};
    std::mutex mutex;
    std::condition_variable changed;
    bool stop{false};
    bool waiting{true}; // false while the loop has a readiness to handle
    std::thread thread;

    void run() {
        pollfd sources[2] = {{descriptor, POLLIN, 0}, {stop_event, POLLIN, 0}};
        for (;;) {
            sources[0].revents = sources[1].revents = 0;
            if (::poll(sources, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            std::unique_lock lock(mutex);
            if (stop)
                return;
            if (!(sources[0].revents & (POLLIN | POLLERR | POLLHUP)))
                continue;
            waiting = false;
            post_message(window, ready_message, 0, 0);
            changed.wait(lock, [this] { return stop || waiting; });
            if (stop)
                return;
        }
    }

    void handle() {
        handler();
        {
            std::lock_guard lock(mutex);
            waiting = true;
        }
        changed.notify_all();
    }
};

std::unique_ptr<ReadyWatch> ReadyWatch::create(int descriptor, std::function<void()> handler) {
    auto state = std::make_unique<State>();
    state->descriptor = descriptor;
    state->handler = std::move(handler);
    state->stop_event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->stop_event < 0)
        return nullptr;
    State* raw = state.get();
    state->window = create_window([raw](WindowHandle, uint32_t message, WParam, LParam) {
        if (message == ready_message)
            raw->handle();
        return LResult(0);
    });
    try {
        state->thread = std::thread([raw] { raw->run(); });
    } catch (const std::system_error&) {
        destroy_window(state->window);
        ::close(state->stop_event);
        return nullptr;
    }
    return std::unique_ptr<ReadyWatch>(new ReadyWatch(std::move(state)));
}

ReadyWatch::ReadyWatch(std::unique_ptr<State> state) : m_state(std::move(state)) {}

ReadyWatch::~ReadyWatch() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stop = true;
    }
    m_state->changed.notify_all();
    const uint64_t one = 1;
    while (::write(m_state->stop_event, &one, sizeof one) < 0 && errno == EINTR) {
    }
    m_state->thread.join();
    destroy_window(m_state->window); // a readiness still queued goes with it
    ::close(m_state->stop_event);
}

} // namespace platform
