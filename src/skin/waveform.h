#pragma once

// "waveform": a record's waveform as a button across its rectangle. Each pixel column shows
// one column of the waveform: the peak as a light bar and the RMS as a strong one, both
// around the middle line; the part already played takes the accent colours, and markers are
// thin ticks over the whole height. A press or a drag on it reports the point to its listener
// as a button does (the screen turns it into a seek). Columns not known yet (a waveform still
// being made) are drawn as the middle line alone.
//
// Attributes (colours): `color` the RMS, `peak_color` the peaks, `played_color` and
// `played_peak_color` the same for the played part, `line_color` the middle line,
// `marker_color` the marker ticks.

#include "skin/button.h"
#include "skin/skin_color.h"

#include <cstdint>
#include <vector>

namespace skin {

class Waveform : public Button {
public:
    struct Column {
        float peak{0}; // fractions of full scale
        float rms{0};
    };

    explicit Waveform(Component* parent) : Button(parent) {}
    std::u16string_view type_name() const override { return u"waveform"; }

    void load(Properties& properties, NodeDir dir) override;
    void draw(RenderSurface& target, SkinPoint origin) override;

    // One column per pixel of the width, from the left; fewer when only part is known.
    void set_columns(std::vector<Column> columns);
    // A live waveform: the columns move left by as many as come, which join at the right edge.
    // On a screen that keeps its picture only the new columns are drawn when nothing lies over
    // the waveform and what lies under it looks the same along each row (the old ones move).
    void scroll_columns(const std::vector<Column>& fresh);
    const std::vector<Column>& columns() const { return m_columns; }
    // The played share, 0..1.
    void set_played(double fraction);
    double played() const { return m_played; }
    // Marker times and the record's duration, in milliseconds.
    void set_markers(std::vector<int64_t> times_ms, int64_t duration_ms);
    // The share of the width at a pen x (in form coordinates), 0..1.
    double fraction_at(int32_t pen_x) const;

private:
    bool can_scroll(size_t count) const;
    bool covered_by_later_components() const;

    std::vector<Column> m_columns;
    bool m_plain_backdrop{false}; // seen when last drawn whole
    std::vector<int64_t> m_markers;
    int64_t m_duration_ms{0};
    double m_played{0};
    SkinColor m_color, m_peak_color, m_played_color, m_played_peak_color, m_line_color,
        m_marker_color;
};

} // namespace skin
