#include "skin/progress.h"

#include "skin/named_child.h"

#include <cmath>

namespace skin {

void Progress::load(Properties& properties, NodeDir dir) {
    Component::load(properties, dir);
    m_line = named_child(*this, u"#line");
}

void Progress::set_value(double value) {
    if (!(value > 0.0))
        value = 0.0;
    if (value > 1.0)
        value = 1.0;
    if (value == m_value)
        return;
    m_value = value;
    lay_out_children_x();
    lay_out_children_y();
    invalidate();
}

void Progress::lay_out_children_x() {
    lay_out(Axis::X);
}

void Progress::lay_out_children_y() {
    lay_out(Axis::Y);
}

void Progress::lay_out(Axis axis) {
    const Range own = range(axis);
    for (const auto& child : children()) {
        LayoutItem item = child->layout_item(axis);
        if (child.get() == m_line) {
            const int64_t spare = int64_t(own.size) - layout::room(item.mode, item.b0, 0, item.b1);
            const double share = std::floor(double(spare) * m_value);
            const int32_t s = share < 1.0 ? 0 : int32_t(share);
            item.measure = Measure{s, s};
            // The line keeps its share: it is placed at its natural size.
            Range r = layout::place_plain(item, own.position, own.size);
            if (item.mode == Anchor::BothSide)
                r.size = s;
            child->set_range(axis, r);
        } else {
            child->set_range(axis, layout::place_plain(item, own.position, own.size));
        }
    }
}

} // namespace skin
