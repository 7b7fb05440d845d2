// The skin image reader against binary images put together byte by byte here, independent of
// the skin compiler.

#include "skin/exceptions.h"
#include "skin/skin_image.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace skin;

namespace {

constexpr uint32_t none = 0xFFFFFFFF;

class Image {
public:
    Image() {
        bytes.assign(92, 0);
        const uint16_t magic[4] = {0x0421, 0x043A, 0x0438, 0x043D};
        for (int i = 0; i < 4; ++i)
            set16(2 * i, magic[i]);
        set32(72, none);
    }
    uint32_t here() const { return static_cast<uint32_t>(bytes.size()); }
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    uint32_t text(std::u16string_view value) {
        uint32_t at = here();
        for (char16_t c : value)
            u16(c);
        u16(0);
        return at;
    }
    void align() {
        while (bytes.size() % 4)
            u8(0);
    }
    void set16(size_t at, uint16_t v) {
        bytes[at] = uint8_t(v);
        bytes[at + 1] = uint8_t(v >> 8);
    }
    void set32(size_t at, uint32_t v) {
        set16(at, uint16_t(v));
        set16(at + 2, uint16_t(v >> 16));
    }
    // The text pool: pictures, fonts, strings.
    void pool(std::vector<std::u16string> pictures, std::vector<std::u16string> fonts,
              std::vector<std::u16string> strings) {
        set32(84, here());
        set32(76, uint32_t(pictures.size()));
        set32(80, uint32_t(fonts.size()));
        set32(88, uint32_t(strings.size()));
        for (auto* list : {&pictures, &fonts, &strings})
            for (auto& t : *list)
                text(t);
    }
    // A directory with the given section record bytes (already sorted) and child slots.
    uint32_t directory(const std::vector<std::vector<uint8_t>>& sections, uint16_t children) {
        align();
        uint32_t dir = here();
        uint16_t bound = uint16_t(16 + 4 * children);
        std::vector<uint16_t> bounds{bound};
        for (auto& s : sections) {
            bound = uint16_t(bound + s.size());
            bounds.push_back(bound);
        }
        while (bounds.size() < 7)
            bounds.push_back(bound);
        for (uint16_t b : bounds)
            u16(b);
        u16(children);
        for (int i = 0; i < children; ++i)
            u32(none);
        for (auto& s : sections)
            bytes.insert(bytes.end(), s.begin(), s.end());
        return dir;
    }
    uint32_t named(uint32_t name) {
        align();
        uint32_t record = here();
        u32(none);
        u32(none);
        u32(name);
        return record;
    }
    std::unique_ptr<SkinImage> load() const { return SkinImage::from_bytes(bytes); }

    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> rec(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> out;
    for (uint16_t w : words) {
        out.push_back(uint8_t(w));
        out.push_back(uint8_t(w >> 8));
    }
    return out;
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// One named node "Form" carrying one attribute "a" of every kind (and "b" as an integer and a
// colour), and one child with no attributes.
struct FullImage {
    Image image;
    uint32_t dir{0}, child{0};

    FullImage() {
        uint32_t a = image.text(u"a"), b = image.text(u"b"), form = image.text(u"Form");
        image.pool({u"pic"}, {u"14 1 0 0 Verdana"}, {u"zero", u"one"});
        uint32_t record = image.named(form);
        image.set32(72, record);
        auto integers = cat({rec({uint16_t(a), 0, 0x5678, 0x1234}), rec({uint16_t(b), 0, 7, 0})});
        auto fonts = rec({uint16_t(a), 0, 0, 0});
        auto points = rec({uint16_t(a), 0, 3, uint16_t(-2)});
        auto strings = rec({uint16_t(a), 1});
        auto pictures = cat({rec({uint16_t(a), 0, 0, 4, 4, 12, 12, 16, 16}), {0, 1}});
        auto colors = cat(
            {rec({uint16_t(a), 0}), {0x12, 0x34, 0x56, 0}, rec({uint16_t(b), 0}), {1, 2, 3, 0}});
        dir = image.directory({integers, fonts, points, strings, pictures, colors}, 1);
        child = image.directory({}, 0);
        image.set32(dir + 16, child);
    }
};

} // namespace

TEST(SkinImage, ReadsEveryAttributeKind) {
    FullImage full;
    auto skin = full.image.load();
    ASSERT_TRUE(skin) << SkinImage::last_error();
    NodeDir dir = skin->find_named_node(u"Form");
    ASSERT_EQ(dir.offset, full.dir);
    EXPECT_EQ(skin->get_integer(dir, u"a", 0), 0x12345678u);
    EXPECT_EQ(skin->get_integer(dir, u"b", 0), 7u);
    EXPECT_EQ(skin->find_font(dir, u"a"), 0u);
    EXPECT_EQ(skin->get_point(dir, u"a", {}), (SkinPoint{3, -2}));
    EXPECT_EQ(skin->find_string(dir, u"a"), 1u);
    EXPECT_EQ(skin->string_at(1), u"one");
    auto picture = skin->find_picture(dir, u"a");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->outer_min, (SkinPoint{0, 0}));
    EXPECT_EQ(picture->inner_min, (SkinPoint{4, 4}));
    EXPECT_EQ(picture->inner_max, (SkinPoint{12, 12}));
    EXPECT_EQ(picture->outer_max, (SkinPoint{16, 16}));
    EXPECT_EQ(picture->picture, 0u);
    EXPECT_TRUE(picture->flag);
    EXPECT_EQ(skin->get_color(dir, u"a", {}), (SkinColor{0x12, 0x34, 0x56, 255}));
    EXPECT_EQ(skin->get_color(dir, u"a", {}).to_565(),
              ((0x12 & 0xF8) << 8) | ((0x34 & 0xFC) << 3) | (0x56 >> 3));
    EXPECT_EQ(skin->picture_name(0), u"pic");
    EXPECT_EQ(skin->font_spec(0), u"14 1 0 0 Verdana");
    EXPECT_TRUE(skin->has_integers(dir));
    EXPECT_TRUE(skin->has_points(dir));
    EXPECT_EQ(skin->child_count(dir), 1u);
    EXPECT_EQ(skin->child(dir, 0).offset, full.child);
    EXPECT_FALSE(skin->child(dir, 1).valid());
}

TEST(SkinImage, EachKindHasItsOwnSectionAndMissesGiveDefaults) {
    FullImage full;
    auto skin = full.image.load();
    ASSERT_TRUE(skin);
    NodeDir dir{full.dir};
    // "b" is an integer and a colour only.
    EXPECT_FALSE(skin->find_point(dir, u"b"));
    EXPECT_FALSE(skin->find_font(dir, u"b"));
    EXPECT_EQ(skin->get_point(dir, u"b", {5, 6}), (SkinPoint{5, 6}));
    EXPECT_EQ(skin->get_integer(dir, u"", 9), 9u);
    EXPECT_EQ(skin->get_integer(dir, u"aa", 9), 9u); // "a" is a prefix of "aa"
    // A directory whose boundaries are all equal answers every lookup with the default.
    NodeDir empty{full.child};
    EXPECT_FALSE(skin->has_integers(empty));
    EXPECT_FALSE(skin->has_points(empty));
    EXPECT_EQ(skin->get_integer(empty, u"a", 42), 42u);
    EXPECT_EQ(skin->get_color(empty, u"a", SkinColor{1, 2, 3, 4}), (SkinColor{1, 2, 3, 4}));
    EXPECT_FALSE(skin->find_picture(empty, u"a"));
    EXPECT_FALSE(skin->find_string(empty, u"a"));
}

TEST(SkinImage, HiresShiftDoublesPointsAndCornersButNotDefaults) {
    FullImage full;
    auto skin = full.image.load();
    ASSERT_TRUE(skin);
    skin->set_scale(2);
    NodeDir dir{full.dir};
    EXPECT_EQ(skin->get_point(dir, u"a", {}), (SkinPoint{6, -4}));
    EXPECT_EQ(skin->get_point(dir, u"zz", {3, -2}), (SkinPoint{3, -2}));
    auto picture = skin->find_picture(dir, u"a");
    EXPECT_EQ(picture->inner_min, (SkinPoint{8, 8}));
    EXPECT_EQ(picture->outer_max, (SkinPoint{32, 32}));
}

TEST(SkinImage, BinarySearchFindsEveryRecordOfALongSection) {
    Image image;
    std::vector<uint32_t> names;
    std::vector<std::u16string> texts;
    for (int i = 0; i < 37; ++i) {
        std::u16string t = u"n";
        t += char16_t(u'A' + i); // ascending code units, including some above 'Z'
        texts.push_back(t);
        names.push_back(image.text(t));
    }
    image.pool({}, {}, {});
    std::vector<uint8_t> integers;
    for (int i = 0; i < 37; ++i) {
        auto r = rec({uint16_t(names[i]), 0, uint16_t(100 + i), 0});
        integers.insert(integers.end(), r.begin(), r.end());
    }
    uint32_t record = image.named(image.text(u"N"));
    image.set32(72, record);
    uint32_t dir = image.directory({integers}, 0);
    ASSERT_EQ(dir, record + 12);
    auto skin = image.load();
    ASSERT_TRUE(skin) << SkinImage::last_error();
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ(skin->get_integer(NodeDir{dir}, texts[i], 0), 100u + i);
    EXPECT_FALSE(skin->find_integer(NodeDir{dir}, u"n"));
    EXPECT_FALSE(skin->find_integer(NodeDir{dir}, u"nZZ"));
    EXPECT_FALSE(skin->find_integer(NodeDir{dir}, u"o"));
}

TEST(SkinImage, NamedNodeTreeSearchGoesLeftAndRight) {
    Image image;
    uint32_t n_b = image.text(u"Beta"), n_a = image.text(u"Alpha"), n_c = image.text(u"Gamma");
    uint32_t n_ab = image.text(u"Alphabet");
    image.pool({}, {}, {});
    uint32_t root = image.named(n_b);
    uint32_t root_dir = image.directory({}, 0);
    uint32_t left = image.named(n_a);
    uint32_t left_dir = image.directory({}, 0);
    uint32_t left_right = image.named(n_ab);
    uint32_t left_right_dir = image.directory({}, 0);
    uint32_t right = image.named(n_c);
    uint32_t right_dir = image.directory({}, 0);
    image.set32(root, left);
    image.set32(root + 4, right);
    image.set32(left + 4, left_right);
    image.set32(72, root);
    auto skin = image.load();
    ASSERT_TRUE(skin) << SkinImage::last_error();
    EXPECT_EQ(skin->find_named_node(u"Beta").offset, root_dir);
    EXPECT_EQ(skin->find_named_node(u"Alpha").offset, left_dir);
    EXPECT_EQ(skin->find_named_node(u"Alphabet").offset, left_right_dir);
    EXPECT_EQ(skin->find_named_node(u"Gamma").offset, right_dir);
    EXPECT_FALSE(skin->find_named_node(u"Alph").valid());
    EXPECT_FALSE(skin->find_named_node(u"Delta").valid());
    EXPECT_FALSE(skin->find_named_node(u"").valid());
    EXPECT_EQ(skin->named_nodes().size(), 4u);

    Image no_root;
    no_root.pool({}, {}, {});
    auto empty = no_root.load();
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->find_named_node(u"Beta").valid());
}

