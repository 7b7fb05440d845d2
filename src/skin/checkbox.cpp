#include "skin/checkbox.h"

#include "skin/exceptions.h"
#include "skin/named_child.h"
#include "skin/properties.h"

#include <algorithm>

namespace skin {

void Checkbox::load(Properties& properties, NodeDir dir) {
    Component::load(properties, dir);
    const int32_t states = std::clamp(properties.get_int(dir, u"states", 2), 1, max_states);
    std::u16string key = properties.get_string(dir, u"text", u"");
    m_caption = key.empty() ? std::u16string() : properties.text(key);
    m_buttons.clear();
    for (int32_t i = 0; i < states; ++i) {
        std::u16string name = u"#state_";
        for (char c : std::to_string(i))
            name.push_back(char16_t(c));
        auto* button = dynamic_cast<Button*>(&required_child(*this, name));
        if (!button)
            throw virire::NodeNotFound(id(), name);
        button->set_listener(this);
        m_buttons.push_back(button);
    }
    m_state = 0;
    for (size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->set_visible(i == 0);
    m_buttons[0]->set_caption(m_caption);
}

void Checkbox::set_caption(std::u16string_view caption) {
    m_caption = caption;
    if (!m_buttons.empty())
        m_buttons[size_t(m_state)]->set_caption(m_caption);
}

void Checkbox::set_state(int32_t index, bool notify) {
    if (index < 0 || index >= states())
        return;
    m_buttons[size_t(m_state)]->set_visible(false);
    m_state = index;
    m_buttons[size_t(m_state)]->set_visible(true);
    m_buttons[size_t(m_state)]->set_caption(m_caption);
    invalidate();
    if (m_listener)
        m_listener->state_changed(*this, notify);
}

void Checkbox::clicked(Component& button, const ClickRecord&) {
    if (m_buttons.empty() || &button != m_buttons[size_t(m_state)])
        return;
    if (m_listener)
        m_listener->clicked(*this, true);
    else
        set_state((m_state + 1) % states());
}

} // namespace skin
