#include "foundation/text.h"

#include "foundation/log.h"
#include "platform/locale.h"

#include <cstdio>

namespace foundation {

std::u16string widen(std::string_view narrow) {
    std::u16string out;
    out.reserve(narrow.size());
    for (char c : narrow)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::string to_utf8(std::u16string_view text) {
    return utf16_to_utf8(text);
}

std::u16string from_utf8(std::string_view text, Utf8Errors errors) {
    return utf8_to_utf16(text, errors);
}

std::u16string to_lower(std::u16string_view text) {
    return platform::lower_case(text);
}

bool starts_with(std::u16string_view text, std::u16string_view literal) {
    return text.substr(0, literal.size()) == literal;
}

std::u16string to_text(int32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", value);
    return widen(buffer);
}

std::u16string to_text(long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%ld", value);
    return widen(buffer);
}

std::u16string to_text(double value) {
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%f", value);
    return widen(buffer);
}

namespace {
unsigned bits_of(std::u16string_view alphabet, const char16_t* place) {
    if (alphabet.size() < 2)
        fatal_error(place, u"Alphabet size is too small");
    unsigned bits = 0;
    while ((size_t(2) << bits) <= alphabet.size())
        ++bits;
    return bits;
}
} // namespace

std::u16string to_base_n(const std::vector<uint8_t>& bytes, std::u16string_view alphabet) {
    unsigned bits = bits_of(alphabet, u"to_base_n");
    std::u16string out;
    out.reserve((bytes.size() * 8 + bits - 1) / bits);
    uint32_t acc = 0;
    unsigned pending = 0;
    const uint32_t mask = (1u << bits) - 1;
    for (uint8_t byte : bytes) {
        acc = (acc << 8) | byte;
        pending += 8;
        while (pending >= bits) {
            pending -= bits;
            out.push_back(alphabet[(acc >> pending) & mask]);
        }
        acc &= (1u << pending) - 1;
    }
    if (pending > 0)
        out.push_back(alphabet[(acc << (bits - pending)) & mask]);
    return out;
}

std::vector<uint8_t> from_base_n(std::u16string_view text, std::u16string_view alphabet) {
    unsigned bits = bits_of(alphabet, u"from_base_n");
    const size_t usable = size_t(1) << bits;
    std::vector<uint8_t> out;
    out.reserve(text.size() * bits / 8);
    uint32_t acc = 0;
    unsigned pending = 0;
    for (char16_t c : text) {
        // A character outside the usable alphabet counts as digit zero.
        size_t index = alphabet.substr(0, usable).find(c);
        if (index == std::u16string_view::npos)
            index = 0;
        acc = (acc << bits) | uint32_t(index);
        pending += bits;
        if (pending >= 8) {
            pending -= 8;
            out.push_back(uint8_t(acc >> pending));
            acc &= (1u << pending) - 1;
        }
    }
    return out;
}

} // namespace foundation
