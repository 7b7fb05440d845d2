#pragma once

// The user's locale: case mapping and date/time texts (ICU underneath).

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

std::u16string lower_case(std::u16string_view text);

} // namespace platform
