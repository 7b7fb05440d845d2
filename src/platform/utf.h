#pragma once

// The program's one conversion between UTF-8 and UTF-16, for the platform layer and (through
// foundation/unicode.h) everything above it.
//
// The conversion is reversible for any bytes. Decoding with `Utf8Errors::Escape` turns each
// byte that does not belong to a well-formed UTF-8 sequence (0x80-0xFF) into the lone low
// surrogate U+DC80-U+DCFF, and encoding turns such a lone surrogate back into its byte. A file
// name that is not valid UTF-8 thus survives the way up into the program's text and back down
// to the file system unchanged. `Utf8Errors::Replace` gives U+FFFD for each such byte instead
// (text meant for people: contact cards, typed text).
//
// Encoding writes well-formed UTF-8 only: surrogate pairs become one four-byte sequence, an
// escaped byte becomes itself, and any other lone surrogate becomes U+FFFD.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class Utf8Errors { Escape, Replace };

inline constexpr char16_t replacement_character = 0xFFFD;

[[nodiscard]] inline bool is_escaped_byte(char16_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

inline bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
inline bool is_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}
// True when text[i] begins a surrogate pair.
inline bool is_pair_at(std::u16string_view text, size_t i) {
    return is_high_surrogate(text[i]) && i + 1 < text.size() && is_low_surrogate(text[i + 1]);
}

// The code point at text[i], and in `length` how many units (1 or 2) it takes; a surrogate
// without its partner is U+FFFD.
inline char32_t code_point_at(std::u16string_view text, size_t i, size_t& length) {
    if (is_pair_at(text, i)) {
        length = 2;
        return 0x10000 + ((char32_t(text[i]) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
    }
    length = 1;
    return is_surrogate(text[i]) ? char32_t(replacement_character) : char32_t(text[i]);
}

// Appends a code point (at most U+10FFFF) as one unit or a surrogate pair.
inline void append_utf16(std::u16string& out, uint32_t code) {
    if (code >= 0x10000) {
        code -= 0x10000;
        out.push_back(char16_t(0xD800 + (code >> 10)));
        out.push_back(char16_t(0xDC00 + (code & 0x3FF)));
    } else {
        out.push_back(char16_t(code));
    }
}

// The text with every surrogate that has no partner made U+FFFD: text read from a file that
// must read back as it is written.
inline std::u16string whole_characters(std::u16string text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (is_pair_at(text, i))
            ++i;
        else if (is_surrogate(text[i]))
            text[i] = 0xFFFD;
    }
    return text;
}

// The length (1-4) of the well-formed UTF-8 sequence at text[i], with its code point; 0 when
// the bytes there are not one.
inline size_t utf8_sequence(std::string_view text, size_t i, uint32_t& code) {
    const auto byte = [&](size_t k) { return uint32_t(uint8_t(text[k])); };
    const uint32_t b0 = byte(i);
    if (b0 < 0x80) {
        code = b0;
        return 1;
    }
    size_t length;
    uint32_t lowest;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        length = 2, lowest = 0x80, code = b0 & 0x1F;
    else if (b0 >= 0xE0 && b0 <= 0xEF)
        length = 3, lowest = 0x800, code = b0 & 0x0F;
    else if (b0 >= 0xF0 && b0 <= 0xF4)
        length = 4, lowest = 0x10000, code = b0 & 0x07;
    else
        return 0;
    if (text.size() - i < length)
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const uint32_t b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (b & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

inline std::u16string utf8_to_utf16(std::string_view text, Utf8Errors errors = Utf8Errors::Escape) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        uint32_t code = 0;
        const size_t length = utf8_sequence(text, i, code);
        if (length == 0) {
            out.push_back(errors == Utf8Errors::Escape ? char16_t(0xDC00 + uint8_t(text[i]))
                                                       : replacement_character);
            ++i;
            continue;
        }
        i += length;
        append_utf16(out, code);
    }
    return out;
}

inline std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (is_escaped_byte(text[i])) {
            out.push_back(char(text[i] - 0xDC00));
            continue;
        }
        size_t length = 1;
        const uint32_t c = code_point_at(text, i, length);
        i += length - 1;
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace platform
