// The skin compiler: source -> binary -> reader round trips, dumps, errors, and pictures.

#include "foundation/text.h"
#include "png_convert.h"
#include "skin/bitmap.h"
#include "skin/blend.h"
#include "skin/skin_image.h"
#include "skin_source.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>

using namespace skinc;
using skin::NodeDir;
using skin::SkinColor;
using skin::SkinImage;
using skin::SkinPoint;

namespace {

const char* full_source = R"(# every kind of attribute
picture frame
picture "odd name"
font title = "14 1 0 0 Verdana"
string greeting = "Hello"

node FormMain {
    type "form"
    id "frmMain"
    int cache = 1
    int cache_alpha = 0xFFFFFFFF
    int negative = -5
    point border_min = 3, -2
    point design_size = 240,320
    color back = #102030
    color fore = 255, 0, 128
    font font = title
    font inline_font = "9 0 1 0"
    string text = greeting
    string caption = "Caf\u00e9 \"quoted\"\n"
    picture bg = frame outer 0,0 16,16 inner 4,4 12,12 flag 1
    picture other = "odd name" outer 2,3 10,11
    node {
        id "first"
        node { id "grandchild" }
    }
    node { id "second" }
}
node Alpha { }
node Beta { int x = 1 }
node Gamma { }
node Delta { }
)";

Skin parse(const std::string& text) {
    return parse_skin(text, "test.skn");
}

std::unique_ptr<SkinImage> compile(const std::string& text) {
    auto bytes = write_skin(parse(text), "test.skn");
    auto image = SkinImage::from_bytes(bytes);
    EXPECT_TRUE(image) << SkinImage::last_error();
    return image;
}

std::u16string string_of(const SkinImage& image, NodeDir dir, std::u16string_view name) {
    auto index = image.find_string(dir, name);
    return index ? image.string_at(*index) : u"<none>";
}

