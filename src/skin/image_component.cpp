#include "skin/image_component.h"

#include "skin/properties.h"

#include <algorithm>

namespace skin {

namespace {

constexpr uint32_t unset_alpha = 0xFFFFFFFF;

Measure at_least(Measure m, int32_t size) {
    return Measure{std::max(m.preferred, size), std::max(m.minimum, size)};
}

} // namespace

void ImageComponent::load(Properties& properties, NodeDir dir) {
    Component::load(properties, dir);
    m_picture = properties.get_picture(dir, u"src", SkinPicture{});
    uint32_t alpha = properties.get_integer(dir, u"alpha", unset_alpha);
    if (alpha == unset_alpha)
        m_blend.reset();
    else
        m_blend = Blend::keyed_for_alpha(alpha);
    m_grow = properties.get_integer(dir, u"grow", 0) != 0;
}

void ImageComponent::set_picture(const SkinPicture& picture) {
    m_picture = picture;
    if (m_grow)
        clear_measure();
    invalidate();
}

void ImageComponent::draw(RenderSurface& target, SkinPoint origin) {
    m_picture.draw(target, Rect::of_size(origin.x + x(), origin.y + y(), width(), height()),
                   m_blend ? *m_blend : Blend::copy());
    Component::draw(target, origin);
}

Measure ImageComponent::measure_width() {
    Measure m = Component::measure_width();
    return m_grow ? at_least(m, m_picture.natural_size().x) : m;
}

Measure ImageComponent::measure_height() {
    Measure m = Component::measure_height();
    return m_grow ? at_least(m, m_picture.natural_size().y) : m;
}

} // namespace skin
