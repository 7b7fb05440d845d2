#pragma once

// "clip": a container that clips its children to its own rectangle.

#include "skin/component.h"

namespace skin {

class ClipComponent : public Component {
public:
    explicit ClipComponent(Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"clip"; }
    void draw(RenderSurface& target, SkinPoint origin) override;
};

} // namespace skin
