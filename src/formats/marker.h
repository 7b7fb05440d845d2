#pragma once

// A marker: a named moment in a record, kept in the record's own file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace formats {

struct Marker {
    uint32_t time_ms{0}; // from the start of the audio, in file time
    std::u16string label;

    [[nodiscard]] bool operator==(const Marker&) const = default;
};

// A table of contents lists at most 255 chapters.
inline constexpr size_t kMaxMarkers = 255;

// "Marker 1", "Marker 2", ...: the label of a new marker.
std::u16string default_marker_label(size_t number);

// Markers at or before the end of the audio (duration_ms); later ones point past the end.
std::vector<Marker> markers_within(std::vector<Marker> markers, uint32_t duration_ms);

// Parses a time given as seconds ("75", "75.5"), minutes and seconds ("1:15.5") or hours,
// minutes and seconds ("1:01:15"); false for anything else.
[[nodiscard]] bool parse_marker_time(const std::string& text, uint32_t& time_ms);
// "m:ss.mmm", or "h:mm:ss.mmm" from one hour on.
std::string format_marker_time(uint32_t time_ms);

} // namespace formats
