#include "skin/skin_picture.h"

#include <algorithm>
#include <vector>

namespace skin {

namespace {

// A run along one axis: destination start and length, and the source start.
struct Run {
    int32_t dest;
    int32_t length;
    int32_t source;
};

// Tiles of the middle are made only where they meet [visible_start, visible_end), so a huge
// destination costs no more than the visible part.
void split_axis(int32_t length, int32_t outer_min, int32_t inner_min, int32_t inner_max,
                int32_t outer_max, int32_t visible_start, int32_t visible_end,
                std::vector<Run>& runs) {
    runs.clear();
    if (length < 1)
        return;
    int32_t start = inner_min - outer_min;
    int32_t end = outer_max - inner_max;
    int32_t middle = inner_max - inner_min;
    if (start < 0 || end < 0 || middle < 0)
        return;
    if (int64_t(length) > int64_t(start) + end) {
        if (start > 0)
            runs.push_back({0, start, outer_min});
        if (middle > 0) {
            int32_t stop = std::min(length - end, visible_end);
            int32_t at = start;
            if (visible_start > start)
                at += (visible_start - start) / middle * middle;
            for (; at < stop; at += middle)
                runs.push_back({at, std::min(middle, length - end - at), inner_min});
        }
        if (end > 0)
            runs.push_back({length - end, end, inner_max});
        return;
    }
    int32_t a = length / 2;
    int32_t b = (length - 1) / 2;
    if (a > start) {
        b += a - start;
        a = start;
    }
    if (b > end) {
        a += b - end;
        b = end;
    }
    if (a > 0)
        runs.push_back({0, a, outer_min});
    if (middle > 0)
        runs.push_back({a, 1, inner_min});
    if (b > 0)
        runs.push_back({length - b, b, outer_max - b});
}

} // namespace

SkinPicture::SkinPicture(std::shared_ptr<const Bitmap> bitmap, SkinPoint outer_min,
                         SkinPoint inner_min, SkinPoint inner_max, SkinPoint outer_max, bool flag,
                         Scale pixel_scale)
    : m_bitmap(std::move(bitmap)), m_outer_min(outer_min), m_inner_min(inner_min),
      m_inner_max(inner_max), m_outer_max(outer_max), m_flag(flag), m_pixel_scale(pixel_scale) {}

SkinPicture::SkinPicture(std::shared_ptr<const Bitmap> bitmap, const PictureRecord& record,
                         Scale pixel_scale)
    : SkinPicture(std::move(bitmap), record.outer_min, record.inner_min, record.inner_max,
                  record.outer_max, record.flag, pixel_scale) {}

SkinPoint SkinPicture::natural_size() const {
    return SkinPoint{m_outer_max.x - m_outer_min.x, m_outer_max.y - m_outer_min.y};
}

void SkinPicture::draw(RenderSurface& target, const Rect& dest, const Blend& blend) const {
    if (!m_bitmap || !target.surface() || dest.empty())
        return;
    Rect visible = dest.intersect(target.clip());
    if (visible.empty())
        return;
    thread_local std::vector<Run> columns, rows;
    split_axis(dest.width(), m_outer_min.x, m_inner_min.x, m_inner_max.x, m_outer_max.x,
               visible.left - dest.left, visible.right - dest.left, columns);
    split_axis(dest.height(), m_outer_min.y, m_inner_min.y, m_inner_max.y, m_outer_max.y,
               visible.top - dest.top, visible.bottom - dest.top, rows);
    const Surface& source = m_bitmap->surface();
    Surface& out = *target.surface();
    for (const Run& row : rows) {
        int32_t y = dest.top + row.dest;
        if (y >= visible.bottom || y + row.length <= visible.top)
            continue;
        for (const Run& column : columns) {
            int32_t x = dest.left + column.dest;
            if (x >= visible.right || x + column.length <= visible.left)
                continue;
            blit(out, x, y, column.length, row.length, source, column.source, row.source, visible,
                 blend, m_pixel_scale);
        }
    }
}

} // namespace skin
