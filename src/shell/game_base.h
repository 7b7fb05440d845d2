#pragma once

// The main window, its message loop and its display modes. Windowed mode repaints on a 40 ms
// window timer; direct mode polls the queue and steps frames from the loop with 10 ms pauses.
// User-interface thread only.

#include "foundation/active_scheduler.h"
#include "foundation/rect.h"
#include "platform/display.h"
#include "platform/messages.h"
#include "platform/signals.h"
#include "shell/application_listener.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace shell {

class Application;

struct ScreenInfo {
    int32_t width{0};
    int32_t height{0};
    int32_t x{0};
    int32_t y{0};
    int32_t orientation{4}; // 4 until the display has told
    int32_t dots_per_inch{0};

    bool operator==(const ScreenInfo& other) const {
        return width == other.width && height == other.height && orientation == other.orientation &&
               dots_per_inch == other.dots_per_inch;
    }
};

// The client rectangle: the whole direct size in direct mode; in windowed mode (or while a text
// field is edited) the screen less a header and a bottom reserve worked out from the screen.
foundation::Rect client_rect_for(const ScreenInfo& screen, bool windowed_or_editing,
                                 bool show_task_bar, bool smartphone, int32_t direct_width,
                                 int32_t direct_height);

// Seconds between two frames: (now - last) / 1000, limited to 0.001 .. 0.1.
double frame_seconds(uint32_t now, uint32_t last);

// A text field being edited (the skin's edit widget).
class EditTarget {
public:
    virtual ~EditTarget() = default;
};

// Receives every message after the window's own handling (the contacts notifications).
class MessageObserver {
public:
    virtual ~MessageObserver() = default;
    virtual void on_message(uint32_t message, platform::WParam wparam, platform::LParam lparam) = 0;
};

class GameBase {
public:
    static constexpr uint32_t window_timer_id = 1;
    static constexpr uint32_t window_timer_ms = 40;
    static constexpr uint32_t command_line_message = platform::WM_USER + 34;
    static constexpr int32_t no_point = -1000000;

    // Makes the scheduler and the main window; opens the display when asked.
    GameBase(Application& application, const std::u16string& application_name, bool open_display,
             bool start_minimised = false);
    ~GameBase();
    GameBase(const GameBase&) = delete;
    GameBase& operator=(const GameBase&) = delete;

    // The message loop; returns when WM_QUIT arrives.
    int run();

    platform::WindowHandle window() const { return m_window; }
    foundation::CActiveScheduler& scheduler() { return *m_scheduler; }
    platform::Display* display() { return m_display.get(); }
    // Why the display did not open (empty when it did, or when none was asked for).
    const std::string& display_error() const { return m_display_error; }
    const std::u16string& class_name() const { return m_class_name; }
    const std::u16string& application_name() const { return m_application_name; }

    void set_direct_mode(int32_t orientation);
    void set_windowed_mode(bool show_task_bar);
    void set_game_input(bool on);
    void set_edit(EditTarget* widget, bool create_window);
    void set_idle_until_input() { m_idle_until_input = true; }
    foundation::Rect get_client_rect() const { return m_client; }
    void minimise();
    void bring_to_front();
    void set_message_observer(MessageObserver* observer) { m_observer = observer; }

    bool windowed() const { return m_windowed; }
    bool in_background() const { return m_in_background; }
    // Minimised by the program (at the start or by minimise()) and not brought forward since,
    // by the program or by the user.
    bool minimised() const { return m_minimised; }
    bool idle_until_input() const { return m_idle_until_input; }
    bool has_direct_display() const { return m_direct_display; }
    const ScreenInfo& screen_info() const { return m_screen; }
    // Asks the display for the current screen.
    ScreenInfo take_screen_info() const;

    // One step of direct mode: update by the elapsed time, paint and present if asked.
    void frame_step();
    // Paints the client area at the next turn of the loop.
    void invalidate();

    platform::LResult window_procedure(platform::WindowHandle window, uint32_t message,
                                       platform::WParam wparam, platform::LParam lparam);

private:
    bool get(platform::Message& message);
    // dispatch_message with the developer timing trace's marks.
    void timed_dispatch(const platform::Message& message);
    void apply_window_placement();
    void resolution_changed();
    void paint();
    // Shows what the last paint changed, its rectangles offset by (left, top).
    void present(int32_t left, int32_t top);
    void pen(PenEvent::Kind kind, int32_t x, int32_t y, bool cancelled = false);
    void key_message(uint32_t message, platform::WParam wparam, platform::LParam lparam);
    void release_capture();
    void open_direct_display();

    Application& m_application;
    std::u16string m_class_name;
    std::u16string m_application_name;
    std::unique_ptr<foundation::CActiveScheduler> m_scheduler;
    std::unique_ptr<platform::Display> m_display;
    // Lets the loop sleep with no timer due: a request to end still wakes it.
    std::unique_ptr<platform::TerminationWake> m_termination_wake;
    std::string m_display_error;
    platform::WindowHandle m_window{0};

    bool m_in_background{false};
    bool m_minimised{false};
    bool m_idle_until_input{false};
    int32_t m_last_up_x{no_point};
    int32_t m_last_up_y{no_point};
    bool m_captured{false};
    EditTarget* m_edit{nullptr};
    bool m_sip_preference{false};
    uint32_t m_last_frame_tick{0};
    bool m_direct_display{false};
    bool m_windowed{true};
    bool m_show_task_bar{true};
    bool m_game_input{true};
    int32_t m_direct_width{0};
    int32_t m_direct_height{0};
    int32_t m_orientation{0};
    std::deque<std::u16string> m_command_lines;
    ScreenInfo m_screen;
    foundation::Rect m_client;
    MessageObserver* m_observer{nullptr};
    uint32_t m_last_message_time{0};
    bool m_paint_pending{false};
};

} // namespace shell
