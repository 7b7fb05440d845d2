#pragma once

// Text of the program is UTF-16 (std::u16string); these are the shared helpers around it.

#include "foundation/unicode.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// One character per byte: for ASCII literals.
std::u16string widen(std::string_view narrow);

// Conversions at the operating-system boundary (foundation/unicode.h). By default bytes that
// are not UTF-8 are carried as escapes that to_utf8 turns back into the same bytes, so any
// file name makes the round trip; Utf8Errors::Replace shows them as U+FFFD instead.
std::string to_utf8(std::u16string_view text);
std::u16string from_utf8(std::string_view text, Utf8Errors errors = Utf8Errors::Escape);

// Lower-cased in the user's locale.
std::u16string to_lower(std::u16string_view text);

[[nodiscard]] bool starts_with(std::u16string_view text, std::u16string_view literal);

// Decimal texts as by "%d", "%ld" and "%f".
std::u16string to_text(int32_t value);
std::u16string to_text(long value);
std::u16string to_text(double value);

// Bytes as digits of an alphabet whose usable size is the largest power of two not above its
// length (fatal error under 2 characters), most significant bit first, the last group zero-padded.
std::u16string to_base_n(const std::vector<uint8_t>& bytes, std::u16string_view alphabet);
std::vector<uint8_t> from_base_n(std::u16string_view text, std::u16string_view alphabet);

} // namespace foundation
