#pragma once

// "image": draws a picture (attribute src) into its rectangle by the nine-part rule, copied
// plainly or, with an alpha attribute, through the keyed blend of that alpha. With grow set its
// measured sizes are at least the picture's natural size.

#include "skin/component.h"
#include "skin/skin_picture.h"

#include <optional>

namespace skin {

class ImageComponent : public Component {
public:
    explicit ImageComponent(Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"image"; }

    void load(Properties& properties, NodeDir dir) override;
    void draw(RenderSurface& target, SkinPoint origin) override;
    Measure measure_width() override;
    Measure measure_height() override;

    const SkinPicture& picture() const { return m_picture; }
    void set_picture(const SkinPicture& picture);

private:
    SkinPicture m_picture;
    std::optional<Blend> m_blend;
    bool m_grow{false};
};

} // namespace skin
