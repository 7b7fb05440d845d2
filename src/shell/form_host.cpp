#include "shell/form_host.h"

#include "shell/inspector.h"
#include "skin/animations.h"
#include "skin/edit.h"
#include "skin/form.h"
#include "skin/vlist.h"

#include <algorithm>

namespace shell {

namespace {

bool subtree_animating(const skin::Component& component) {
    if (const skin::VisibilityAnimation* animation = component.visibility_animation();
        animation && animation->running())
        return true;
    if (component.in_motion())
        return true;
    for (const auto& child : component.children()) {
        if (subtree_animating(*child))
            return true;
    }
    return false;
}

} // namespace

void BackgroundForms::paint(platform::PixelBuffer& target) {
    for (int32_t y = 0; y < target.height; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(target.pixels) +
                                                ptrdiff_t(y) * target.pitch);
        std::fill(row, row + target.width, m_colour);
    }
    m_dirty = false;
}

StackForms::StackForms() {
    m_stack.set_observer(this);
}

StackForms::~StackForms() {
    m_stack.set_observer(nullptr);
}

void StackForms::form_shown(skin::Form& form, skin::ShowAs as) {
    std::erase_if(m_shown, [&](const auto& entry) { return entry.first == &form; });
    m_shown.emplace_back(&form, as == skin::ShowAs::Overlay);
    m_changed = true;
}

void StackForms::form_closed(skin::Form& form) {
    std::erase_if(m_shown, [&](const auto& entry) { return entry.first == &form; });
    m_changed = true;
}

bool StackForms::animating() const {
    if (m_stack.transition())
        return true;
    skin::Form* top = m_stack.top_form();
    if (!top)
        return m_stack.dim_level() != skin::FormStack::undimmed;
    const int32_t settled_dim =
        m_stack.top_is_overlay() ? skin::FormStack::overlay_dim : skin::FormStack::undimmed;
    return m_stack.dim_level() != settled_dim || subtree_animating(*top);
}

bool StackForms::needs_frame() const {
    return m_stack.is_repaint_needed() || animating();
}

bool StackForms::update(double seconds) {
    m_stack.tick(seconds);
    return m_stack.is_repaint_needed() || animating();
}

void StackForms::paint(platform::PixelBuffer& target) {
    if (target.width != m_stack.screen_width() || target.height != m_stack.screen_height()) {
        // A new window size: every form on the stack is laid out for it, not only the top.
        m_stack.set_screen_size(target.width, target.height);
        for (const auto& [form, overlay] : m_shown) {
            if (m_stack.contains(*form))
                form->place(0, 0, target.width, target.height);
        }
        // A window made shorter for an on-screen keyboard: the field being typed in is where
        // the keyboard must keep clear of now.
        skin::Edit::input_area_moved();
    }
    skin::RenderSurface surface(target.pixels, target.width, target.height, target.pitch);
    // A frame drawn because something changed counts as movement that settles.
    const bool changing = needs_frame();
    const int32_t dim_before = m_stack.dim_level();
    // The back buffer keeps the last frame: only what changed is drawn again.
    m_stack.draw(surface, true);
    // The stack darkens a frame at the level it had, then steps the level: when it stepped,
    // one more frame shows the level it reached (else the last step would never be seen).
    if (m_stack.dim_level() != dim_before)
        m_stack.request_repaint();
    const bool moving = needs_frame();
    const bool settled = (m_was_moving || changing) && !moving;
    m_was_moving = moving;
    if ((m_changed || settled) && m_settled) {
        m_changed = false;
        m_settled(*this);
    }
    m_changed = false;
}

void StackForms::set_client_origin(int32_t left, int32_t top) {
    m_client_left = left;
    m_client_top = top;
}

void StackForms::pen(const PenEvent& event) {
    skin::PenEvent pen;
    pen.x = event.cancelled ? event.x : event.x - m_client_left;
    pen.y = event.cancelled ? event.y : event.y - m_client_top;
    pen.time = event.time;
    pen.cancelled = event.cancelled;
    switch (event.kind) {
    case PenEvent::Kind::Move:
        m_stack.pen_move(pen);
        break;
    case PenEvent::Kind::Down:
        pen.pressed = true;
        m_stack.pen_button(pen);
        break;
    case PenEvent::Kind::Up:
        pen.pressed = false;
        m_stack.pen_button(pen);
        break;
    }
}

void StackForms::key(const KeyEvent& event) {
    m_stack.key(skin::KeyEvent{event.code, event.pressed});
}

void StackForms::text(char16_t character) {
    skin::Command command;
    command.text.assign(1, character);
    m_stack.command(command);
}

void StackForms::wheel(int32_t x, int32_t y, int32_t distance) {
    // A notch scrolls a list by 40 pixels, as a drag would; away from the user shows earlier
    // items.
    skin::Command command;
    command.code = skin::VList::command_wheel;
    command.x = x - m_client_left;
    command.y = y - m_client_top;
    command.amount = -distance * 40 / 120;
    m_stack.command(command);
}

void StackForms::invalidate_all() {
    m_stack.request_repaint();
    if (skin::Form* top = m_stack.top_form())
        top->invalidate_tree();
}

std::vector<std::pair<skin::Form*, bool>> StackForms::visible_forms() const {
    std::vector<std::pair<skin::Form*, bool>> result;
    // Forms destroyed while shown leave the stack without a word: keep only those still on it.
    std::vector<std::pair<skin::Form*, bool>> live;
    for (const auto& entry : m_shown) {
        if (m_stack.contains(*entry.first))
            live.push_back(entry);
    }
    for (size_t i = live.size(); i-- > 0;) {
        result.insert(result.begin(), live[i]);
        if (!live[i].second)
            break; // a normal form hides everything below it
    }
    return result;
}

std::string StackForms::inspect() const {
    std::vector<InspectedForm> forms;
    for (const auto& [form, overlay] : visible_forms())
        forms.push_back(InspectedForm{form, overlay});
    foundation::Rect client = foundation::Rect::of_size(
        m_client_left, m_client_top, m_stack.screen_width(), m_stack.screen_height());
    return inspect_json(forms, client, m_stack.transition() != nullptr);
}

} // namespace shell
