// The skin image reader refuses damaged images: a compiled skin patched field by field.

#include "forms_fixture.h"
#include "skin/skin_image.h"
#include "skin_source.h"

#include <gtest/gtest.h>
#include <vector>

using namespace skin;
using forms_test::patched;

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
        {"magic", patched(c.bytes, 0, 0x0422, 2)},
        {"root past the end", patched(c.bytes, 72, size)},
        {"pool past the end", patched(c.bytes, 84, size + 8)},
        {"string count", patched(c.bytes, 88, 0x7FFFFFFF)},
        {"picture count", patched(c.bytes, 76, 1000)},
        {"child past the end", patched(c.bytes, d + 16, size - 8)},
        {"child is its own parent", patched(c.bytes, d + 16, d)},
        {"section end past the end", patched(c.bytes, d + 12, 0xFFF0, 2)},
        {"integers not 8-byte records", patched(c.bytes, d + 2, c.u16(d) + 12, 2)},
        {"sections over the children", patched(c.bytes, d, 8, 2)},
        {"child count", patched(c.bytes, d + 14, 5000, 2)},
        {"name unterminated", patched(c.bytes, integer, size - 1, 2)},
        {"integers unsorted", unsorted},
        {"font index", patched(c.bytes, c.section(SkinImage::Fonts) + 4, 1)},
        {"string index", patched(c.bytes, c.section(SkinImage::Strings) + 2, 2, 2)},
        {"picture index", patched(c.bytes, c.section(SkinImage::Pictures) + 18, 1, 1)},
    };
    for (size_t cut : {size_t(100), c.bytes.size() - 1, c.bytes.size() - 20})
        cases.push_back({"cut", {c.bytes.begin(), c.bytes.begin() + cut}});
    for (const Case& k : cases)
        EXPECT_FALSE(SkinImage::from_bytes(k.bytes)) << k.what;

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
    EXPECT_FALSE(SkinImage::from_bytes(patched(bytes, child + (left ? 0 : 4), root))); // a loop
    // The child on the wrong side of the root.
    const auto swapped = patched(bytes, root + (left ? 4 : 0), child);
    EXPECT_FALSE(SkinImage::from_bytes(patched(swapped, root + (left ? 0 : 4), 0xFFFFFFFF)));
}

} // namespace
