#pragma once

// The forms on screen, top last. Normal forms replace the one below (with a transition when the
// form has a visibility animation); overlays (menus, dialogs) are drawn over a dimmed snapshot
// of what lies behind them. The application window advances the stack by the elapsed time,
// feeds it input and has it draw into the display's back buffer when it asks for a repaint.
// User-interface thread only.

#include "skin/animations.h"
#include "skin/input_events.h"
#include "skin/skin_color.h"
#include "skin/surface.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace skin {

class Form;

enum class ShowAs { Normal, Overlay };

// Told when forms are shown or closed.
class StackObserver {
public:
    virtual void form_shown(Form& form, ShowAs as) = 0;
    virtual void form_closed(Form& form) = 0;

protected:
    ~StackObserver() = default;
};

class FormStack {
public:
    // The dim level with no darkening, and the one an overlay darkens the screen behind it to.
    static constexpr int32_t undimmed = 256;
    static constexpr int32_t overlay_dim = 128;

    FormStack();
    ~FormStack();
    FormStack(const FormStack&) = delete;
    FormStack& operator=(const FormStack&) = delete;

    // The size every top form is placed at; the draw target's size takes over when it differs.
    void set_screen_size(int32_t width, int32_t height);
    int32_t screen_width() const { return m_width; }
    int32_t screen_height() const { return m_height; }

    // Shows form on top: at once, through a transition from the screen as it was, or (for an
    // overlay) over a dimmed snapshot. Showing a form that is still animating out plays its
    // transition back. A form stands on the stack once: showing the top form does nothing, and
    // a form from lower down moves to the top.
    void show_form(Form& form, ShowAs as = ShowAs::Normal);
    // False when the form is not on the stack.
    bool close_form(Form& form);
    // Drops the form without drawing anything of it (a form destroyed while on the stack).
    void forget(Form& form);

    Form* top_form() const;
    bool top_is_overlay() const;
    bool contains(const Form& form) const;
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }

    // True when the top form changed or was moved, or a repaint was requested.
    bool is_repaint_needed() const;
    void request_repaint() { m_repaint_requested = true; }

    // Advances the transition, or (when none runs) the top form.
    void tick(double seconds);
    // Input for the top form; with an empty stack, pen button, key and command report the input
    // as consumed.
    void pen_move(const PenEvent& event);
    bool pen_button(const PenEvent& event);
    bool key(const KeyEvent& event);
    bool command(const Command& command);

    // Draws the stack into target (the display's back buffer) and clears the repaint request.
    // When the caller says the target still holds the frame drawn last, only what changed is
    // drawn again: the top form's damaged rectangles, nothing when none; everything after a
    // change of the stack or its size, a request, a transition or a step of the dimming.
    void draw(RenderSurface& target, bool target_kept = false);
    // The rectangles the last draw() changed (empty when it changed nothing).
    const std::vector<Rect>& drawn() const { return m_drawn; }

    // The colour behind everything (black by default).
    void set_background(SkinColor color) { m_background = color; }
    SkinColor background() const { return m_background; }
    void set_observer(StackObserver* observer) { m_observer = observer; }

    // A diagnostic box in the top-left corner with the average time between the last 20 frames.
    void set_frame_counter(bool on) { m_frame_counter = on; }
    bool frame_counter() const { return m_frame_counter; }

    // 256 undimmed, down to 128 behind an overlay; moves 16 per frame.
    int32_t dim_level() const { return m_dim_level; }
    // The running transition and the form it belongs to, or none.
    const VisibilityAnimation* transition() const { return m_transition.get(); }
    Form* transition_form() const { return m_transition ? m_transition_form : nullptr; }
    // What lies behind an overlay, or the start of the first form's transition (empty when
    // nothing needs it).
    RenderSurface& screen_surface() { return m_screen; }

private:
    struct Entry {
        Form* form;
        ShowAs as;
    };

    void place(Form& form);
    void cancel_transition();
    // Draws form at full screen over its outside colour into out (resized to the screen),
    // whether it is shown or not.
    void render_form(Form& form, RenderSurface& out);
    // Gives the screen surface the screen's size, keeping its pixels when it has it already.
    bool prepare_screen();
    // The transition's picture behind: the screen surface, or the background.
    void fill_back_from_screen(VisibilityAnimation& transition);
    void fill(RenderSurface& target, SkinColor color);
    void draw_area(RenderSurface& target, Form* top);
    void draw_frame_counter(RenderSurface& target, bool repaint_was_needed);

    std::vector<Entry> m_entries;
    std::unique_ptr<VisibilityAnimation> m_transition;
    Form* m_transition_form{nullptr};
    RenderSurface m_screen;
    bool m_repaint_requested{true};
    std::vector<Rect> m_drawn;
    int32_t m_drawn_dim{undimmed}; // the dim level the last picture shows
    StackObserver* m_observer{nullptr};
    SkinColor m_background;
    int32_t m_width{0};
    int32_t m_height{0};
    int32_t m_dim_level{undimmed};
    bool m_frame_counter{false};
    std::array<double, 20> m_frame_times{};
    size_t m_frame_count{0};
    std::optional<std::chrono::steady_clock::time_point> m_last_frame;
};

} // namespace skin
