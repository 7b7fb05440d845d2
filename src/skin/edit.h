#pragma once

// "edit": a text label edited in place. The edit holding the input focus shows a blinking
// caret, takes its keys (Backspace, Del, Enter, Left, Right, Up and Down with wrap, Home, End)
// and inserts typed text arriving as commands. Taking the focus switches the platform's text
// input on with the edit's rectangle as the input area; losing it switches it off.
// User-interface thread only.

#include "skin/text_component.h"

#include <functional>

namespace skin {

class Edit;

class EditListener {
public:
    virtual void edit_text_changed(Edit& edit) = 0;

protected:
    ~EditListener() = default;
};

class Edit : public TextComponent {
public:
    // Command codes an edit understands; text input is code 0 with its characters.
    static constexpr uint32_t command_text = 0;
    static constexpr uint32_t command_paste = 1;      // text: the clipboard's contents
    static constexpr uint32_t command_select_all = 2; // the next edit replaces the whole text

    // Switches the platform's text input on (with the area in form coordinates) or off.
    using TextInputSwitch = std::function<void(bool on, const Rect& area)>;
    static void set_text_input_switch(TextInputSwitch input_switch);
    // The edit that holds the input focus, or none.
    static Edit* focused();
    // Tells the platform where the focused edit is now (after a new layout).
    static void input_area_moved();

    explicit Edit(Component* parent);
    ~Edit() override;
    std::u16string_view type_name() const override { return u"edit"; }

    void load(Properties& properties, NodeDir dir) override;
    void draw(RenderSurface& target, SkinPoint origin) override;
    void tick(double seconds) override;
    bool pen_button(const PenEvent& event) override;
    bool key(const KeyEvent& event) override;
    bool command(const Command& command) override;
    void set_text(std::u16string_view text) override;

    // Takes (true) or gives up (false) the input focus.
    void set_edit(bool on);
    bool editing() const { return focused() == this; }
    size_t caret() const { return m_caret; }
    void set_caret(size_t offset);
    double blink_phase() const { return m_phase; }
    bool caret_shown() const { return editing() && m_phase < 0.5; }
    bool all_selected() const { return m_select_all; }
    SkinColor background_color() const { return m_background; }
    void set_listener(EditListener* listener) { m_listener = listener; }
    // The caret's rectangle in form coordinates.
    Rect caret_rect();

private:
    void insert(std::u16string_view text);
    void erase(size_t from, size_t to);
    void edited();
    void move_lines(int delta);
    // Start offset of the caret's line and of the line's text.
    size_t line_start(size_t offset) const;
    size_t line_end(size_t offset) const;
    int32_t line_left(std::u16string_view line);
    int32_t text_top();

    SkinColor m_background;
    EditListener* m_listener{nullptr};
    size_t m_caret{0};
    double m_phase{1.0};
    bool m_select_all{false};
    std::vector<FontRep::CaretStop> m_stops;
};

} // namespace skin
