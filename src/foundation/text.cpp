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
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
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

std::u16string from_utf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        uint8_t b = uint8_t(text[i]);
        uint32_t c = 0xFFFD;
        size_t extra = 0;
        uint32_t min = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F, extra = 1, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F, extra = 2, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07, extra = 3, min = 0x10000;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= extra; ++j) {
            if (i + j >= text.size() || (uint8_t(text[i + j]) & 0xC0) != 0x80)
                break;
            c = (c << 6) | (uint8_t(text[i + j]) & 0x3F);
        }
        if (j <= extra || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(0xFFFD);
            i += j;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
    }
    return out;
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
