#pragma once

// The plain container ("node"): no pixels of its own; its children are placed by the plain
// container rule and drawn in order, later ones over earlier ones.

#include "skin/component.h"

namespace skin {

class Container : public Component {
public:
    explicit Container(Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"node"; }
};

} // namespace skin
