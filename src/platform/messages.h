#pragma once

// Message queues and windows, as the program's design expects them from the phone's system:
// a queue per thread, made on first use; windows owned by the thread that created them, each
// with a window procedure; post from any thread, send (same thread: a direct call; another
// thread: waits for the result), get with window and message-range filters, peek, quit; window
// timers kept by the owning thread's queue and delivered as WM_TIMER.
// Message numbers keep the values the program relies on (WM_USER + 5 is 0x405).

#include <cstdint>
#include <functional>

namespace platform {

using WindowHandle = uint32_t; // 0: no window
using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

enum : uint32_t {
    WM_NULL = 0x0000,
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_SETFOCUS = 0x0007,
    WM_KILLFOCUS = 0x0008,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    // The system ends the program (SIGTERM, log-out): wparam 1. Not refused like WM_CLOSE.
    WM_ENDSESSION = 0x0016,
    WM_SETTINGCHANGE = 0x001A,
    WM_CANCELMODE = 0x001F,
    WM_COPYDATA = 0x004A,
    WM_HELP = 0x0053,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    EM_SETSEL = 0x00B1,
    WM_COMMAND = 0x0111,
    WM_TIMER = 0x0113,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_MOUSEWHEEL = 0x020A,
    WM_CAPTURECHANGED = 0x0215,
    WM_PASTE = 0x0302,
    WM_HOTKEY = 0x0312,
    WM_HIBERNATE = 0x03FF,
    MM_WOM_OPEN = 0x03BB,
    MM_WOM_CLOSE = 0x03BC,
    MM_WOM_DONE = 0x03BD,
    MM_WIM_OPEN = 0x03BE,
    MM_WIM_CLOSE = 0x03BF,
    MM_WIM_DATA = 0x03C0,
    WM_USER = 0x0400,
};

// WM_ACTIVATE's low word.
enum : uint32_t { WA_INACTIVE = 0, WA_ACTIVE = 1, WA_CLICKACTIVE = 2 };

struct Message {
    WindowHandle window{0};
    uint32_t message{0};
    WParam wparam{0};
    LParam lparam{0};
    uint32_t time{0};
};

using WindowProc = std::function<LResult(WindowHandle, uint32_t, WParam, LParam)>;

// A window owned by the calling thread; its messages are taken from that thread's queue.
// The procedure receives WM_CREATE before this returns.
WindowHandle create_window(WindowProc procedure);
// Removes the window, its timers and its queued messages. Same thread as the creator.
// The procedure receives WM_DESTROY first. A thread's windows go when the thread ends.
void destroy_window(WindowHandle window);
bool is_window(WindowHandle window);

// Any thread. False when the window does not exist. Window 0 posts a thread message to the
// calling thread's own queue.
bool post_message(WindowHandle window, uint32_t message, WParam wparam, LParam lparam);
// Same thread as the window: calls its procedure at once. Another thread: queues the call and
// waits until the owning thread has dispatched it (while it gets or peeks messages).
LResult send_message(WindowHandle window, uint32_t message, WParam wparam, LParam lparam);

// The calling thread's queue. window 0 takes messages of any window (and thread messages);
// a range of 0..0 takes every message. WM_QUIT passes every filter. Timers due are delivered
// as WM_TIMER (wparam the timer id) when nothing else matches. Returns false on WM_QUIT.
bool get_message(Message& out, WindowHandle window = 0, uint32_t first = 0, uint32_t last = 0);
// As get_message without waiting; false when nothing matches.
bool peek_message(Message& out, WindowHandle window = 0, uint32_t first = 0, uint32_t last = 0,
                  bool remove = true);
LResult dispatch_message(const Message& message);
// Queues WM_QUIT (wparam the exit code) on the calling thread's queue.
void post_quit_message(int exit_code);
// Waits until a message is queued or a timer falls due, at most the given milliseconds.
void wait_message(uint32_t timeout_ms);
// Milliseconds until the calling thread's nearest window timer falls due (0 when one is due),
// or -1 when it has none: for loops that wait on another event source.
int32_t next_timer_ms();

// Window timers: one per window and id; setting an existing one re-aims it.
bool set_timer(WindowHandle window, uint32_t id, uint32_t milliseconds);
bool kill_timer(WindowHandle window, uint32_t id);

// The thread's queue can be woken by another event source (the display's event loop):
// the hook is called from any thread after a post to this thread's queue.
void set_queue_wake_hook(std::function<void()> hook);

} // namespace platform
