#include "skin/form.h"

#include "skin/exceptions.h"
#include "skin/form_stack.h"

#include <algorithm>
#include <utility>

namespace skin {

Form::Form(Properties& properties) : Component(nullptr), ReloadListener(properties) {
    set_form(this);
}

Form::~Form() {
    if (m_stack)
        m_stack->forget(*this);
    // The children leave the handler lists while those still exist.
    clear_children();
}

bool Form::load_form(Properties& properties, std::u16string_view node_name) {
    NodeDir dir = properties.find_named_node(node_name);
    if (!dir.valid())
        return false;
    m_node_name = std::u16string(node_name);
    clear_children();
    m_captured.clear();
    load(properties, dir);
    invalidate_tree();
    return true;
}

void Form::require_form(Properties& properties, std::u16string_view node_name) {
    if (!load_form(properties, node_name))
        throw virire::NodeNotFoundInSkin(std::u16string(node_name));
}

void Form::load(Properties& properties, NodeDir dir) {
    Component::load(properties, dir);
    m_outside_color = properties.get_color(dir, u"outside_color", SkinColor{});
}

// Counts an input call into the form's controls; the last one to leave runs a reload that was
// asked for meanwhile (the rebuild would free the control still handling the input). The
// reload runs in leave(), never in the destructor: a skin that lacks the form raises there like
// any other reload. A scope left by an exception only counts down; its reload waits for the
// next input to leave.
class Form::DispatchScope {
public:
    explicit DispatchScope(Form& form) : m_form(form) { ++m_form.m_dispatching; }
    ~DispatchScope() {
        if (!m_left)
            --m_form.m_dispatching;
    }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;

