#include "formats/marker.h"

#include "foundation/text.h"

#include <algorithm>
#include <cstdio>

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
    uint64_t fields[3] = {0, 0, 0};
    int count = 0;
    uint64_t fraction_ms = 0;
    size_t i = 0;
    const size_t n = text.size();
    if (n == 0 || n > 32)
        return false;
    for (;;) {
        if (count == 3 || i >= n || text[i] < '0' || text[i] > '9')
            return false;
        uint64_t value = 0;
        while (i < n && text[i] >= '0' && text[i] <= '9')
            value = value * 10 + uint64_t(text[i++] - '0');
        fields[count++] = value;
        if (i == n)
            break;
        if (text[i] == ':') {
            ++i;
            continue;
        }
        if (text[i] != '.')
            return false;
        ++i;
        if (i == n)
            return false;
        uint64_t scale = 100;
        while (i < n && text[i] >= '0' && text[i] <= '9') {
            fraction_ms += uint64_t(text[i++] - '0') * scale;
            scale /= 10;
        }
        if (i != n)
            return false;
        break;
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
