#pragma once

// "checkbox": a toggle of `states` states, one button per state ("#state_0", "#state_1", ...).
// Only the current state's button is shown, carrying the caption. A click advances the state
// by itself unless the checkbox has a listener, which then decides.

#include "skin/button.h"

#include <string>
#include <vector>

namespace skin {

class Checkbox;

class CheckboxListener {
public:
    virtual void clicked(Checkbox& checkbox, bool flag) = 0;
    virtual void state_changed(Checkbox& checkbox, bool flag) = 0;

protected:
    ~CheckboxListener() = default;
};

class Checkbox : public Component, private ButtonListener {
public:
    // The largest number of states a skin may ask for; more are clamped.
    static constexpr int32_t max_states = 64;

    explicit Checkbox(Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"checkbox"; }

    void load(Properties& properties, NodeDir dir) override;

    int32_t state() const { return m_state; }
    int32_t states() const { return int32_t(m_buttons.size()); }
    // Shows the button of state index (ignored outside 0 .. states - 1) with the caption and
    // tells the listener, with notify as its flag.
    void set_state(int32_t index, bool notify = true);
    void set_listener(CheckboxListener* listener) { m_listener = listener; }
    const std::u16string& caption() const { return m_caption; }
    void set_caption(std::u16string_view caption);
    Button& state_button(int32_t index) const { return *m_buttons.at(size_t(index)); }

private:
    void clicked(Component& button, const ClickRecord& click) override;

    std::vector<Button*> m_buttons;
    CheckboxListener* m_listener{nullptr};
    std::u16string m_caption;
    int32_t m_state{0};
};

} // namespace skin
