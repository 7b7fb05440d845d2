#pragma once

// "progress": a bar whose "#line" child shows a fraction of the bar's spare length on each
// axis; its other children are laid out normally.

#include "skin/component.h"

namespace skin {

class Progress : public Component {
public:
    explicit Progress(Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"progress"; }

    void load(Properties& properties, NodeDir dir) override;
    void lay_out_children_x() override;
    void lay_out_children_y() override;

    double value() const { return m_value; }
    // Clamped to 0.0 .. 1.0 (not-a-number is 0).
    void set_value(double value);
    Component* line() const { return m_line; }

private:
    void lay_out(Axis axis);

    Component* m_line{nullptr};
    double m_value{0.0};
};

} // namespace skin
