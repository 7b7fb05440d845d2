#include "skin/table.h"

#include <vector>

namespace skin {

void Table::lay_out_children_x() {
    if (m_axis == Axis::X)
        lay_out_along();
    else
        lay_out_plain(Axis::X);
}

void Table::lay_out_children_y() {
    if (m_axis == Axis::Y)
        lay_out_along();
    else
        lay_out_plain(Axis::Y);
}

Measure Table::measure_width() {
    return m_axis == Axis::X ? measure_along() : Component::measure_width();
}

Measure Table::measure_height() {
    return m_axis == Axis::Y ? measure_along() : Component::measure_height();
}

Measure Table::measure_along() {
    std::vector<LayoutItem> items;
    for (const auto& child : children())
        if (child->visible())
            items.push_back(child->layout_item(m_axis));
    return layout::measure_table(m_axis == Axis::X ? design_size().x : design_size().y, items);
}

void Table::lay_out_along() {
    std::vector<LayoutItem> items;
    std::vector<Component*> placed;
    for (const auto& child : children())
        if (child->visible()) {
            items.push_back(child->layout_item(m_axis));
            placed.push_back(child.get());
        }
    std::vector<Range> ranges(items.size());
    const Range own = range(m_axis);
    layout::place_table(items, own.position, own.size, ranges);
    for (size_t i = 0; i < placed.size(); ++i)
        placed[i]->set_range(m_axis, ranges[i]);
}

} // namespace skin
