#include "screens/keyboard_container.h"

#include "skin/exceptions.h"
#include "skin/text_component.h"

namespace screens {

namespace {
constexpr std::array<std::u16string_view, 12> button_names{
    u"button0", u"button1", u"button2", u"button3", u"button4",     u"button5",
    u"button6", u"button7", u"button8", u"button9", u"button_hash", u"button_backspace"};
constexpr std::array<std::u16string_view, 11> button_keys{u"0", u"1", u"2", u"3", u"4", u"5",
                                                          u"6", u"7", u"8", u"9", u"#"};
} // namespace

std::u16string keypad_caption(const KeyMap& keys, char16_t key, std::u16string_view alphabet) {
    const std::u16string set = keys.characters(key);
    std::u16string caption;
    for (char16_t c : alphabet)
        if (set.find(c) != std::u16string::npos && caption.find(c) == std::u16string::npos)
            caption.push_back(c);
    return caption;
}

void KeyboardContainer::set_captions(const KeyMap& keys, std::u16string_view alphabet) {
    for (size_t i = 0; i < button_keys.size(); ++i) {
        if (!m_buttons[i])
            continue;
        auto* label = dynamic_cast<skin::TextComponent*>(m_buttons[i]->find_child(u"letters"));
        const std::u16string caption = keypad_caption(keys, button_keys[i][0], alphabet);
        if (label && !caption.empty())
            label->set_text(caption);
    }
}

void KeyboardContainer::find(skin::Form& form) {
    m_container = form.find_child(u"KeyboardContainer");
    if (!m_container)
        throw virire::NodeNotFound(form.id(), u"KeyboardContainer");
    for (size_t i = 0; i < button_names.size(); ++i) {
        auto* button = dynamic_cast<skin::Button*>(m_container->find_child(button_names[i]));
        if (!button)
            throw virire::NodeNotFound(form.id(), std::u16string(button_names[i]));
        button->set_listener(this);
        m_buttons[i] = button;
    }
}

void KeyboardContainer::set_visible(bool on) {
    if (m_container)
        m_container->set_visible(on);
}

bool KeyboardContainer::visible() const {
    return m_container && m_container->visible();
}

void KeyboardContainer::press(skin::Component& button) {
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons[i] != &button)
            continue;
        if (i < button_keys.size())
            m_listener.keypad_key(std::u16string(button_keys[i]));
        else
            m_listener.keypad_backspace();
        return;
    }
}

void KeyboardContainer::clicked(skin::Component& button, const skin::ClickRecord&) {
    press(button);
}

} // namespace screens
