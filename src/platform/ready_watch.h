#pragma once

// Runs a handler from the message loop of the thread that made the watch whenever a descriptor
// has something to read: a thread of its own waits on the descriptor, so that the loop itself
// sleeps until then instead of looking now and again. The handler runs once per readiness and
// must read what is there; the descriptor is waited on again after it returns.

#include <functional>
#include <memory>

namespace platform {

class ReadyWatch {
public:
    // Null when no thread can be had. The descriptor stays the caller's; it must outlive the
    // watch.
    static std::unique_ptr<ReadyWatch> create(int descriptor, std::function<void()> handler);
    // No handler runs once this returns. Same thread as create().
    ~ReadyWatch();
    ReadyWatch(const ReadyWatch&) = delete;
    ReadyWatch& operator=(const ReadyWatch&) = delete;

private:
    struct State;
    explicit ReadyWatch(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace platform
