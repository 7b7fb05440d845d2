#pragma once

// The program's one rectangle (platform/rect.h).

#include "platform/rect.h"

namespace foundation {

using platform::Rect;

} // namespace foundation
