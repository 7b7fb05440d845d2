#include "formats/marker.h"

#include "foundation/number.h"
#include "foundation/text.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace formats {

std::u16string default_marker_label(size_t number) {
    return u"Marker " + foundation::from_utf8(std::to_string(number));
}

std::vector<Marker> markers_within(std::vector<Marker> markers, uint32_t duration_ms) {
    markers.erase(std::remove_if(markers.begin(), markers.end(),
                                 [&](const Marker& m) { return m.time_ms > duration_ms; }),
                  markers.end());
    return markers;
}

bool parse_marker_time(const std::string& text, uint32_t& time_ms) {
    // Up to three fields separated by ':', the last with an optional fraction.
    if (text.empty() || text.size() > 32)
        return false;
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    const size_t dot = text.find('.');
    uint64_t fraction_ms = 0;
    if (dot != std::string::npos) {
        std::string digits = text.substr(dot + 1);
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), is_digit))
            return false;
        digits.resize(3, '0'); // milliseconds; finer digits are cut off
        fraction_ms = foundation::parse_number<uint64_t>(digits).value_or(0);
    }
    uint64_t fields[3] = {0, 0, 0};
    int count = 0;
    std::string_view rest = std::string_view(text).substr(0, dot);
    for (;;) {
        const size_t colon = rest.find(':');
        const std::string_view field = rest.substr(0, colon);
        const auto value = field.empty() || !is_digit(field[0])
                               ? std::nullopt
                               : foundation::parse_number<uint64_t>(field);
        // No field of a time that fits the markers' milliseconds is above 2^32.
        if (count == 3 || !value || *value > 0xFFFFFFFFull)
            return false;
        fields[count++] = *value;
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    // Minutes and seconds below 60 when a larger unit is given.
    for (int k = 1; k < count; ++k)
        if (fields[k] >= 60)
            return false;
    uint64_t seconds = 0;
    for (int k = 0; k < count; ++k)
        seconds = seconds * 60 + fields[k];
    const uint64_t total = seconds * 1000 + fraction_ms;
    if (total > 0xFFFFFFFEull)
        return false;
    time_ms = uint32_t(total);
    return true;
}

std::string format_marker_time(uint32_t time_ms) {
    const uint32_t ms = time_ms % 1000;
    const uint32_t s = time_ms / 1000;
    char text[40];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u.%03u", s / 3600, s / 60 % 60, s % 60, ms);
    else
        std::snprintf(text, sizeof text, "%u:%02u.%03u", s / 60, s % 60, ms);
    return text;
}

} // namespace formats
