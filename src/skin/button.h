#pragma once

// "button": a pressable control. It shows one of its state children ("#normal", "#pressed",
// "#disabled"), is pressed by the pen or by its bound key, reports press changes and drags to
// its listener and a click when released inside without a cancel.

#include "skin/button_listener.h"
#include "skin/component.h"

#include <string>

namespace skin {

class Button : public Component {
public:
    explicit Button(Component* parent);
    ~Button() override;
    std::u16string_view type_name() const override { return u"button"; }

    void load(Properties& properties, NodeDir dir) override;
    void enabled_changed() override;
    bool pen_button(const PenEvent& event) override;
    void pen_move(const PenEvent& event) override;
    bool key(const KeyEvent& event) override;

    void set_listener(ButtonListener* listener) { m_listener = listener; }
    ButtonListener* listener() const { return m_listener; }
    uint32_t bound_key() const { return m_bound_key; }
    const std::u16string& caption() const { return m_caption; }
    // Stores the caption and gives it to the "#text" descendant when it changed.
    void set_caption(std::u16string_view caption);
    bool pressed() const { return m_pen_pressed || m_key_pressed; }
    // The state child shown now (none when the button has no state children).
    Component* shown_state() const;

private:
    void set_pressed(bool pen, bool key, SkinPoint point, bool cancelled);
    void update_state_pictures();

    Component* m_normal{nullptr};
    Component* m_pressed{nullptr};
    Component* m_disabled{nullptr};
    ButtonListener* m_listener{nullptr};
    uint32_t m_bound_key{0};
    std::u16string m_caption;
    bool m_pen_pressed{false};
    bool m_key_pressed{false};
    SkinPoint m_last_point;
};

} // namespace skin
