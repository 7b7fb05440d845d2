// The skin image reader refuses damaged images: a compiled skin patched field by field.

#include "skin/skin_image.h"
#include "skin_source.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace skin;

namespace {

// One named node "Form" with an attribute "a" of every kind and one child without attributes.
const char* form_source = R"(
picture pic
node Form {
    int a = 0x12345678
    int b = 7
    font a = "14 1 0 0 Verdana"
    point a = 3, -2
    string a = "one"
    picture a = pic outer 0,0 16,16 inner 4,4 12,12 flag 1
    color a = #123456
    color b = 1, 2, 3
    node { }
}
)";

struct Compiled {
    std::vector<uint8_t> bytes = skinc::write_skin(skinc::parse_skin(form_source, "t.skn"), "t");
    uint32_t dir = SkinImage::from_bytes(bytes)->find_named_node(u"Form").offset;

    uint32_t u16(size_t at) const { return uint32_t(bytes[at] | bytes[at + 1] << 8); }
    // Where a section's records start: the directory's bound for it.
    uint32_t section(SkinImage::Section s) const { return dir + u16(dir + 2 * s); }
    std::vector<uint8_t> patched(size_t at, uint32_t value, int width = 4) const {
        std::vector<uint8_t> copy = bytes;
        for (int i = 0; i < width; ++i)
            copy[at + i] = uint8_t(value >> (8 * i));
        return copy;
    }
};

TEST(SkinImage, RefusesBrokenImages) {
    const Compiled c;
    ASSERT_TRUE(SkinImage::from_bytes(c.bytes));
    const uint32_t size = uint32_t(c.bytes.size()), d = c.dir;
    const uint32_t integer = c.section(SkinImage::Integers);
    std::vector<uint8_t> unsorted = c.bytes; // "a" and "b" swapped by name
    std::swap(unsorted[integer], unsorted[integer + 8]);
    std::swap(unsorted[integer + 1], unsorted[integer + 9]);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"empty", {}},
        {"header cut", {c.bytes.begin(), c.bytes.begin() + 91}},
        {"magic", c.patched(0, 0x0422, 2)},
        {"root past the end", c.patched(72, size)},
        {"pool past the end", c.patched(84, size + 8)},
        {"string count", c.patched(88, 0x7FFFFFFF)},
        {"picture count", c.patched(76, 1000)},
        {"child past the end", c.patched(d + 16, size - 8)},
        {"child is its own parent", c.patched(d + 16, d)},
        {"section end past the end", c.patched(d + 12, 0xFFF0, 2)},
        {"integers not 8-byte records", c.patched(d + 2, c.u16(d) + 12, 2)},
        {"sections over the children", c.patched(d, 8, 2)},
        {"child count", c.patched(d + 14, 5000, 2)},
        {"name unterminated", c.patched(integer, size - 1, 2)},
        {"integers unsorted", unsorted},
        {"font index", c.patched(c.section(SkinImage::Fonts) + 4, 1)},
        {"string index", c.patched(c.section(SkinImage::Strings) + 2, 2, 2)},
        {"picture index", c.patched(c.section(SkinImage::Pictures) + 18, 1, 1)},
    };
    for (size_t cut : {size_t(100), c.bytes.size() - 1, c.bytes.size() - 20})
        cases.push_back({"cut", {c.bytes.begin(), c.bytes.begin() + cut}});
    for (const Case& k : cases)
        EXPECT_FALSE(SkinImage::from_bytes(k.bytes)) << k.what;
}

TEST(SkinImage, RefusesNamedTreeLoopsAndDisorder) {
    const std::vector<uint8_t> bytes =
        skinc::write_skin(skinc::parse_skin("node A { }\nnode B { }\n", "t.skn"), "t");
    auto image = SkinImage::from_bytes(bytes);
    ASSERT_TRUE(image);
    // The two named records: the root and its one child, on the left or the right.
    auto u32 = [&](size_t at) {
        return uint32_t(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24);
    };
    const uint32_t root = u32(72);
    const bool left = u32(root) != 0xFFFFFFFF;
    const uint32_t child = left ? u32(root) : u32(root + 4);
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> copy = bytes;
        for (int i = 0; i < 4; ++i)
            copy[at + i] = uint8_t(value >> (8 * i));
        return copy;
    };
    EXPECT_FALSE(SkinImage::from_bytes(patched(child + (left ? 0 : 4), root))); // a loop
    // The child on the wrong side of the root.
    auto swapped = patched(root + (left ? 4 : 0), child);
    for (int i = 0; i < 4; ++i)
        swapped[root + (left ? 0 : 4) + i] = 0xFF;
    EXPECT_FALSE(SkinImage::from_bytes(swapped));
}

} // namespace
