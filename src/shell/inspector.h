#pragma once

// The visible form tree as JSON, for end-to-end tests and skin authors: per component its type,
// id, rectangle in window pixels, shown and enabled states, text where it has one, a progress
// bar's value, children.

#include "foundation/rect.h"

#include <string>
#include <vector>

namespace skin {
class Component;
class Form;
} // namespace skin

namespace shell {

struct InspectedForm {
    const skin::Form* form;
    bool overlay;
};

// {"screen": {"width": W, "height": H}, "transition": bool, "forms": [ ...bottom to top... ]}
// with each component as {"type", "id", "rect": [x, y, width, height], "shown", "enabled",
// "text"?, "value"? (a progress bar's, 0 to 1), "children": [...]}. Form coordinates are moved by
// the client area's origin.
std::string inspect_json(const std::vector<InspectedForm>& forms, const foundation::Rect& client,
                         bool transition);

// Writes text to path through a temporary file renamed over it, so a reader never sees half.
bool write_file_atomically(const std::string& path, const std::string& text);

} // namespace shell
