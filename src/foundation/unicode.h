#pragma once

// Text between UTF-8 and UTF-16, the one conversion of the platform layer (platform/utf.h).

#include "platform/utf.h"

namespace foundation {

using platform::append_utf16;
using platform::code_point_at;
using platform::is_escaped_byte;
using platform::is_high_surrogate;
using platform::is_low_surrogate;
using platform::is_pair_at;
using platform::is_surrogate;
using platform::replacement_character;
using platform::utf16_to_utf8;
using platform::utf8_sequence;
using platform::utf8_to_utf16;
using platform::Utf8Errors;
using platform::whole_characters;

} // namespace foundation
