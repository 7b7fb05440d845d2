#include "platform/messages.h"

#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

struct Queue;

// A message sent from another thread, waiting for its owner to dispatch it.
struct SentCall {
    Message message;
    std::shared_ptr<Queue> sender;
    LResult result{0};
    bool done{false};
};

struct TimerEntry {
    WindowHandle window{0};
    uint32_t id{0};
    uint32_t interval{0};
    uint32_t due{0};
};

struct Queue {
    std::thread::id owner{std::this_thread::get_id()};
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t generation{0}; // moves on every arrival, so waiters never miss one
    std::deque<Message> posted;
    std::deque<std::shared_ptr<SentCall>> sent;
    std::vector<TimerEntry> timers;
    bool quit{false};
    int quit_code{0};
    bool closed{false};
    std::function<void()> wake_hook;
};

struct Window {
    std::shared_ptr<WindowProc> procedure;
    std::shared_ptr<Queue> queue;
};

// Lock order: g_windows_mutex before any queue's mutex.
std::mutex g_windows_mutex;
std::unordered_map<WindowHandle, Window> g_windows;
WindowHandle g_next_handle = 1;

// Longest single wait while timers are pending on a test's fake clock, which does not move with
// real time: due times are looked at again now and then. On the real clock a thread sleeps until
// its next timer is due.
constexpr uint32_t timer_recheck_ms = 50;

void complete(SentCall& call, LResult result) {
    std::lock_guard lock(call.sender->mutex);
    call.result = result;
    call.done = true;
    ++call.sender->generation;
    call.sender->changed.notify_all();
}

struct QueueHolder {
    std::shared_ptr<Queue> queue = std::make_shared<Queue>();

    ~QueueHolder() {
        std::deque<std::shared_ptr<SentCall>> orphans;
        {
            std::lock_guard windows_lock(g_windows_mutex);
            std::erase_if(g_windows,
                          [this](const auto& entry) { return entry.second.queue == queue; });
            std::lock_guard lock(queue->mutex);
            queue->closed = true;
            orphans.swap(queue->sent);
            queue->posted.clear();
            queue->timers.clear();
            queue->wake_hook = nullptr;
        }
        for (auto& call : orphans)
            complete(*call, 0);
    }
};

thread_local QueueHolder t_queue;

Queue& own_queue() {
    return *t_queue.queue;
}

std::shared_ptr<WindowProc> procedure_of(WindowHandle window) {
    std::lock_guard lock(g_windows_mutex);
    auto found = g_windows.find(window);
    return found == g_windows.end() ? nullptr : found->second.procedure;
}

LResult call_procedure(const Message& message) {
    if (message.window == 0)
        return 0;
    auto procedure = procedure_of(message.window);
    if (!procedure)
        return 0;
    return (*procedure)(message.window, message.message, message.wparam, message.lparam);
}

bool matches(const Message& message, WindowHandle window, uint32_t first, uint32_t last) {
    if (window != 0 && message.window != window)
        return false;
    if (first == 0 && last == 0)
        return true;
    return message.message >= first && message.message <= last;
}

// Wakes the owner of `queue` after something arrived. Called without the queue's lock.
void wake(Queue& queue, const std::function<void()>& hook) {
    queue.changed.notify_all();
    if (hook && queue.owner != std::this_thread::get_id())
        hook();
}

// Looks for a message for the caller, with `lock` held on entry and exit. Sent calls are
// dispatched on the way (the lock is let go meanwhile), whatever the filter.
bool take(Queue& queue, std::unique_lock<std::mutex>& lock, Message& out, WindowHandle window,
          uint32_t first, uint32_t last, bool remove) {
    while (!queue.sent.empty()) {
        auto call = queue.sent.front();
        queue.sent.pop_front();
        lock.unlock();
        complete(*call, call_procedure(call->message));
        lock.lock();
    }
    auto found = std::find_if(queue.posted.begin(), queue.posted.end(),
                              [&](const Message& m) { return matches(m, window, first, last); });
    if (found != queue.posted.end()) {
        out = *found;
        if (remove)
            queue.posted.erase(found);
        return true;
    }
    if (queue.quit) {
        out = Message{0, WM_QUIT, WParam(queue.quit_code), 0, tick_count()};
        if (remove)
            queue.quit = false;
        return true;
    }
    if (!queue.timers.empty()) {
        uint32_t now = tick_count();
        for (auto& timer : queue.timers) {
            Message candidate{timer.window, WM_TIMER, timer.id, 0, now};
            if (int32_t(timer.due - now) > 0 || !matches(candidate, window, first, last))
                continue;
            out = candidate;
            if (remove)
                timer.due = now + timer.interval;
            return true;
        }
    }
    return false;
}

