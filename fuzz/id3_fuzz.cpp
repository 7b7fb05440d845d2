// ID3 tags from arbitrary bytes: parsed without reading past the tag or the file; an accepted
// tag's texts are decoded, and the tag written out again parses back with the same frames.

#include "formats/id3_tag.h"
#include "foundation/file.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string path = fuzz::write_input(data, size, "input.mp3");
    foundation::File file(path, foundation::File::Read);
    formats::Id3Tag tag;
    uint32_t tag_size = tag.parse(file);
    if (tag_size == 0)
        return 0;
    if (tag_size > size)
        __builtin_trap();
    for (const char* id : {formats::kId3Artist, formats::kId3Title, formats::kId3Album,
                           formats::kId3Genre, formats::kId3Year, formats::kId3Track})
        (void)tag.text(id);
    for (const formats::Id3Frame& frame : tag.frames())
        (void)tag.text(frame.id);

    tag.set_text(formats::kId3Title, u"Fuzz \u00e9t\u00e9");
    std::u16string copy_path = path + u".copy";
    foundation::File copy(copy_path, foundation::File::WriteNew);
    if (!tag.write(copy, 0))
        return 0;
    copy.close();
    foundation::File again(copy_path, foundation::File::Read);
    formats::Id3Tag reread;
    if (reread.parse(again) == 0 || reread.frames().size() != tag.frames().size() ||
        reread.text(formats::kId3Title) != tag.text(formats::kId3Title))
        __builtin_trap();
    return 0;
}
