#pragma once

// Texts and choices the screens share: the time format of the recording and playback forms,
// and which location picture a record gets.

#include <cstdint>
#include <string>
#include <string_view>

namespace screens {

// "h:mm:ss" below ten hours ("0:05:07"), else "<hours> h"; negative and not-a-number give 0.
std::u16string format_time(double seconds);

// The name of the location picture of a file: "main_memory" or "card", with "_incoming" or
// "_outgoing" for records in those sub-folders. documents_folder: the expanded documents
// folder (main memory); a path that begins with it lies in main memory.
std::u16string location_picture_name(std::u16string_view path,
                                     std::u16string_view documents_folder);

// Whether a path lies under the folder (its text begins with it).
bool lies_under(std::u16string_view path, std::u16string_view folder);

} // namespace screens
