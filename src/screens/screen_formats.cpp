#include "screens/screen_formats.h"

#include <cmath>

namespace screens {

namespace {

std::u16string ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string two_digits(uint64_t n) {
    const uint64_t last = n % 100;
    return ascii(std::string(1, char('0' + last / 10)) + char('0' + last % 10));
}

} // namespace

std::u16string format_time(double seconds) {
    if (!(seconds > 0))
        seconds = 0;
    if (seconds > 1e15)
        seconds = 1e15;
    const auto s = uint64_t(seconds);
    const uint64_t h = s / 3600;
    if (h >= 10)
        return ascii(std::to_string(h)) + u" h";
    return ascii(std::to_string(h)) + u":" + two_digits((s / 60) % 60) + u":" + two_digits(s % 60);
}

bool lies_under(std::u16string_view path, std::u16string_view folder) {
    return !folder.empty() && path.substr(0, folder.size()) == folder;
}

std::u16string location_picture_name(std::u16string_view path,
                                     std::u16string_view documents_folder) {
    std::u16string name = lies_under(path, documents_folder) ? u"main_memory" : u"card";
    // The sub-folder is the name of the folder that holds the file.
    const size_t slash = path.find_last_of(u'/');
    std::u16string_view folder =
        slash == std::u16string_view::npos ? std::u16string_view{} : path.substr(0, slash);
    const size_t parent = folder.find_last_of(u'/');
    if (parent != std::u16string_view::npos)
        folder = folder.substr(parent + 1);
    if (folder == u"Incoming")
        name += u"_incoming";
    else if (folder == u"Outgoing")
        name += u"_outgoing";
    return name;
}

} // namespace screens
