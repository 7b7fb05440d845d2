#include "skin/surface.h"

#include "foundation/log.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace skin {

namespace {

std::atomic<int64_t> g_total_pixels{0};

// Row scratch for scaled and doubled copies.
uint16_t* scratch_row(int32_t count) {
    thread_local std::vector<uint16_t> row;
    if (row.size() < static_cast<size_t>(count))
        row.resize(static_cast<size_t>(count));
    return row.data();
}

} // namespace

std::unique_ptr<Surface> Surface::create(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > max_side || height > max_side)
        return nullptr;
    int32_t pitch = (2 * width + 3) & ~3;
    auto* pixels = new (std::nothrow) uint16_t[static_cast<size_t>(pitch / 2) * height]();
    if (!pixels)
        return nullptr;
    auto surface = std::make_unique<Surface>(pixels, width, height, pitch);
    surface->m_owned = true;
    return surface;
}

Surface::~Surface() {
    if (m_owned)
        delete[] m_pixels;
}

void blit(Surface& target, int32_t dx, int32_t dy, int32_t w, int32_t h, const Surface& source,
          int32_t sx, int32_t sy, const Rect& clip, const Blend& blend, Scale scale) {
    if (w < 1 || h < 1 || sx < 0 || sy < 0)
        return;
    if (scale.design_pixel(int64_t(sx) + w - 1) >= source.width() ||
        scale.design_pixel(int64_t(sy) + h - 1) >= source.height())
        return;
    int32_t left = std::max(clip.left, 0);
    int32_t top = std::max(clip.top, 0);
    int32_t right = std::min(clip.right, target.width());
    int32_t bottom = std::min(clip.bottom, target.height());
    if (dx < left) {
        int64_t cut = int64_t(left) - dx;
        if (cut >= w)
            return;
        sx += static_cast<int32_t>(cut);
        w -= static_cast<int32_t>(cut);
        dx = left;
    }
    if (dy < top) {
        int64_t cut = int64_t(top) - dy;
        if (cut >= h)
            return;
        sy += static_cast<int32_t>(cut);
        h -= static_cast<int32_t>(cut);
        dy = top;
    }
    int32_t visible_w = static_cast<int32_t>(std::min<int64_t>(int64_t(right) - dx, w));
    int32_t visible_h = static_cast<int32_t>(std::min<int64_t>(int64_t(bottom) - dy, h));
    if (visible_w < 1 || visible_h < 1)
        return;
    Blend::CopySpan span = blend.copy_span();
    if (scale == Scale{}) {
        for (int32_t j = 0; j < visible_h; ++j)
            span(target.row(dy + j) + dx, source.row(sy + j) + sx, visible_w, blend);
        return;
    }
    uint16_t* doubled = scratch_row(visible_w);
    int32_t previous_row = -1;
    for (int32_t j = 0; j < visible_h; ++j) {
        const auto source_row = int32_t(scale.design_pixel(sy + j));
        if (source_row != previous_row) {
            const uint16_t* from = source.row(source_row);
            for (int32_t i = 0; i < visible_w; ++i)
                doubled[i] = from[scale.design_pixel(int64_t(sx) + i)];
            previous_row = source_row;
        }
        span(target.row(dy + j) + dx, doubled, visible_w, blend);
    }
}

RenderSurface::RenderSurface(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch)
    : m_own(std::make_unique<Surface>(pixels, width, height, pitch)), m_clip{0, 0, width, height} {
    m_target = m_own.get();
}

RenderSurface::~RenderSurface() {
    if (m_own && m_own->owns_pixels())
        g_total_pixels -= int64_t(m_own->width()) * m_own->height();
}

int64_t RenderSurface::total_pixels() {
    return g_total_pixels.load();
}

