#pragma once

// A picture attribute: a rectangle of a shared bitmap with an inner, repeatable rectangle, drawn
// at any size with fixed corners and tiled edges and centre (nine parts).

#include "skin/bitmap.h"
#include "skin/skin_image.h"
#include "skin/surface.h"

#include <memory>

namespace skin {

class SkinPicture {
public:
    // Refers to no bitmap and draws nothing.
    SkinPicture() = default;
    // Corners in screen units (already scaled); the bitmap is read at
    // pixel_scale.design_pixel(corner) (scale 1: the bitmap is drawn at the skin's scale, pixel
    // for pixel).
    SkinPicture(std::shared_ptr<const Bitmap> bitmap, SkinPoint outer_min, SkinPoint inner_min,
                SkinPoint inner_max, SkinPoint outer_max, bool flag, Scale pixel_scale);
    // From a picture attribute of a skin whose picture table entry is bitmap.
    SkinPicture(std::shared_ptr<const Bitmap> bitmap, const PictureRecord& record,
                Scale pixel_scale);

    const std::shared_ptr<const Bitmap>& bitmap() const { return m_bitmap; }
    SkinPoint outer_min() const { return m_outer_min; }
    SkinPoint inner_min() const { return m_inner_min; }
    SkinPoint inner_max() const { return m_inner_max; }
    SkinPoint outer_max() const { return m_outer_max; }
    bool flag() const { return m_flag; }
    // Screen pixels per bitmap pixel along each axis.
    Scale pixel_scale() const { return m_pixel_scale; }

    // outer_max - outer_min on each axis.
    SkinPoint natural_size() const;

    // Draws into dest of target, clipped by the target's clip. Along each axis: longer than both
    // fixed parts, they keep their natural size and the middle is tiled between them; otherwise
    // each fixed part is cut on its inner side and one pixel comes from the middle.
    void draw(RenderSurface& target, const Rect& dest, const Blend& blend) const;

private:
    std::shared_ptr<const Bitmap> m_bitmap;
    SkinPoint m_outer_min;
    SkinPoint m_inner_min;
    SkinPoint m_inner_max;
    SkinPoint m_outer_max;
    bool m_flag{false};
    Scale m_pixel_scale;
};

} // namespace skin