// Milliseconds to wait for the next event given the queue's timers (lock held); -1: no timer.
int64_t timer_wait_ms(const Queue& queue) {
    if (queue.timers.empty())
        return -1;
    uint32_t now = tick_count();
    int64_t nearest = fake_clock_in_use() ? int64_t(timer_recheck_ms) : INT32_MAX;
    for (const auto& timer : queue.timers)
        nearest = std::min<int64_t>(nearest, std::max<int32_t>(0, int32_t(timer.due - now)));
    return nearest;
}

void wait_for_change(Queue& queue, std::unique_lock<std::mutex>& lock, int64_t limit_ms) {
    uint64_t generation = queue.generation;
    auto changed = [&] { return queue.generation != generation; };
    if (limit_ms < 0)
        queue.changed.wait(lock, changed);
    else
        queue.changed.wait_for(lock, std::chrono::milliseconds(limit_ms), changed);
}

} // namespace

WindowHandle create_window(WindowProc procedure) {
    WindowHandle handle;
    {
        std::lock_guard lock(g_windows_mutex);
        do {
            handle = g_next_handle++;
        } while (handle == 0 || g_windows.count(handle));
        g_windows.emplace(
            handle, Window{std::make_shared<WindowProc>(std::move(procedure)), t_queue.queue});
    }
    call_procedure(Message{handle, WM_CREATE, 0, 0, tick_count()});
    return handle;
}

void destroy_window(WindowHandle window) {
    // A procedure that destroys its own window again from WM_DESTROY is not called twice.
    thread_local std::vector<WindowHandle> destroying;
    if (!is_window(window) ||
        std::find(destroying.begin(), destroying.end(), window) != destroying.end())
        return;
    destroying.push_back(window);
    call_procedure(Message{window, WM_DESTROY, 0, 0, tick_count()});
    std::erase(destroying, window);
    std::lock_guard windows_lock(g_windows_mutex);
    auto found = g_windows.find(window);
    if (found == g_windows.end())
        return;
    auto queue = found->second.queue;
    g_windows.erase(found);
    std::lock_guard lock(queue->mutex);
    std::erase_if(queue->posted, [window](const Message& m) { return m.window == window; });
    std::erase_if(queue->timers, [window](const TimerEntry& t) { return t.window == window; });
}

bool is_window(WindowHandle window) {
    std::lock_guard lock(g_windows_mutex);
    return g_windows.count(window) != 0;
}

bool post_message(WindowHandle window, uint32_t message, WParam wparam, LParam lparam) {
    std::shared_ptr<Queue> queue;
    std::function<void()> hook;
    {
        std::lock_guard windows_lock(g_windows_mutex);
        if (window == 0) {
            queue = t_queue.queue;
        } else {
            auto found = g_windows.find(window);
            if (found == g_windows.end())
                return false;
            queue = found->second.queue;
        }
        std::lock_guard lock(queue->mutex);
        if (queue->closed)
            return false;
        queue->posted.push_back(Message{window, message, wparam, lparam, tick_count()});
        ++queue->generation;
        hook = queue->wake_hook;
    }
    wake(*queue, hook);
    return true;
}

