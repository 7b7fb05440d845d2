#include "skin/waveform.h"

#include "skin/form.h"
#include "skin/properties.h"
#include "skin/surface.h"

#include <algorithm>
#include <cmath>

namespace skin {

void Waveform::load(Properties& properties, NodeDir dir) {
    Button::load(properties, dir);
    m_color = properties.get_color(dir, u"color", SkinColor{});
    m_peak_color = properties.get_color(dir, u"peak_color", m_color);
    m_played_color = properties.get_color(dir, u"played_color", m_color);
    m_played_peak_color = properties.get_color(dir, u"played_peak_color", m_played_color);
    m_line_color = properties.get_color(dir, u"line_color", m_peak_color);
    m_marker_color = properties.get_color(dir, u"marker_color", m_played_color);
}

void Waveform::set_columns(std::vector<Column> columns) {
    m_columns = std::move(columns);
    invalidate();
}

void Waveform::scroll_columns(const std::vector<Column>& fresh) {
    if (fresh.empty())
        return;
    if (!can_scroll(fresh.size())) {
        m_columns.insert(m_columns.end(), fresh.begin(), fresh.end());
        if (m_columns.size() > size_t(std::max(0, width())))
            m_columns.erase(m_columns.begin(),
                            m_columns.end() - std::max<std::ptrdiff_t>(0, width()));
        invalidate();
        return;
    }
    std::move(m_columns.begin() + std::ptrdiff_t(fresh.size()), m_columns.end(), m_columns.begin());
    std::copy(fresh.begin(), fresh.end(), m_columns.end() - std::ptrdiff_t(fresh.size()));
    // The damage is only the strip of the new columns.
    form()->add_scroll(rect(), -int32_t(fresh.size()));
    invalidate(Rect{});
}

bool Waveform::can_scroll(size_t count) const {
    return form() && shown() && m_plain_backdrop && m_columns.size() == size_t(width()) &&
           count < m_columns.size() && m_played == 0 && m_markers.empty() && caption().empty() &&
           children().empty() && !covered_by_later_components();
}

// Whether something drawn after it lies over it, or an ancestor keeps a prepared rendering
// (whose backdrop is not the screen's).
bool Waveform::covered_by_later_components() const {
    const Component* path = this;
    for (const Component* parent = this->parent(); parent;
         path = parent, parent = parent->parent()) {
        if (parent->cache())
            return true;
        bool later = false;
        for (const auto& child : parent->children()) {
            if (child.get() == path) {
                later = true;
                continue;
            }
            if (later && child->shown() && !child->rect().intersect(rect()).empty())
                return true;
        }
    }
    return false;
}

void Waveform::set_played(double fraction) {
    fraction = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    // Redrawn only when the played edge moves by a pixel.
    if (int32_t(fraction * width()) != int32_t(m_played * width()))
        invalidate();
    m_played = fraction;
}

void Waveform::set_markers(std::vector<int64_t> times_ms, int64_t duration_ms) {
    m_markers = std::move(times_ms);
    m_duration_ms = duration_ms;
    invalidate();
}

double Waveform::fraction_at(int32_t pen_x) const {
    if (width() <= 1)
        return 0.0;
    return std::clamp(double(pen_x - x()) / double(width() - 1), 0.0, 1.0);
}

void Waveform::draw(RenderSurface& target, SkinPoint origin) {
    const int32_t left = origin.x + x();
    const int32_t top = origin.y + y();
    const int32_t w = width();
    const int32_t h = height();
    if (w > 0 && h > 0) {
        // Drawn whole: whether what lies under it is the same along each row, so that its
        // picture may move sideways.
        const Rect whole = Rect::of_size(left, top, w, h);
        if (target.surface() && target.clip().intersect(whole) == whole &&
            whole.intersect(Rect{0, 0, target.width(), target.height()}) == whole) {
            m_plain_backdrop = true;
            for (int32_t y = top; y < top + h && m_plain_backdrop; ++y) {
                const uint16_t* row = target.surface()->row(y) + left;
                m_plain_backdrop =
                    std::all_of(row, row + w, [&](uint16_t p) { return p == row[0]; });
            }
        }
        const int32_t middle = top + h / 2;
        const int32_t half = std::max(1, h / 2);
        const int32_t played = int32_t(m_played * w);
        const int32_t known = std::min<int32_t>(w, int32_t(m_columns.size()));
        const int32_t line = std::clamp(h / 48, 1, 2);
        target.fill(Rect::of_size(left + known, middle - line / 2, w - known, line),
                    Blend::fill(m_line_color.to_565()));
        // Only the columns inside the clip (a strip of new ones, often).
        const int32_t first = std::clamp(target.clip().left - left, 0, known);
        const int32_t last = std::clamp(target.clip().right - left, first, known);
        for (int32_t px = first; px < last; ++px) {
            const Column& column = m_columns[size_t(px)];
            const bool done = px < played;
            const int32_t peak = std::max(line, int32_t(std::lround(column.peak * half)));
            const int32_t rms = std::min(peak, int32_t(std::lround(column.rms * half)));
            target.fill(Rect::of_size(left + px, middle - peak, 1, 2 * peak),
                        Blend::fill((done ? m_played_peak_color : m_peak_color).to_565()));
            if (rms > 0)
                target.fill(Rect::of_size(left + px, middle - rms, 1, 2 * rms),
                            Blend::fill((done ? m_played_color : m_color).to_565()));
        }
        if (m_duration_ms > 0) {
            const int32_t tick = std::max(1, h / 32);
            for (int64_t at : m_markers) {
                if (at < 0 || at > m_duration_ms)
                    continue;
                const int32_t px = int32_t(double(at) / double(m_duration_ms) * (w - tick));
                target.fill(Rect::of_size(left + px, top, tick, h),
                            Blend::fill(m_marker_color.to_565()));
            }
        }
    }
    Button::draw(target, origin);
}

} // namespace skin
