#pragma once

// Looking up a kind's named children right after its children were created.

#include "skin/component.h"
#include "skin/exceptions.h"

#include <string>
#include <string_view>

namespace skin {

// The descendant with this id, its size listener cleared; none when absent.
inline Component* named_child(const Component& owner, std::u16string_view id) {
    Component* child = owner.find_child(id);
    if (child)
        child->set_size_listener(nullptr);
    return child;
}

// As named_child, but a missing one raises virire::NodeNotFound (owner's id, child's id).
inline Component& required_child(const Component& owner, std::u16string_view id) {
    Component* child = named_child(owner, id);
    if (!child)
        throw virire::NodeNotFound(owner.id(), std::u16string(id));
    return *child;
}

} // namespace skin
