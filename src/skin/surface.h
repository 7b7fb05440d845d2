#pragma once

// 16-bit RGB 5-6-5 pixel buffers and the drawing target built on them. User-interface thread
// only.

#include "foundation/rect.h"
#include "skin/blend.h"
#include "skin/scale.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace skin {

using foundation::Rect;

// A pixel buffer: rows from the top, pitch in bytes.
class Surface {
public:
    // The largest width or height a surface may have.
    static constexpr int32_t max_side = 16384;

    // A memory surface whose pitch is 2 * width rounded up to 4 bytes. None for sizes below 1
    // or above max_side, or when memory runs out.
    static std::unique_ptr<Surface> create(int32_t width, int32_t height);

    // Borrows pixels that stay owned elsewhere (such as the display's back buffer).
    Surface(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch)
        : m_pixels(pixels), m_width(width), m_height(height), m_pitch(pitch) {}
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    int32_t pitch() const { return m_pitch; }
    bool owns_pixels() const { return m_owned; }

    uint16_t* row(int32_t y) {
        return reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(m_pixels) +
                                           static_cast<ptrdiff_t>(y) * m_pitch);
    }
    const uint16_t* row(int32_t y) const {
        return reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(m_pixels) +
                                                 static_cast<ptrdiff_t>(y) * m_pitch);
    }
    uint16_t pixel(int32_t x, int32_t y) const { return row(y)[x]; }
    void set_pixel(int32_t x, int32_t y, uint16_t value) { row(y)[x] = value; }

private:
    uint16_t* m_pixels;
    int32_t m_width;
    int32_t m_height;
    int32_t m_pitch;
    bool m_owned{false};
};

// The copy primitive. Copies w x h pixels from (sx, sy) of source to (dx, dy) of target through
// blend, clipped to clip and to the target. Does nothing when the size is below 1 or the source
// rectangle does not lie inside the source. With a scale above 1 the source coordinates are in
// enlarged units: source pixel scale.design_pixel(x, y) covers screen pixel (x, y).
void blit(Surface& target, int32_t dx, int32_t dy, int32_t w, int32_t h, const Surface& source,
          int32_t sx, int32_t sy, const Rect& clip, const Blend& blend, Scale scale = {});

// A drawing target: a surface (its own, or a borrowed one) and a clip rectangle with nested
// clip scopes.
class RenderSurface {
public:
    RenderSurface() = default;
    // Draws into pixels owned elsewhere; the clip is the whole buffer.
    RenderSurface(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch);
    ~RenderSurface();
    RenderSurface(const RenderSurface&) = delete;
    RenderSurface& operator=(const RenderSurface&) = delete;

    // Makes a new surface of this size (none for 0 x 0) and sets the clip to all of it. False
    // when the size is unchanged, or refused (negative or above Surface::max_side). Resizing
    // with a clip scope open is a fatal error.
    bool recreate(int32_t width, int32_t height);

    int32_t width() const { return m_target ? m_target->width() : 0; }
    int32_t height() const { return m_target ? m_target->height() : 0; }
    const Rect& clip() const { return m_clip; }
    int clip_depth() const { return m_clip_depth; }
    Surface* surface() { return m_target; }
    const Surface* surface() const { return m_target; }

    // Pixels held by all RenderSurface objects' own surfaces, for diagnostics.
    static int64_t total_pixels();

    // Applies a fill-kind blend (fill, fade, tint) to the rectangle, clipped.
    void fill(const Rect& rect, const Blend& blend);
    // Moves the pixels inside the rectangle (limited to the surface) by dx along the rows; what
    // moves out is lost, and the strip it leaves keeps its old pixels.
    void scroll(const Rect& rect, int32_t dx);
    // Copies the source rectangle of this surface to (dx, dy) of target, clipped by the
    // target's clip.
    void copy(RenderSurface& target, int32_t dx, int32_t dy, const Rect& source,
              const Blend& blend) const;
    // Copies the source rectangle stretched over the destination rectangle, stepping the
    // source in fixed point with 10 fractional bits.
    void copy_scaled(RenderSurface& target, const Rect& dest, const Rect& source,
                     const Blend& blend) const;

private:
    friend class ClipScope;

    Surface* m_target{nullptr};
    std::unique_ptr<Surface> m_own;
    Rect m_clip;
    int m_clip_depth{0};
};

// Narrows the clip of a RenderSurface to its intersection with a rectangle for the life of the
// scope; an empty result is the empty rectangle at its left-top corner.
class ClipScope {
public:
    ClipScope(RenderSurface& surface, int32_t x, int32_t y, int32_t width, int32_t height);
    ~ClipScope();
    ClipScope(const ClipScope&) = delete;
    ClipScope& operator=(const ClipScope&) = delete;

private:
    RenderSurface& m_surface;
    Rect m_saved;
};

} // namespace skin
