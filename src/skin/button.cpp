#include "skin/button.h"

#include "skin/form.h"
#include "skin/named_child.h"
#include "skin/properties.h"

#include <array>

namespace skin {

namespace {

constexpr std::array<std::u16string_view, 20> named_keys{
    u"None", u"Shift", u"Ctrl",     u"Alt",    u"Left",      u"Right",      u"Up",
    u"Down", u"Esc",   u"Enter",    u"Space",  u"Backspace", u"Del",        u"Insert",
    u"Home", u"End",   u"PageDown", u"PageUp", u"Tab",       u"ContextMenu"};
constexpr std::array<std::u16string_view, 9> tail_keys{u"*",          u"#",         u"CALL_MAKE",
                                                       u"CALL_END",   u"SLIDE",     u"SOFT_LEFT",
                                                       u"SOFT_RIGHT", u"VOLUME_UP", u"VOLUME_DOWN"};

} // namespace

uint32_t key_code_from_name(std::u16string_view name) {
    for (size_t i = 0; i < named_keys.size(); ++i)
        if (named_keys[i] == name)
            return uint32_t(i);
    if (name.size() == 1 && name[0] >= u'A' && name[0] <= u'Z')
        return 20 + uint32_t(name[0] - u'A');
    if (name.size() == 1 && name[0] >= u'0' && name[0] <= u'9')
        return 46 + uint32_t(name[0] - u'0');
    for (size_t i = 0; i < tail_keys.size(); ++i)
        if (tail_keys[i] == name)
            return 56 + uint32_t(i);
    return 0;
}

Button::Button(Component* parent) : Component(parent) {
    if (form())
        form()->add_input_handler(*this);
}

Button::~Button() {
    if (form())
        form()->remove_input_handler(*this);
}

void Button::load(Properties& properties, NodeDir dir) {
    Component::load(properties, dir);
    m_bound_key = key_code_from_name(properties.get_string(dir, u"bind_key", u""));
    m_normal = named_child(*this, u"#normal");
    m_pressed = named_child(*this, u"#pressed");
    m_disabled = named_child(*this, u"#disabled");
    std::u16string key = properties.get_string(dir, u"text", u"");
    if (!key.empty())
        set_caption(properties.text(key));
    update_state_pictures();
}

void Button::set_caption(std::u16string_view caption) {
    if (caption == m_caption)
        return;
    m_caption = caption;
    set_text_by_id(u"#text", m_caption);
}

Component* Button::shown_state() const {
    Component* chosen = m_normal;
    if (!effectively_enabled())
        chosen = m_disabled;
    else if (pressed())
        chosen = m_pressed;
    return chosen ? chosen : m_normal;
}

void Button::update_state_pictures() {
    Component* chosen = shown_state();
    for (Component* state : {m_normal, m_pressed, m_disabled})
        if (state)
            state->set_visible(state == chosen);
    invalidate();
}

void Button::enabled_changed() {
    Component::enabled_changed();
    update_state_pictures();
}

void Button::set_pressed(bool pen, bool key, SkinPoint point, bool cancelled) {
    const bool was = pressed();
    m_pen_pressed = pen;
    m_key_pressed = key;
    const bool now = pressed();
    if (was == now)
        return;
    if (m_listener)
        m_listener->press_changed(*this, ClickRecord{point.x, point.y, now});
    update_state_pictures();
    if (was && !now && !cancelled && hit_test(point) && m_listener)
        m_listener->clicked(*this, ClickRecord{point.x, point.y, true});
}

bool Button::pen_button(const PenEvent& event) {
    if (event.reserved != 0)
        return true;
    const SkinPoint point{event.x, event.y};
    m_last_point = point;
    if (event.pressed && m_listener) {
        DragRecord drag{event.x, event.y, 0, 0, 0, 0};
        m_listener->dragged(*this, drag);
    }
    set_pressed(event.pressed, m_key_pressed, point, event.cancelled);
    return true;
}

void Button::pen_move(const PenEvent& event) {
    if (!m_pen_pressed || event.reserved != 0)
        return;
    DragRecord drag{event.x, event.y, event.x - m_last_point.x, event.y - m_last_point.y, 0, 0};
    if (m_listener)
        m_listener->dragged(*this, drag);
    m_last_point = SkinPoint{event.x - drag.remainder_x, event.y - drag.remainder_y};
}

bool Button::key(const KeyEvent& event) {
    if (m_bound_key == 0 || event.code != m_bound_key)
        return false;
    const SkinPoint centre{int32_t(x() + width() / 2.0), int32_t(y() + height() / 2.0)};
    set_pressed(m_pen_pressed, event.pressed, centre, false);
    return true;
}

} // namespace skin
