#pragma once

// "ticks": marker ticks across a slider, as a button over it. Each marker is a short upright
// line at its share of the record's length, from the left edge (the start) to the right edge
// (the end); a press reports the point to the listener as a button does, and tick_at() tells
// which tick a point falls on.
//
// Attributes: `color` the ticks, `tick_width` their width in design pixels (default 2).

#include "skin/button.h"
#include "skin/skin_color.h"

#include <cstdint>
#include <vector>

namespace skin {

class MarkerTicks : public Button {
public:
    explicit MarkerTicks(Component* parent) : Button(parent) {}
    std::u16string_view type_name() const override { return u"ticks"; }

    void load(Properties& properties, NodeDir dir) override;
    void draw(RenderSurface& target, SkinPoint origin) override;

    // Marker times and the record's duration, in milliseconds.
    void set_markers(std::vector<int64_t> times_ms, int64_t duration_ms);
    const std::vector<int64_t>& markers() const { return m_markers; }
    // The x (form coordinates) of the tick of marker `index`.
    int32_t tick_x(size_t index) const;
    // The marker whose tick is nearest to a pen x, if it lies within `reach` pixels; else -1.
    int tick_at(int32_t pen_x, int32_t reach) const;

private:
    std::vector<int64_t> m_markers;
    int64_t m_duration_ms{0};
    SkinColor m_color;
    int32_t m_tick_width{2};
};

} // namespace skin
