#include "skin/marker_ticks.h"

#include "skin/properties.h"
#include "skin/surface.h"

#include <algorithm>
#include <cstdlib>

namespace skin {

void MarkerTicks::load(Properties& properties, NodeDir dir) {
    Button::load(properties, dir);
    m_color = properties.get_color(dir, u"color", SkinColor{});
    m_tick_width = std::max(1, properties.scale().apply(properties.get_int(dir, u"tick_width", 2)));
}

void MarkerTicks::set_markers(std::vector<int64_t> times_ms, int64_t duration_ms) {
    if (times_ms == m_markers && duration_ms == m_duration_ms)
        return;
    m_markers = std::move(times_ms);
    m_duration_ms = duration_ms;
    invalidate();
}

int32_t MarkerTicks::tick_x(size_t index) const {
    if (index >= m_markers.size() || m_duration_ms <= 0)
        return x();
    const double share = std::clamp(double(m_markers[index]) / double(m_duration_ms), 0.0, 1.0);
    return x() + int32_t(share * double(std::max(0, width() - 1)) + 0.5);
}

int MarkerTicks::tick_at(int32_t pen_x, int32_t reach) const {
    int best = -1;
    int32_t best_distance = reach + 1;
    for (size_t i = 0; i < m_markers.size(); ++i) {
        const int32_t distance = std::abs(tick_x(i) - pen_x);
        if (distance < best_distance) {
            best = int(i);
            best_distance = distance;
        }
    }
    return best;
}

void MarkerTicks::draw(RenderSurface& target, SkinPoint origin) {
    if (m_duration_ms > 0 && width() > 0 && height() > 0) {
        for (size_t i = 0; i < m_markers.size(); ++i) {
            if (m_markers[i] < 0 || m_markers[i] > m_duration_ms)
                continue;
            const int32_t at = origin.x + tick_x(i) - m_tick_width / 2;
            target.fill(Rect::of_size(at, origin.y + y(), m_tick_width, height()),
                        Blend::fill(m_color.to_565()));
        }
    }
    Button::draw(target, origin);
}

} // namespace skin
