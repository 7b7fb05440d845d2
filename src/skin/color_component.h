#pragma once

// "color": fills its rectangle with its colour (attribute color, black by default), then draws
// its children over it.

#include "skin/component.h"
#include "skin/skin_color.h"

namespace skin {

class ColorComponent : public Component {
public:
    explicit ColorComponent(Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"color"; }

    void load(Properties& properties, NodeDir dir) override;
    void draw(RenderSurface& target, SkinPoint origin) override;

    SkinColor color() const { return m_color; }
    void set_color(SkinColor color);

private:
    SkinColor m_color;
};

} // namespace skin
