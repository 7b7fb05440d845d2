#pragma once

// "text": a label in a skin font. It keeps the width of every character of its text (for line
// breaking and caret placement), measures itself to its text with grow / grow_min, breaks lines
// at its width with wrap, and places the text by halign and valign. Optional "#left" and
// "#right" children are kept for the screens.

#include "skin/component.h"
#include "skin/font_rep.h"
#include "skin/skin_color.h"

#include <memory>
#include <string>
#include <vector>

namespace skin {

// "LEFT" .. "JUSTIFY" and "TOP" .. "BOTTOM", exact; anything else is the centre.
HAlign text_halign(std::u16string_view name);
VAlign text_valign(std::u16string_view name);

class TextComponent : public Component {
public:
    explicit TextComponent(Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"text"; }

    void load(Properties& properties, NodeDir dir) override;
    void set_text_by_id(std::u16string_view id, std::u16string_view text) override;
    void draw(RenderSurface& target, SkinPoint origin) override;
    Measure measure_width() override;
    Measure measure_height() override;

    const std::u16string& text() const { return m_text; }
    virtual void set_text(std::u16string_view text);
    SkinColor color() const { return m_color; }
    void set_color(SkinColor color);
    const std::shared_ptr<FontRep>& font() const { return m_font; }
    void set_font(std::shared_ptr<FontRep> font);
    HAlign halign() const { return m_halign; }
    VAlign valign() const { return m_valign; }
    bool wrap() const { return m_wrap; }
    bool grow() const { return m_grow; }
    bool grow_min() const { return m_grow_min; }
    // One width per code unit of the text.
    const std::vector<int32_t>& character_widths() const { return m_widths; }
    Component* left_child() const { return m_left; }
    Component* right_child() const { return m_right; }

protected:
    // Reads the label attributes; named children when wanted.
    void load_label(Properties& properties, NodeDir dir, bool named_children);
    void text_changed();
    FontRep& font_ref();

    std::u16string m_text;
    std::shared_ptr<FontRep> m_font;
    SkinColor m_color;
    HAlign m_halign{HAlign::Center};
    VAlign m_valign{VAlign::VCenter};
    bool m_wrap{false};
    bool m_grow{false};
    bool m_grow_min{false};
    std::vector<int32_t> m_widths;
    Component* m_left{nullptr};
    Component* m_right{nullptr};
};

} // namespace skin