TEST(SkinImage, RefusesBrokenImages) {
    FullImage good;
    ASSERT_TRUE(good.image.load());
    auto refused = [](std::vector<uint8_t> bytes) { return !SkinImage::from_bytes(bytes); };

    auto bytes = good.image.bytes;
    EXPECT_TRUE(refused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 91)));
    EXPECT_TRUE(refused({}));
    for (size_t cut : {size_t(100), bytes.size() - 1, bytes.size() - 20})
        EXPECT_TRUE(refused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut))) << cut;

    auto patched = [&](size_t at, uint32_t value, int width = 4) {
        Image copy = good.image;
        if (width == 4)
            copy.set32(at, value);
        else if (width == 2)
            copy.set16(at, uint16_t(value));
        else
            copy.bytes[at] = uint8_t(value);
        return copy.bytes;
    };
    EXPECT_TRUE(refused(patched(0, 0x0422, 2)));                   // magic
    EXPECT_TRUE(refused(patched(72, uint32_t(bytes.size()))));     // root past the end
    EXPECT_TRUE(refused(patched(84, uint32_t(bytes.size()) + 8))); // pool past the end
    EXPECT_TRUE(refused(patched(88, 0x7FFFFFFF)));                 // string count
    EXPECT_TRUE(refused(patched(76, 1000)));                       // picture count
    uint32_t d = good.dir;
    EXPECT_TRUE(refused(patched(d + 16, uint32_t(bytes.size()) - 8))); // child past the end
    EXPECT_TRUE(refused(patched(d + 16, d)));                          // child is its own parent
    EXPECT_TRUE(refused(patched(d + 12, 0xFFF0, 2)));                  // section end past the end
    EXPECT_TRUE(refused(patched(d + 2, 16 + 4 + 12, 2))); // integers not 8-byte records
    EXPECT_TRUE(refused(patched(d + 0, 8, 2)));           // sections over the children
    EXPECT_TRUE(refused(patched(d + 14, 5000, 2)));       // child count
    uint32_t first_integer = d + 20;
    EXPECT_TRUE(
        refused(patched(first_integer, uint32_t(bytes.size()) - 1, 2))); // name unterminated
    // Integers "a", "b" swapped by name: unsorted.
    Image unsorted = good.image;
    uint16_t a = uint16_t(unsorted.bytes[first_integer] | unsorted.bytes[first_integer + 1] << 8);
    uint16_t b =
        uint16_t(unsorted.bytes[first_integer + 8] | unsorted.bytes[first_integer + 9] << 8);
    unsorted.set16(first_integer, b);
    unsorted.set16(first_integer + 8, a);
    EXPECT_TRUE(refused(unsorted.bytes));
    EXPECT_NE(SkinImage::last_error().find("sorted"), std::string::npos);
    // Indices past their tables.
    uint32_t font = d + 16 + 4 + 16;
    EXPECT_TRUE(refused(patched(font + 4, 1)));
    uint32_t string = font + 8 + 8;
    EXPECT_TRUE(refused(patched(string + 2, 2, 2)));
    uint32_t picture = string + 4;
    EXPECT_TRUE(refused(patched(picture + 18, 1, 1)));
}

