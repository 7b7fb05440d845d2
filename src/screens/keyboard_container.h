#pragma once

// The on-screen digit keypad of the main form: the container "KeyboardContainer" with the
// buttons "button0".."button9", "button_hash" and "button_backspace". Each press goes to the
// listener as a one-character key or a backspace. The digit keys' small "letters" labels name
// the letters each digit stands for in the current language. User-interface thread only.

#include "screens/record_filter.h"
#include "skin/button.h"
#include "skin/button_listener.h"
#include "skin/form.h"

#include <array>
#include <string>

namespace screens {

class KeyboardListener {
public:
    virtual void keypad_key(const std::u16string& key) = 0;
    virtual void keypad_backspace() = 0;

protected:
    ~KeyboardListener() = default;
};

// The caption of a key: the letters of alphabet that belong to its set, in the alphabet's order,
// each once. Empty when none does (punctuation, the blank key, an alphabet not given).
std::u16string keypad_caption(const KeyMap& keys, char16_t key, std::u16string_view alphabet);

class KeyboardContainer final : private skin::ButtonListener {
public:
    explicit KeyboardContainer(KeyboardListener& listener) : m_listener(listener) {}
    // Looks the container and its twelve buttons up in form (throws virire::NodeNotFound for a
    // missing one).
    void find(skin::Form& form);
    // Sets each digit key's "letters" label to its keypad_caption; a key whose caption is empty
    // keeps the skin's text, as does a key without such a label.
    void set_captions(const KeyMap& keys, std::u16string_view alphabet);
    void set_visible(bool on);
    bool visible() const;
    skin::Component* container() const { return m_container; }
    // As a click on one of the twelve buttons.
    void press(skin::Component& button);

private:
    void clicked(skin::Component& button, const skin::ClickRecord& click) override;

    KeyboardListener& m_listener;
    skin::Component* m_container{nullptr};
    std::array<skin::Button*, 12> m_buttons{};
};

} // namespace screens
