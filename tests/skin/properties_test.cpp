// Skin loading: the tables, the scale, replacing a skin only by a whole one, reload listeners.

#include "skin/font_rep.h"
#include "skin/properties.h"
#include "support/temp_dir.h"
#include "support/test_skin.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace skin;
using testing_support::write_test_bitmap;
using testing_support::write_test_skin;

namespace {

const char* full_skin = R"(
picture frame
font title = "14 1 0 0 DejaVu Sans"
font short = "9 1"
string greeting = "Hello"
node FormMain {
    type "form"
    int negative = -7
    point border_min = 3, -2
    color back = #102030
    font font = title
    font other = short
    string text = greeting
    picture bg = frame outer 0,0 8,8 inner 2,2 6,6 flag 1
    node { id "first" }
    node { id "second" }
}
)";

class PropertiesTest : public ::testing::Test {
protected:
    // full.skin with its 8 x 8 picture of one colour, and other.skin without pictures or fonts.
    void SetUp() override {
        write_test_bitmap(m_dir.path(), "frame", 8, 8, 0x1234);
        full = write_test_skin(m_dir.path(), "full.skin", full_skin).u16string();
        other = write_test_skin(m_dir.path(), "other.skin", "node FormOther { int width = 5 }")
                    .u16string();
    }
    testing_support::TempDir m_dir;
    std::u16string full, other;
    Properties properties;
};