LResult send_message(WindowHandle window, uint32_t message, WParam wparam, LParam lparam) {
    std::shared_ptr<Queue> target;
    std::shared_ptr<WindowProc> procedure;
    {
        std::lock_guard lock(g_windows_mutex);
        auto found = g_windows.find(window);
        if (found == g_windows.end())
            return 0;
        target = found->second.queue;
        procedure = found->second.procedure;
    }
    if (target.get() == &own_queue())
        return (*procedure)(window, message, wparam, lparam);

    auto call = std::make_shared<SentCall>();
    call->message = Message{window, message, wparam, lparam, tick_count()};
    call->sender = t_queue.queue;
    std::function<void()> hook;
    {
        std::lock_guard lock(target->mutex);
        if (target->closed)
            return 0;
        target->sent.push_back(call);
        ++target->generation;
        hook = target->wake_hook;
    }
    wake(*target, hook);

    // While waiting, calls sent to this thread are still served, so two threads sending to each
    // other do not block for ever.
    Queue& queue = own_queue();
    std::unique_lock lock(queue.mutex);
    while (!call->done) {
        if (!queue.sent.empty()) {
            auto incoming = queue.sent.front();
            queue.sent.pop_front();
            lock.unlock();
            complete(*incoming, call_procedure(incoming->message));
            lock.lock();
            continue;
        }
        wait_for_change(queue, lock, -1);
    }
    return call->result;
}

bool get_message(Message& out, WindowHandle window, uint32_t first, uint32_t last) {
    Queue& queue = own_queue();
    std::unique_lock lock(queue.mutex);
    for (;;) {
        if (take(queue, lock, out, window, first, last, true))
            return out.message != WM_QUIT;
        wait_for_change(queue, lock, timer_wait_ms(queue));
    }
}

bool peek_message(Message& out, WindowHandle window, uint32_t first, uint32_t last, bool remove) {
    Queue& queue = own_queue();
    std::unique_lock lock(queue.mutex);
    return take(queue, lock, out, window, first, last, remove);
}

LResult dispatch_message(const Message& message) {
    return call_procedure(message);
}

void post_quit_message(int exit_code) {
    Queue& queue = own_queue();
    {
        std::lock_guard lock(queue.mutex);
        queue.quit = true;
        queue.quit_code = exit_code;
        ++queue.generation;
    }
    queue.changed.notify_all();
}

void wait_message(uint32_t timeout_ms) {
    Queue& queue = own_queue();
    std::unique_lock lock(queue.mutex);
    if (!queue.posted.empty() || !queue.sent.empty() || queue.quit)
        return;
    int64_t limit = timer_wait_ms(queue);
    if (limit == 0)
        return;
    wait_for_change(queue, lock,
                    limit < 0 ? int64_t(timeout_ms) : std::min<int64_t>(limit, timeout_ms));
}

int32_t next_timer_ms() {
    Queue& queue = own_queue();
    std::lock_guard lock(queue.mutex);
    if (queue.timers.empty())
        return -1;
    uint32_t now = tick_count();
    int32_t nearest = INT32_MAX;
    for (const auto& timer : queue.timers)
        nearest = std::min(nearest, std::max<int32_t>(0, int32_t(timer.due - now)));
    return nearest;
}

bool set_timer(WindowHandle window, uint32_t id, uint32_t milliseconds) {
    std::lock_guard windows_lock(g_windows_mutex);
    auto found = g_windows.find(window);
    if (found == g_windows.end())
        return false;
    Queue& queue = *found->second.queue;
    uint32_t interval = std::max<uint32_t>(1, milliseconds);
    {
        std::lock_guard lock(queue.mutex);
        uint32_t due = tick_count() + interval;
        auto existing =
            std::find_if(queue.timers.begin(), queue.timers.end(),
                         [&](const TimerEntry& t) { return t.window == window && t.id == id; });
        if (existing != queue.timers.end()) {
            existing->interval = interval;
            existing->due = due;
        } else {
            queue.timers.push_back(TimerEntry{window, id, interval, due});
        }
        ++queue.generation;
    }
    queue.changed.notify_all();
    return true;
}

bool kill_timer(WindowHandle window, uint32_t id) {
    std::lock_guard windows_lock(g_windows_mutex);
    auto found = g_windows.find(window);
    if (found == g_windows.end())
        return false;
    Queue& queue = *found->second.queue;
    std::lock_guard lock(queue.mutex);
    return std::erase_if(queue.timers, [&](const TimerEntry& t) {
               return t.window == window && t.id == id;
           }) != 0;
}

void set_queue_wake_hook(std::function<void()> hook) {
    Queue& queue = own_queue();
    std::lock_guard lock(queue.mutex);
    queue.wake_hook = std::move(hook);
}

} // namespace platform
