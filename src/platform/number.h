#pragma once

// The program's one way to read a number from text: the whole text must be the number and the
// number must fit its type, or there is none. Nothing else (no blanks, no trailing characters,
// no wrapping round) is accepted; a leading '+' is, as people type it.

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace platform {

// An integer in `base` (2-36), or with base 0 as C reads it: "0x" or "0X" before hexadecimal
// digits, a leading 0 before octal ones, decimal otherwise. A '-' only for signed types.
// A floating-point type reads decimal and exponent forms ("2.5", "1e-3", "inf").
template <typename T>
[[nodiscard]] std::optional<T> parse_number(std::string_view text, int base = 10) {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    T value{};
    std::from_chars_result result{};
    if constexpr (std::is_floating_point_v<T>) {
        result = std::from_chars(text.data(), text.data() + text.size(), value);
    } else {
        if (base == 0) {
            const bool negative = !text.empty() && text[0] == '-';
            const std::string_view digits = text.substr(negative ? 1 : 0);
            base = 10;
            size_t prefix = 0;
            if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
                base = 16, prefix = 2;
            else if (digits.size() > 1 && digits[0] == '0')
                base = 8, prefix = 1;
            if (prefix > 0) {
                if (digits[prefix] == '-' || digits[prefix] == '+')
                    return std::nullopt;
                const auto magnitude = parse_number<T>(digits.substr(prefix), base);
                if (!negative || !magnitude)
                    return magnitude;
                return parse_number<T>("-" + std::string(digits.substr(prefix)), base);
            }
        }
        result = std::from_chars(text.data(), text.data() + text.size(), value, base);
    }
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// The same for UTF-16 text: any character outside ASCII makes it no number.
template <typename T>
[[nodiscard]] std::optional<T> parse_number(std::u16string_view text, int base = 10) {
    std::string narrow(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] > 0x7F)
            return std::nullopt;
        narrow[i] = char(text[i]);
    }
    return parse_number<T>(std::string_view(narrow), base);
}

} // namespace platform
