// ID3 tags from arbitrary bytes: parsed without reading past the tag or the file; an accepted
// tag's texts and chapter markers are decoded, and the tag written out again parses back with
// the same frames and the same markers. A
// title change of the file either leaves the file as it was or gives it the new title with
// the audio after the tag untouched.

#include "formats/id3_tag.h"
#include "foundation/file.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> file_bytes(const std::u16string& path) {
    foundation::File file(path, foundation::File::Read);
    std::vector<uint8_t> bytes(size_t(file.size()));
    if (!bytes.empty() && file.read(bytes.data(), uint32_t(bytes.size())) != bytes.size())
        __builtin_trap();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string path = fuzz::write_input(data, size, "input.mp3");
    formats::Id3Tag tag;
    uint32_t tag_size = 0;
    {
        foundation::File file(path, foundation::File::Read);
        tag_size = tag.parse(file);
    }
    if (tag_size == 0)
        return 0;
    if (tag_size > size)
        __builtin_trap();
    for (const char* id : {formats::kId3Artist, formats::kId3Title, formats::kId3Album,
                           formats::kId3Genre, formats::kId3Year, formats::kId3Track})
        (void)tag.text(id);
    for (const formats::Id3Frame& frame : tag.frames())
        (void)tag.text(frame.id);

    // Chapters however damaged read as a list in time order.
    const std::vector<formats::Marker> markers = tag.markers();
    for (size_t i = 1; i < markers.size(); ++i)
        if (markers[i].time_ms < markers[i - 1].time_ms)
            __builtin_trap();

    // The tag written anew parses back with the same frames and markers.
    formats::Id3Tag changed = tag;
    changed.set_text(formats::kId3Title, u"Fuzz \u00e9t\u00e9");
    const bool markers_set = changed.set_markers(markers, uint32_t(size));
    // 2.2 tags have no chapter frames.
    if (markers_set != (markers.size() <= formats::kMaxMarkers && changed.written_version() != 2))
        __builtin_trap();
    std::u16string copy_path = path + u".copy";
    {
        foundation::File copy(copy_path, foundation::File::WriteNew);
        if (changed.write(copy, 0)) {
            copy.close();
            foundation::File again(copy_path, foundation::File::Read);
            formats::Id3Tag reread;
            if (reread.parse(again) == 0 || reread.frames().size() != changed.frames().size() ||
                reread.text(formats::kId3Title) != changed.text(formats::kId3Title) ||
                (markers_set && reread.markers() != markers))
                __builtin_trap();
        }
    }

    // A title change of the file: in place when it fits, else by writing the file anew.
    std::u16string title = size % 2 ? u"A title that fits" : std::u16string(300, u'\u0416');
    formats::Id3Update update = formats::set_file_text(path, formats::kId3Title, title);
    std::vector<uint8_t> after = file_bytes(path);
    if (update != formats::Id3Update::Written) {
        if (after != std::vector<uint8_t>(data, data + size))
            __builtin_trap();
        return 0;
    }
    formats::Id3Tag renamed;
    uint32_t new_size = 0;
    {
        foundation::File file(path, foundation::File::Read);
        new_size = renamed.parse(file);
    }
    if (new_size == 0 || renamed.text(formats::kId3Title) != title ||
        std::vector<uint8_t>(after.begin() + new_size, after.end()) !=
            std::vector<uint8_t>(data + tag_size, data + size))
        __builtin_trap();
    return 0;
}