TEST_F(PropertiesTest, ReadsEveryKindAtEveryScaleAndKeepsItThroughABrokenSkin) {
    ASSERT_TRUE(properties.load_skin(full, 96));
    ASSERT_TRUE(properties.load_skin(full, 96));
    EXPECT_EQ(std::tuple(properties.picture_count(), properties.font_count()), std::tuple(1u, 2u));
    NodeDir form = properties.find_named_node(u"FormMain");
    ASSERT_TRUE(form.valid());
    EXPECT_EQ(properties.child_count(form), 2u);
    EXPECT_EQ(properties.get_string(properties.child(form, 1), u"id", u""), u"second");
    EXPECT_EQ(properties.get_int(form, u"negative", 0), -7);
    EXPECT_EQ(properties.get_color(form, u"back", {}), (SkinColor{0x10, 0x20, 0x30, 255}));
    EXPECT_EQ(properties.get_string(form, u"text", u"none"), u"Hello");
    EXPECT_EQ(properties.get_string(form, u"absent", u"none"), u"none");
    // A kind the node does not carry under that name gives the default.
    EXPECT_EQ(properties.get_integer(form, u"back", 9), 9u);
    EXPECT_FALSE(properties.get_picture(form, u"font", SkinPicture()).bitmap());

    auto title = properties.get_font(form, u"font", nullptr);
    ASSERT_TRUE(title);
    EXPECT_EQ(title->spec().face, u"DejaVu Sans");
    // A specification that stops after size and bold keeps the default face.
    EXPECT_EQ(properties.get_font(form, u"other", nullptr)->spec().face, u"Tahoma");
    SkinPicture picture = properties.get_picture(form, u"bg", SkinPicture());
    ASSERT_TRUE(picture.bitmap());
    EXPECT_EQ(picture.bitmap(), properties.picture_bitmap(0));
    EXPECT_TRUE(picture.inner_min() == (SkinPoint{2, 2}) && picture.flag());

    // Pictures and fonts given out outlive the skin they came from.
    ASSERT_TRUE(properties.load_skin(other, 96));
    EXPECT_EQ(properties.picture_count(), 0u);
    EXPECT_TRUE(picture.bitmap()->surface().pixel(0, 0) == 0x1234 && title->spec().size == 14);
    form = properties.find_named_node(u"FormOther");
    SkinPicture fallback(nullptr, {1, 1}, {1, 1}, {1, 1}, {1, 1}, true, Scale{});
    EXPECT_TRUE(properties.get_picture(form, u"bg", fallback).flag());
    EXPECT_EQ(properties.get_font(form, u"font", nullptr), nullptr);

    // Points, picture corners and fonts follow the density in half steps of 96 dots per inch.
    const struct {
        int32_t dpi;
        SkinPoint border, corner;
        int32_t font_height;
    } cases[] = {{0, {3, -2}, {8, 8}, -18},        {143, {3, -2}, {8, 8}, -18},
                 {144, {5, -3}, {12, 12}, -27},    {191, {5, -3}, {12, 12}, -27},
                 {192, {6, -4}, {16, 16}, -37},    {288, {9, -6}, {24, 24}, -56},
                 {2000, {24, -16}, {64, 64}, -149}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        ASSERT_TRUE(properties.load_skin(full, c.dpi));
        NodeDir form = properties.find_named_node(u"FormMain");
        EXPECT_EQ(properties.get_point(form, u"border_min", {}), c.border);
        const SkinPicture picture = properties.get_picture(form, u"bg", SkinPicture());
        EXPECT_EQ(picture.inner_max(), (SkinPoint{c.corner.x * 3 / 4, c.corner.y * 3 / 4}));
        EXPECT_EQ(picture.outer_max(), c.corner);
        EXPECT_EQ(properties.get_font(form, u"font", nullptr)->spec().log_font_height(),
                  c.font_height);
        EXPECT_EQ(properties.get_point(form, u"absent", {3, -2}), (SkinPoint{3, -2}));
    }

    ASSERT_TRUE(properties.load_skin(full, 96));
    auto bitmap = properties.picture_bitmap(0);
    std::filesystem::create_directories(m_dir / "broken");
    const std::u16string broken =
        write_test_skin(m_dir / "broken", "broken.skin",
                        "picture lost\nnode FormOther { picture p = lost outer 0,0 4,4 }\n")
            .u16string();
    std::ofstream(m_dir / "short.skin") << "tiny";
    std::ofstream(m_dir / "zeros.skin") << std::string(200, '\0');
    auto refused = [&] {
        EXPECT_FALSE(properties.find_named_node(u"FormOther").valid());
        EXPECT_TRUE(properties.find_named_node(u"FormMain").valid());
        EXPECT_EQ(properties.skin_path(), full);
        EXPECT_EQ(properties.picture_bitmap(0), bitmap);
    };
    // A missing picture, then one that is not a 16-bit bitmap.
    EXPECT_FALSE(properties.load_skin(broken, 96));
    refused();
    std::ofstream(m_dir / "broken" / "lost.bmp") << "BM not really a bitmap";
    EXPECT_FALSE(properties.load_skin(broken, 96));
    refused();
    for (const char* name : {"none.skin", "short.skin", "zeros.skin"}) {
        EXPECT_FALSE(properties.load_skin((m_dir / name).u16string(), 96)) << name;
        refused();
    }
    // Without a skin every read gives its default.
    Properties empty;
    EXPECT_FALSE(empty.load_skin((m_dir / "zeros.skin").u16string(), 96) || empty.loaded());
    EXPECT_TRUE(empty.get_integer(NodeDir{}, u"x", 3) == 3u && empty.child_count(NodeDir{}) == 0);
}

struct Recorder : ReloadListener {
    Recorder(Properties& p, std::function<void()> f) : ReloadListener(p), on_reload(std::move(f)) {}
    void reload_skin(Properties& p) override {
        EXPECT_EQ(&p, properties());
        on_reload();
    }
    std::function<void()> on_reload;
};

TEST_F(PropertiesTest, ReloadReachesListenersInSubscriptionOrder) {
    std::vector<int> calls;
    auto tag = [&](int n) { return [&calls, n] { calls.push_back(n); }; };
    Recorder first(properties, tag(1));
    auto second = std::make_unique<Recorder>(properties, tag(2));
    Recorder third(properties, tag(3));
    properties.send_reload_skin();
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));

    // A listener that goes away during a reload is not called afterwards.
    calls.clear();
    first.on_reload = [&] {
        calls.push_back(1);
        second.reset();
    };
    properties.send_reload_skin();
    EXPECT_TRUE(calls == (std::vector<int>{1, 3}) && properties.listener_count() == 2);

    // Listeners outliving their properties let go.
    auto gone = std::make_unique<Properties>();
    Recorder orphan(*gone, tag(4));
    gone.reset();
    EXPECT_EQ(orphan.properties(), nullptr);
}

} // namespace