    void leave() {
        m_left = true;
        if (--m_form.m_dispatching == 0 && m_form.m_reload_pending)
            m_form.reload_skin(*std::exchange(m_form.m_reload_pending, nullptr));
    }

private:
    Form& m_form;
    bool m_left{false};
};

void Form::reload_skin(Properties& properties) {
    if (m_dispatching > 0) {
        m_reload_pending = &properties;
        return;
    }
    if (m_node_name.empty())
        return;
    // Keep the current place: the new tree is laid out into it.
    const Rect place = rect();
    require_form(properties, m_node_name);
    Component::place(place.left, place.top, place.width(), place.height());
    reloaded();
}

namespace {

// Rectangles kept apart at most; more are merged into their neighbours.
constexpr size_t damage_rectangles = 8;

Rect bounding(const Rect& a, const Rect& b) {
    return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

int64_t area(const Rect& r) {
    return r.empty() ? 0 : int64_t(r.width()) * r.height();
}

} // namespace

void Form::add_damage(const Rect& rect) {
    if (m_damage_all)
        return;
    const Rect whole = this->rect();
    const Rect r = rect.intersect(whole);
    if (r.empty())
        return;
    if (r == whole) {
        damage_all();
        return;
    }
    for (Rect& kept : m_damage) {
        if (kept.intersect(r) == r)
            return;
        // Overlapping or touching rectangles become one when that adds little area.
        const Rect both = bounding(kept, r);
        if (area(both) <= area(kept) + area(r) + area(r) / 8) {
            kept = both;
            return;
        }
    }
    if (m_damage.size() < damage_rectangles) {
        m_damage.push_back(r);
        return;
    }
    // Too many: the new one joins the rectangle it grows least.
    Rect* best = &m_damage.front();
    int64_t growth = area(bounding(*best, r)) - area(*best);
    for (Rect& kept : m_damage) {
        const int64_t g = area(bounding(kept, r)) - area(kept);
        if (g < growth) {
            growth = g;
            best = &kept;
        }
    }
    *best = bounding(*best, r);
    if (area(*best) * 4 >= area(whole) * 3)
        damage_all();
}

void Form::damage_all() {
    m_damage_all = true;
    m_damage.clear();
    m_scrolls.clear();
}

void Form::add_scroll(const Rect& area, int32_t dx) {
    const Rect r = area.intersect(rect());
    if (r.empty() || dx == 0 || m_damage_all)
        return;
    // Two moves of the same area before a frame are one, whose strip is as wide as both.
    Scroll* same = nullptr;
    for (Scroll& pending : m_scrolls)
        if (pending.area == r)
            same = &pending;
    if (same)
        same->dx += dx;
    else if (m_scrolls.size() < damage_rectangles)
        same = &m_scrolls.emplace_back(Scroll{r, dx});
    const int32_t total = same ? same->dx : dx;
    const int32_t strip = std::min(r.width(), total < 0 ? -total : total);
    if (!same || strip == r.width()) {
        add_damage(r);
        return;
    }
    add_damage(total < 0 ? Rect{r.right - strip, r.top, r.right, r.bottom}
                         : Rect{r.left, r.top, r.left + strip, r.bottom});
}

std::vector<Form::Scroll> Form::take_scrolls() {
    return std::exchange(m_scrolls, {});
}

std::vector<Rect> Form::take_damage() {
    std::vector<Rect> damage = std::move(m_damage);
    m_damage.clear();
    if (std::exchange(m_damage_all, false))
        damage.assign(1, rect());
    return damage;
}

bool Form::subscribed(const Component* handler) const {
    return std::find(m_input_handlers.begin(), m_input_handlers.end(), handler) !=
           m_input_handlers.end();
}

bool Form::takes_input(const Component& handler) {
    return handler.shown() && handler.effectively_enabled();
}

void Form::add_input_handler(Component& handler) {
    if (!subscribed(&handler))
        m_input_handlers.push_back(&handler);
}

void Form::remove_input_handler(Component& handler) {
    std::erase(m_input_handlers, &handler);
    std::erase(m_captured, &handler);
}

bool Form::pen_button(const PenEvent& event) {
    DispatchScope scope(*this);
    const bool consumed = dispatch_pen_button(event);
    scope.leave();
    return consumed;
}

bool Form::dispatch_pen_button(const PenEvent& event) {
    if (event.pressed) {
        if (!m_captured.empty())
            return false;
        const std::vector<Component*> handlers = m_input_handlers;
        for (Component* handler : handlers) {
            // A handler may go away while another one handles the event.
            if (!subscribed(handler))
                continue;
            if (!handler->hit_test(SkinPoint{event.x, event.y}) || !takes_input(*handler))
                continue;
            const bool consumed = handler->pen_button(event);
            if (subscribed(handler))
                m_captured.push_back(handler);
            if (consumed)
                return true;
        }
        return false;
    }
    if (m_captured.empty())
        return false;
    const std::vector<Component*> taken = std::exchange(m_captured, {});
    for (Component* handler : taken)
        if (subscribed(handler) && takes_input(*handler))
            handler->pen_button(event);
    return true;
}

void Form::pen_move(const PenEvent& event) {
    DispatchScope scope(*this);
    dispatch_pen_move(event);
    scope.leave();
}

void Form::dispatch_pen_move(const PenEvent& event) {
    if (!m_captured.empty()) {
        const std::vector<Component*> taken = std::exchange(m_captured, {});
        for (Component* handler : taken) {
            if (!subscribed(handler) || !takes_input(*handler))
                continue;
            handler->pen_move(event);
            if (subscribed(handler))
                m_captured.push_back(handler);
        }
        return;
    }
    const std::vector<Component*> handlers = m_input_handlers;
    for (Component* handler : handlers)
        if (subscribed(handler) && handler->hit_test(SkinPoint{event.x, event.y}) &&
            takes_input(*handler))
            handler->pen_move(event);
}

bool Form::key(const KeyEvent& event) {
    DispatchScope scope(*this);
    bool consumed = false;
    const std::vector<Component*> handlers = m_input_handlers;
    for (Component* handler : handlers) {
        if (subscribed(handler) && takes_input(*handler) && handler->key(event)) {
            consumed = true;
            break;
        }
    }
    scope.leave();
    return consumed;
}

bool Form::command(const Command& command) {
    DispatchScope scope(*this);
    bool consumed = false;
    const std::vector<Component*> handlers = m_input_handlers;
    for (Component* handler : handlers) {
        if (subscribed(handler) && takes_input(*handler) && handler->command(command)) {
            consumed = true;
            break;
        }
    }
    scope.leave();
    return consumed;
}

} // namespace skin
