#pragma once

// Numbers from text, read the one way the platform layer reads them too.

#include "platform/number.h"

namespace foundation {

using platform::parse_number;

} // namespace foundation
