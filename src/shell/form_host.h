#pragma once

// Where the form stack plugs into the application window: the window hands it the elapsed
// time, input and the surface to paint, and asks whether anything still moves (when nothing
// does, the loop sleeps until input arrives).

#include "foundation/rect.h"
#include "platform/display.h"
#include "shell/application_listener.h"
#include "skin/form_stack.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace shell {

class FormHost {
public:
    virtual ~FormHost() = default;
    // Advances animations by `seconds`; true when something needs painting.
    virtual bool update(double seconds) = 0;
    // Paints the window's client area; `target` borrows the display's back buffer, which still
    // holds the last frame painted.
    virtual void paint(platform::PixelBuffer& target) = 0;
    // The rectangles of the client area the last paint changed (empty: none); null when it may
    // have changed everything.
    virtual const std::vector<foundation::Rect>* painted() const { return nullptr; }
    virtual void pen(const PenEvent& event) = 0;
    virtual void key(const KeyEvent& event) = 0;
    virtual void text(char16_t character) = 0;
    // A wheel turned at (x, y) in window pixels by distance (120 a notch, positive away from
    // the user).
    virtual void wheel(int32_t, int32_t, int32_t) {}
    virtual bool empty() const = 0;
    // Everything is to be painted at the next paint.
    virtual void invalidate_all() = 0;
    // Whether another frame is wanted now: a repaint is pending or something animates.
    virtual bool needs_frame() const = 0;
};

// An empty form stack: a plain background.
class BackgroundForms final : public FormHost {
public:
    explicit BackgroundForms(uint16_t colour = 0x0000) : m_colour(colour) {}
    bool update(double) override { return m_dirty; }
    void paint(platform::PixelBuffer& target) override;
    void pen(const PenEvent&) override {}
    void key(const KeyEvent&) override {}
    void text(char16_t) override {}
    bool empty() const override { return true; }
    void invalidate_all() override { m_dirty = true; }
    bool needs_frame() const override { return m_dirty; }

private:
    uint16_t m_colour;
    bool m_dirty{true};
};

// The skin engine's form stack. Pen points arrive in window pixels and reach the forms in form
// coordinates (the client area's origin taken off).
class StackForms final : public FormHost, private skin::StackObserver {
public:
    StackForms();
    ~StackForms() override;

    skin::FormStack& stack() { return m_stack; }

    bool update(double seconds) override;
    void paint(platform::PixelBuffer& target) override;
    const std::vector<foundation::Rect>* painted() const override { return &m_stack.drawn(); }
    void pen(const PenEvent& event) override;
    void key(const KeyEvent& event) override;
    void text(char16_t character) override;
    void wheel(int32_t x, int32_t y, int32_t distance) override;
    bool empty() const override { return m_stack.empty(); }
    void invalidate_all() override;
    bool needs_frame() const override;

    // Where the client area lies in the window (pen points and inspected rectangles).
    void set_client_origin(int32_t left, int32_t top);

    // Called after a paint that follows a change of the stack, or with which the stack came to
    // rest after moving (a transition ended, the dimming settled).
    using SettledHook = std::function<void(StackForms&)>;
    void set_settled_hook(SettledHook hook) { m_settled = std::move(hook); }

    // The visible forms, bottom to top: the top, and below an overlay whatever shows through.
    std::vector<std::pair<skin::Form*, bool>> visible_forms() const;
    // The inspector's JSON of the visible forms.
    std::string inspect() const;

private:
    void form_shown(skin::Form& form, skin::ShowAs as) override;
    void form_closed(skin::Form& form) override;
    bool animating() const;

    skin::FormStack m_stack;
    std::vector<std::pair<skin::Form*, bool>> m_shown; // as shown, bottom to top
    int32_t m_client_left{0};
    int32_t m_client_top{0};
    bool m_changed{true};
    bool m_was_moving{false};
    SettledHook m_settled;
};

} // namespace shell
