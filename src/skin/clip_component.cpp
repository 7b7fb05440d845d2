#include "skin/clip_component.h"

namespace skin {

void ClipComponent::draw(RenderSurface& target, SkinPoint origin) {
    ClipScope clip(target, origin.x + x(), origin.y + y(), width(), height());
    Component::draw(target, origin);
}

} // namespace skin