std::string error_of(const std::string& text) {
    try {
        write_skin(parse(text), "test.skn");
    } catch (const SourceError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

// What the source says is what the reader finds, in the forms the skin tests do not read.
TEST(Skinc, EveryAttributeReadsBackAndDumpsToTheSameBytes) {
    auto image = compile(full_source);
    ASSERT_TRUE(image);
    NodeDir form = image->find_named_node(u"FormMain");
    ASSERT_TRUE(form.valid());
    EXPECT_EQ(image->get_integer(form, u"cache_alpha", 0), 0xFFFFFFFFu);
    EXPECT_EQ(image->get_point(form, u"border_min", {}), (SkinPoint{3, -2}));
    EXPECT_EQ(image->get_color(form, u"fore", {}), (SkinColor{255, 0, 128, 255}));
    EXPECT_EQ(image->font_spec(*image->find_font(form, u"inline_font")), u"9 0 1 0");
    EXPECT_EQ(string_of(*image, form, u"caption"), u"Caf\u00e9 \"quoted\"\n");
    auto other = image->find_picture(form, u"other");
    ASSERT_TRUE(other);
    EXPECT_EQ(image->picture_name(other->picture), u"odd name");
    EXPECT_EQ(other->inner_min, (SkinPoint{2, 3})); // inner defaults to outer
    EXPECT_FALSE(other->flag);
    ASSERT_EQ(image->child_count(form), 2u);
    EXPECT_EQ(string_of(*image, image->child(image->child(form, 0), 0), u"id"), u"grandchild");
    EXPECT_EQ(image->get_integer(image->find_named_node(u"Beta"), u"x", 0), 1u);
}

TEST(Skinc, EveryNamedNodeIsFoundAndErrorsNameTheFileLineAndReason) {
    std::string source;
    for (int i = 0; i < 100; ++i)
        source += "node N" + std::to_string(1000 + i * 7 % 100) +
                  " { int v = " + std::to_string(i * 7 % 100) + " }\n";
    auto image = compile(source);
    ASSERT_TRUE(image);
    for (int k = 0; k < 100; ++k) {
        NodeDir node = image->find_named_node(foundation::widen("N" + std::to_string(1000 + k)));
        EXPECT_EQ(image->get_integer(node, u"v", 999), uint32_t(k));
    }

    // Attribute names must fit in the first 64 KiB.
    std::string crowded = "node A {\n";
    for (int i = 0; i < 1200; ++i)
        crowded += "int name_" + std::string(20, 'x') + std::to_string(i) + " = 1\n";
    crowded += "}\n";
    EXPECT_NE(error_of(crowded).find("65536"), std::string::npos) << error_of(crowded);

    auto bytes = write_skin(parse(full_source), "test.skn");
    std::string reason;
    std::string dumped = dump_skin(bytes, &reason);
    ASSERT_FALSE(dumped.empty()) << reason;
    EXPECT_NE(dumped.find("node FormMain"), std::string::npos);
    EXPECT_EQ(write_skin(parse(dumped), "dump.skn"), bytes) << dumped;

    bytes[2] = 0;
    EXPECT_TRUE(dump_skin(bytes, &reason).empty());
    EXPECT_EQ(reason, "wrong magic");

    struct Case {
        const char* source;
        const char* expected;
    };
    const Case cases[] = {
        {"node A {\n  int x = \n}\n", "test.skn:3: expected integer"},
        {"node A {\n  real x = 1\n}", "test.skn:2: unknown attribute kind 'real'"},
        {"node A {\n\n  string s = \"open\n}", "test.skn:3: unterminated string"},
        {"node A {\n  int x = 1\n  int x = 2\n}", "test.skn:3: int 'x' given twice"},
        {"node A {\n  picture p = nothing\n}", "test.skn:2: no picture named 'nothing'"},
        {"node A {\n  font f = nofont\n}", "test.skn:2: no font named 'nofont'"},
        {"node A {\n  point p = 1, 40000\n}", "test.skn:2: y 40000 out of range"},
        {"node A {\n  color c = #12345\n}", "test.skn:2: a colour is # and six hex digits"},
        {"node A {\n  color c = 1, 2, 300\n}", "test.skn:2: blue 300 out of range"},
        {"node A {\n  int x = 4294967296\n}", "test.skn:2: integer 4294967296 out of range"},
        {"widget A { }", "test.skn:1: unknown declaration 'widget'"},
        {"node A { }\nnode A { }", "test.skn:2: node 'A' declared twice"},
        {"node A {\n int x = 1\n", "test.skn:3: expected an attribute or 'node' before the end"},
        {"picture p\nnode A {\n picture q = p\n}", "test.skn:3: picture 'p' has no file"},
        {"picture p\nnode A {\n picture q = p outer 0,0 8,8 inner 6,6 4,4\n}",
         "test.skn:3: picture corners must run"},
        {"picture p = \"missing.png\"", "test.skn:1: cannot open"},
        {"node A {\n string s = \"bad \\q\"\n}", "test.skn:2: unknown escape"},
        {"node A { @ }", "test.skn:1: unexpected character '@'"},
    };
    for (const Case& c : cases) {
        std::string error = error_of(c.source);
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.source << "\n -> " << error;
    }
    std::string deep;
    for (int i = 0; i < 100; ++i)
        deep += i ? "node {\n" : "node A {\n";
    EXPECT_NE(error_of(deep).find("nested too deeply"), std::string::npos);
}

// A converted pixel drawn over any background at keyed level 2 (what the soft pixels are made
// for) lands within a quarter of the way from the ideal alpha mix, never carries into the next
// channel.
TEST(Skinc, PicturesBecome16BitBitmapsThatBlendCloseToTheirAlpha) {
    EXPECT_NE(skin_pixel(255, 0, 255, 255), skin::key_color); // opaque magenta
    const skin::Blend level2 = skin::Blend::keyed(2);
    for (int alpha = 0; alpha < 256; alpha += 5) {
        for (uint8_t colour : {uint8_t(0), uint8_t(90), uint8_t(255)}) {
            for (uint16_t target_red : {0, 31}) {
                SCOPED_TRACE(testing::Message()
                             << alpha << " " << int(colour) << " " << target_red);
                const uint16_t pixel = skin_pixel(colour, 0, 0, uint8_t(alpha));
                uint16_t target = uint16_t(target_red << 11);
                level2.copy_span()(&target, &pixel, 1, level2);
                const double ideal =
                    alpha / 255.0 * (colour >> 3) + (1 - alpha / 255.0) * target_red;
                const double span = std::abs((colour >> 3) - double(target_red));
                EXPECT_LE(std::abs((target >> 11) - ideal), span / 4 + 1.5);
                EXPECT_EQ(target & 0x07DF, 0); // nothing carried into green or blue
            }
        }
    }

    testing_support::TempDir dir;
    std::vector<uint16_t> pixels(5 * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint16_t(0x1234 * (i + 1));
    ASSERT_TRUE(write_png_565(dir / "art.png", 5, 3, pixels.data(), 10));
    RgbaImage image;
    std::string reason;
    ASSERT_TRUE(read_png(dir / "art.png", image, reason)) << reason;
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.pixels[3], 255);

    const std::filesystem::path file = dir / "skin.skn";
    std::ofstream(file) << "picture art = \"art.png\"\nnode A {\n picture p = art\n}\n";
    Skin skin = parse_skin_file(file);
    ASSERT_EQ(skin.pictures[0].width, 5);
    write_pictures(skin, dir / "out", file.string());
    const std::string bmp = testing_support::read_whole_file(dir / "out" / "art.bmp");
    auto bitmap = skin::decode_bmp_565(std::vector<uint8_t>(bmp.begin(), bmp.end()), u"art");
    ASSERT_TRUE(bitmap);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(bitmap->surface().pixel(x, y), pixels[y * 5 + x] | skin::opaque_bit);
    // The whole picture is the default rectangle.
    auto compiled = SkinImage::from_bytes(write_skin(skin, "skin.skn"));
    auto p = compiled->find_picture(compiled->find_named_node(u"A"), u"p");
    EXPECT_EQ(p->outer_max, (SkinPoint{5, 3}));

    std::ofstream(dir / "not.png") << "not a png";
    EXPECT_FALSE(read_png(dir / "not.png", image, reason));
    std::ofstream(dir / "bad.skn") << "picture x = \"not.png\"\n";
    EXPECT_THROW(parse_skin_file(dir / "bad.skn"), SourceError);

    // The sample skin compiles, and its pictures load at their sizes.
    const std::filesystem::path sample =
        std::filesystem::path(QV_SOURCE_DIR) / "data/skins/src/sample.skn";
    Skin shipped = parse_skin_file(sample);
    const auto bytes = write_skin(shipped, sample.string());
    write_pictures(shipped, dir.path(), sample.string());
    std::ofstream(dir / "sample.skin", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto loaded = SkinImage::load((dir / "sample.skin").u16string());
    ASSERT_TRUE(loaded) << SkinImage::last_error();
    for (uint32_t i = 0; i < loaded->picture_count(); ++i) {
        auto picture =
            skin::load_565(skin::picture_path(dir.path().u16string(), loaded->picture_name(i)));
        ASSERT_TRUE(picture) << i;
        EXPECT_EQ(picture->width(), shipped.pictures[i].width);
        EXPECT_EQ(picture->height(), shipped.pictures[i].height);
    }
    EXPECT_TRUE(loaded->find_picture(loaded->find_named_node(u"Record"), u"icon"));
}
