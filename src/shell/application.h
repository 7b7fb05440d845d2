#pragma once

// The user-interface root: owns the main window (GameBase, with the scheduler), the delegate
// pointer and the form stack, and hands input, frames and painting to the form stack.
// One per process. User-interface thread only.

#include "foundation/active_scheduler.h"
#include "shell/application_listener.h"
#include "shell/form_host.h"
#include "shell/game_base.h"

#include <memory>
#include <string>

namespace shell {

class Application {
public:
    struct Options {
        bool open_display{true};     // false: a window without a screen (tests)
        bool start_minimised{false}; // the window starts minimised, never coming forward
    };

    // A second Application is fatal.
    Application(const std::u16string& application_name, Options options);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The process's Application, or null.
    static Application* instance();
    // The scheduler of the process's Application (null without one).
    static foundation::CActiveScheduler* active_scheduler();

    int run() { return m_game->run(); }
    GameBase& game() { return *m_game; }
    foundation::CActiveScheduler& scheduler() { return m_game->scheduler(); }
    const std::u16string& application_name() const { return m_application_name; }

    ApplicationListener* delegate() const { return m_delegate; }
    void set_delegate(ApplicationListener* delegate) { m_delegate = delegate; }

    // What paints the window: the skin engine's form stack unless replaced.
    FormHost& forms() { return *m_forms; }
    void set_forms(std::unique_ptr<FormHost> forms);
    // The form stack (null once set_forms replaced it).
    StackForms* stack_forms() { return m_stack_forms; }
    skin::FormStack& form_stack();
    // Whether a frame is wanted now (a repaint is pending or something animates).
    bool needs_frame() const { return m_redraw_all || m_forms->needs_frame(); }
    void set_client_origin(int32_t left, int32_t top);

    void set_redraw_all() { m_redraw_all = true; }
    bool redraw_all() const { return m_redraw_all; }
    void invalidate_all() { m_forms->invalidate_all(); }

    // Advances the form stack; true when something is to be painted.
    bool update(double seconds);
    void paint(platform::PixelBuffer& target);
    void pen(const PenEvent& event) { m_forms->pen(event); }
    void key(const KeyEvent& event) { m_forms->key(event); }
    void text(char16_t character) { m_forms->text(character); }
    void wheel(int32_t x, int32_t y, int32_t distance) { m_forms->wheel(x, y, distance); }

private:
    std::u16string m_application_name;
    ApplicationListener* m_delegate{nullptr};
    void stack_settled(StackForms& forms);

    std::unique_ptr<FormHost> m_forms;
    StackForms* m_stack_forms{nullptr};
    std::string m_inspect_path;
    std::string m_screenshot_path;
    bool m_redraw_all{false};
    std::unique_ptr<GameBase> m_game;
};

} // namespace shell
