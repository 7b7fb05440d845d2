#pragma once

// A row ("htable", along x) or a column ("vtable", along y) of its visible children. Along its
// axis each child gets its minimum size, then growth towards its preferred size and a share of
// the spare room by table_ratio; across, the children are placed like in a plain container.

#include "skin/component.h"

namespace skin {

class Table : public Component {
public:
    Table(Component* parent, Axis axis) : Component(parent), m_axis(axis) {}
    std::u16string_view type_name() const override {
        return m_axis == Axis::X ? u"htable" : u"vtable";
    }
    Axis axis() const { return m_axis; }

    void lay_out_children_x() override;
    void lay_out_children_y() override;
    Measure measure_width() override;
    Measure measure_height() override;

private:
    Measure measure_along();
    void lay_out_along();

    Axis m_axis;
};

} // namespace skin