TEST(SkinImage, RefusesNamedTreeLoopsAndDisorder) {
    Image image;
    uint32_t n_a = image.text(u"A"), n_b = image.text(u"B");
    image.pool({}, {}, {});
    uint32_t root = image.named(n_b);
    image.directory({}, 0);
    uint32_t left = image.named(n_a);
    image.directory({}, 0);
    image.set32(72, root);
    image.set32(root, left);
    ASSERT_TRUE(image.load());
    Image loop = image;
    loop.set32(left, root);
    EXPECT_FALSE(loop.load());
    Image disorder = image;
    disorder.set32(root, none);
    disorder.set32(root + 4, left); // "A" on the right of "B"
    EXPECT_FALSE(disorder.load());
}

TEST(SkinExceptions, CarryTheirNames) {
    try {
        throw virire::NodeNotFound(u"frmMain", u"btnRecord");
    } catch (const virire::NodeNotFound& e) {
        EXPECT_EQ(e.form_id(), u"frmMain");
        EXPECT_EQ(e.child_id(), u"btnRecord");
        EXPECT_STREQ(e.what(), "NodeNotFound: frmMain / btnRecord");
    }
    EXPECT_THROW(throw virire::NodeNotFoundInSkin(u"FormMain"), virire::SkinError);
    EXPECT_EQ(virire::NodeNotRegistered(u"button").type_name(), u"button");
    EXPECT_EQ(virire::NodeAlreadyRegistered(u"label").type_name(), u"label");
}