bool RenderSurface::recreate(int32_t width, int32_t height) {
    if (width == this->width() && height == this->height())
        return false;
    if (width < 0 || height < 0 || width > Surface::max_side || height > Surface::max_side) {
        foundation::log() << "RenderSurface::recreate refused " << width << "x" << height << "\n";
        return false;
    }
    if (m_clip_depth != 0)
        foundation::fatal_error(u"RenderSurface::recreate", u"Clip is in effect, cannot resize");
    std::unique_ptr<Surface> fresh;
    if (width > 0 && height > 0) {
        fresh = Surface::create(width, height);
        if (!fresh) {
            foundation::log() << "RenderSurface::recreate out of memory " << width << "x" << height
                              << "\n";
            return false;
        }
    }
    if (m_own && m_own->owns_pixels())
        g_total_pixels -= int64_t(m_own->width()) * m_own->height();
    m_own = std::move(fresh);
    m_target = m_own.get();
    if (m_own)
        g_total_pixels += int64_t(width) * height;
    m_clip = Rect{0, 0, this->width(), this->height()};
    return true;
}

void RenderSurface::scroll(const Rect& rect, int32_t dx) {
    if (!m_target)
        return;
    const Rect r = rect.intersect(Rect{0, 0, width(), height()});
    const int32_t moved = r.width() - (dx < 0 ? -dx : dx);
    if (r.empty() || dx == 0 || moved <= 0)
        return;
    const int32_t from = dx < 0 ? r.left - dx : r.left;
    const int32_t to = dx < 0 ? r.left : r.left + dx;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        uint16_t* row = m_target->row(y);
        std::memmove(row + to, row + from, size_t(moved) * sizeof(uint16_t));
    }
}

void RenderSurface::fill(const Rect& rect, const Blend& blend) {
    Blend::FillSpan span = blend.fill_span();
    if (!m_target || !span)
        return;
    Rect area = rect.intersect(m_clip).intersect(Rect{0, 0, width(), height()});
    if (area.empty())
        return;
    if (blend.kind() == Blend::Kind::Fill) {
        // The plainest and commonest: no call per row (narrow columns have many rows).
        const uint16_t colour = blend.color();
        for (int32_t y = area.top; y < area.bottom; ++y)
            std::fill_n(m_target->row(y) + area.left, area.width(), colour);
        return;
    }
    for (int32_t y = area.top; y < area.bottom; ++y)
        span(m_target->row(y) + area.left, area.width(), blend);
}

void RenderSurface::copy(RenderSurface& target, int32_t dx, int32_t dy, const Rect& source,
                         const Blend& blend) const {
    if (!m_target || !target.m_target)
        return;
    blit(*target.m_target, dx, dy, source.width(), source.height(), *m_target, source.left,
         source.top, target.m_clip, blend);
}

void RenderSurface::copy_scaled(RenderSurface& target, const Rect& dest, const Rect& source,
                                const Blend& blend) const {
    if (!m_target || !target.m_target || dest.empty() || source.empty())
        return;
    if (source.left < 0 || source.top < 0 || source.right > width() || source.bottom > height())
        return;
    Rect visible =
        dest.intersect(target.m_clip).intersect(Rect{0, 0, target.width(), target.height()});
    if (visible.empty())
        return;
    int64_t step_x = (int64_t(source.width()) << 10) / dest.width();
    int64_t step_y = (int64_t(source.height()) << 10) / dest.height();
    int32_t count = visible.width();
    uint16_t* row = scratch_row(count);
    Blend::CopySpan span = blend.copy_span();
    for (int32_t y = visible.top; y < visible.bottom; ++y) {
        int32_t source_y = source.top + static_cast<int32_t>(((y - dest.top) * step_y) >> 10);
        const uint16_t* from = m_target->row(source_y);
        int64_t fx = int64_t(visible.left - dest.left) * step_x;
        for (int32_t i = 0; i < count; ++i, fx += step_x)
            row[i] = from[source.left + (fx >> 10)];
        span(target.m_target->row(y) + visible.left, row, count, blend);
    }
}

ClipScope::ClipScope(RenderSurface& surface, int32_t x, int32_t y, int32_t width, int32_t height)
    : m_surface(surface), m_saved(surface.m_clip) {
    ++surface.m_clip_depth;
    Rect clip = surface.m_clip.intersect(Rect::of_size(x, y, width, height))
                    .intersect(Rect{0, 0, surface.width(), surface.height()});
    if (clip.empty())
        clip = Rect{clip.left, clip.top, clip.left, clip.top};
    surface.m_clip = clip;
}

ClipScope::~ClipScope() {
    m_surface.m_clip = m_saved;
    --m_surface.m_clip_depth;
}

} // namespace skin
