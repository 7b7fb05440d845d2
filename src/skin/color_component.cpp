#include "skin/color_component.h"

#include "skin/properties.h"

namespace skin {

void ColorComponent::load(Properties& properties, NodeDir dir) {
    Component::load(properties, dir);
    m_color = properties.get_color(dir, u"color", SkinColor{});
}

void ColorComponent::set_color(SkinColor color) {
    if (color == m_color)
        return;
    m_color = color;
    invalidate();
}

void ColorComponent::draw(RenderSurface& target, SkinPoint origin) {
    target.fill(Rect::of_size(origin.x + x(), origin.y + y(), width(), height()),
                Blend::fill(m_color.to_565()));
    Component::draw(target, origin);
}

} // namespace skin
