#include "skin/text_component.h"

#include "skin/named_child.h"
#include "skin/properties.h"

#include <algorithm>

namespace skin {

HAlign text_halign(std::u16string_view name) {
    if (name == u"LEFT")
        return HAlign::Left;
    if (name == u"RIGHT")
        return HAlign::Right;
    if (name == u"JUSTIFY")
        return HAlign::Justify;
    return HAlign::Center;
}

VAlign text_valign(std::u16string_view name) {
    if (name == u"TOP")
        return VAlign::Top;
    if (name == u"BOTTOM")
        return VAlign::Bottom;
    return VAlign::VCenter;
}

void TextComponent::load(Properties& properties, NodeDir dir) {
    load_label(properties, dir, true);
}

void TextComponent::load_label(Properties& properties, NodeDir dir, bool named_children) {
    Component::load(properties, dir);
    m_font = properties.get_font(dir, u"font", nullptr);
    std::u16string key = properties.get_string(dir, u"text", u"");
    m_text = key.empty() ? std::u16string() : properties.text(key);
    m_grow_min = properties.get_integer(dir, u"grow_min", 0) != 0;
    m_grow = m_grow_min || properties.get_integer(dir, u"grow", 0) != 0;
    m_color = properties.get_color(dir, u"color", SkinColor{});
    m_halign = text_halign(properties.get_string(dir, u"halign", u""));
    m_valign = text_valign(properties.get_string(dir, u"valign", u""));
    m_wrap = properties.get_integer(dir, u"wrap", 0) != 0;
    if (named_children) {
        m_left = named_child(*this, u"#left");
        m_right = named_child(*this, u"#right");
    }
    text_changed();
}

FontRep& TextComponent::font_ref() {
    if (!m_font)
        m_font = FontRep::default_font();
    return *m_font;
}

void TextComponent::set_text_by_id(std::u16string_view id, std::u16string_view text) {
    if (!id.empty() && id == this->id())
        set_text(text);
    Component::set_text_by_id(id, text);
}

void TextComponent::set_text(std::u16string_view text) {
    if (text == m_text)
        return;
    m_text = text;
    text_changed();
}

void TextComponent::text_changed() {
    font_ref().character_widths(m_text, m_widths);
    clear_measure();
    invalidate();
}

void TextComponent::set_color(SkinColor color) {
    if (color == m_color)
        return;
    m_color = color;
    invalidate();
}

void TextComponent::set_font(std::shared_ptr<FontRep> font) {
    m_font = std::move(font);
    text_changed();
}

void TextComponent::draw(RenderSurface& target, SkinPoint origin) {
    font_ref().draw_text(target, m_color, m_text, origin.x + x(), origin.y + y(), width(), height(),
                         m_halign, m_valign, m_wrap);
    Component::draw(target, origin);
}

Measure TextComponent::measure_width() {
    Measure m = Component::measure_width();
    if (!m_grow)
        return m;
    const int32_t w = font_ref().measure(m_text).width;
    m.preferred = std::max(m.preferred, w);
    if (m_grow_min)
        m.minimum = std::max(m.minimum, w);
    return m;
}

Measure TextComponent::measure_height() {
    Measure m = Component::measure_height();
    if (!m_grow)
        return m;
    const int32_t h = font_ref().measure(m_text).height;
    m.preferred = std::max(m.preferred, h);
    if (m_grow_min)
        m.minimum = std::max(m.minimum, h);
    return m;
}

} // namespace skin
