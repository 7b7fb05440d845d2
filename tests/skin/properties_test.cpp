// Skin loading: the tables, the hi-res shift, replacing a skin only by one that loaded whole,
// reload listeners and the language texts.

#include "skin/font_rep.h"
#include "skin/properties.h"
#include "support/temp_dir.h"
#include "support/test_skin.h"

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
    id "frmMain"
    int cache = 1
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

const char* other_skin = R"(
node FormOther { id "frmOther" int width = 5 }
)";

class PropertiesTest : public ::testing::Test {
protected:
    std::u16string skin(const std::string& name, const char* source) {
        return write_test_skin(m_dir.path(), name, source).u16string();
    }
    testing_support::TempDir m_dir;
};

TEST_F(PropertiesTest, ReadsEveryKindThroughTheTables) {
    write_test_bitmap(m_dir.path(), "frame", 8, 8, 0x07E0);
    Properties properties;
    ASSERT_TRUE(properties.load_skin(skin("full.skin", full_skin), 96));
    EXPECT_EQ(properties.scale(), 1);
    EXPECT_EQ(properties.picture_count(), 1u);
    EXPECT_EQ(properties.font_count(), 2u);

    NodeDir form = properties.find_named_node(u"FormMain");
    ASSERT_TRUE(form.valid());
    EXPECT_FALSE(properties.find_named_node(u"FormMissing").valid());
    EXPECT_EQ(properties.child_count(form), 2u);
    EXPECT_EQ(properties.get_string(properties.child(form, 1), u"id", u""), u"second");
    EXPECT_EQ(properties.get_integer(form, u"cache", 0), 1u);
    EXPECT_EQ(properties.get_int(form, u"negative", 0), -7);
    EXPECT_EQ(properties.get_integer(form, u"absent", 42), 42u);
    EXPECT_EQ(properties.get_point(form, u"border_min", {}), (SkinPoint{3, -2}));
    EXPECT_EQ(properties.get_color(form, u"back", {}), (SkinColor{0x10, 0x20, 0x30, 255}));
    EXPECT_EQ(properties.get_string(form, u"text", u"none"), u"Hello");
    EXPECT_EQ(properties.get_string(form, u"absent", u"none"), u"none");

    auto title = properties.get_font(form, u"font", nullptr);
    ASSERT_TRUE(title);
    EXPECT_EQ(title->spec().size, 14);
    EXPECT_TRUE(title->spec().bold);
    EXPECT_EQ(title->spec().face, u"DejaVu Sans");
    EXPECT_EQ(title->spec().scale, 1);
    // A specification that stops after size and bold keeps the default face.
    auto other = properties.get_font(form, u"other", nullptr);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->spec().size, 9);
    EXPECT_TRUE(other->spec().bold);
    EXPECT_EQ(other->spec().face, u"Tahoma");

    SkinPicture picture = properties.get_picture(form, u"bg", SkinPicture());
    ASSERT_TRUE(picture.bitmap());
    EXPECT_EQ(picture.bitmap(), properties.picture_bitmap(0));
    EXPECT_EQ(picture.inner_min(), (SkinPoint{2, 2}));
    EXPECT_EQ(picture.outer_max(), (SkinPoint{8, 8}));
    EXPECT_TRUE(picture.flag());
    EXPECT_EQ(picture.bitmap()->surface().pixel(3, 3), 0x07E0);

    // A kind the node does not carry under that name gives the default.
    EXPECT_EQ(properties.get_integer(form, u"back", 9), 9u);
    EXPECT_FALSE(properties.get_picture(form, u"font", SkinPicture()).bitmap());
}

TEST_F(PropertiesTest, ScaleStepsUpAtEveryWholeMultipleOf96DotsPerInch) {
    write_test_bitmap(m_dir.path(), "frame", 8, 8, 0x07E0);
    std::u16string path = skin("full.skin", full_skin);
    const std::pair<int32_t, int> cases[] = {{0, 1},   {95, 1},  {191, 1},
                                             {192, 2}, {287, 2}, {288, 3},
                                             {384, 4}, {576, 6}, {2000, Properties::max_scale}};
    for (const auto& [dpi, scale] : cases) {
        Properties properties;
        ASSERT_TRUE(properties.load_skin(path, dpi));
        EXPECT_EQ(properties.scale(), scale) << dpi;
        NodeDir form = properties.find_named_node(u"FormMain");
        EXPECT_EQ(properties.get_point(form, u"border_min", {}), (SkinPoint{3 * scale, -2 * scale}))
            << dpi;
        EXPECT_EQ(properties.get_font(form, u"font", nullptr)->spec().scale, scale) << dpi;
    }
    Properties high;
    ASSERT_TRUE(high.load_skin(path, 192));
    NodeDir form = high.find_named_node(u"FormMain");
    EXPECT_EQ(high.get_point(form, u"border_min", {}), (SkinPoint{6, -4}));
    // Defaults come back as given.
    EXPECT_EQ(high.get_point(form, u"absent", {3, -2}), (SkinPoint{3, -2}));
    EXPECT_EQ(high.get_picture(form, u"bg", SkinPicture()).outer_max(), (SkinPoint{16, 16}));
    EXPECT_EQ(high.get_font(form, u"font", nullptr)->spec().scale, 2);
}

TEST_F(PropertiesTest, LoadingTheSameFileTwiceGivesTheSameState) {
    write_test_bitmap(m_dir.path(), "frame", 8, 8, 0x07E0);
    std::u16string path = skin("full.skin", full_skin);
    Properties properties;
    ASSERT_TRUE(properties.load_skin(path, 96));
    const uint32_t strings = properties.string_count();
    const std::u16string first = properties.get_string(
        properties.child(properties.find_named_node(u"FormMain"), 0), u"id", u"");
    ASSERT_TRUE(properties.load_skin(path, 96));
    EXPECT_EQ(properties.picture_count(), 1u);
    EXPECT_EQ(properties.font_count(), 2u);
    EXPECT_EQ(properties.string_count(), strings);
    EXPECT_EQ(properties.get_string(properties.child(properties.find_named_node(u"FormMain"), 0),
                                    u"id", u""),
              first);
    EXPECT_EQ(first, u"first");
}

TEST_F(PropertiesTest, ASkinWithoutPicturesOrFontsLoads) {
    Properties properties;
    ASSERT_TRUE(properties.load_skin(skin("other.skin", other_skin), 96));
    EXPECT_EQ(properties.picture_count(), 0u);
    EXPECT_EQ(properties.font_count(), 0u);
    NodeDir form = properties.find_named_node(u"FormOther");
    ASSERT_TRUE(form.valid());
    SkinPoint corner{1, 1};
    SkinPicture fallback(nullptr, corner, corner, corner, corner, true, 0);
    SkinPicture got = properties.get_picture(form, u"bg", fallback);
    EXPECT_TRUE(got.flag());
    EXPECT_FALSE(got.bitmap());
    EXPECT_EQ(properties.get_font(form, u"font", nullptr), nullptr);
}

TEST_F(PropertiesTest, AMissingPictureKeepsTheEarlierSkinWhole) {
    write_test_bitmap(m_dir.path(), "frame", 8, 8, 0x07E0);
    Properties properties;
    ASSERT_TRUE(properties.load_skin(skin("full.skin", full_skin), 96));
    auto bitmap = properties.picture_bitmap(0);

    std::filesystem::create_directories(m_dir / "broken");
    std::u16string broken =
        write_test_skin(m_dir / "broken", "broken.skin",
                        "picture lost\nnode FormOther { picture p = lost outer 0,0 4,4 }\n")
            .u16string();
    EXPECT_FALSE(properties.load_skin(broken, 96));
    EXPECT_EQ(properties.skin_path(), m_dir.path().u16string() + u"/full.skin");
    EXPECT_TRUE(properties.find_named_node(u"FormMain").valid());
    EXPECT_FALSE(properties.find_named_node(u"FormOther").valid());
    EXPECT_EQ(properties.picture_bitmap(0), bitmap);

    // A picture that is not 16-bit fails the same way.
    std::ofstream(m_dir / "broken" / "lost.bmp") << "BM not really a bitmap";
    EXPECT_FALSE(properties.load_skin(broken, 96));
    EXPECT_TRUE(properties.find_named_node(u"FormMain").valid());
}

TEST_F(PropertiesTest, FilesThatAreNotSkinsAreRefused) {
    Properties properties;
    EXPECT_FALSE(properties.load_skin(m_dir.path().u16string() + u"/none.skin", 96));
    std::ofstream(m_dir / "short.skin") << "tiny";
    EXPECT_FALSE(properties.load_skin(m_dir.path().u16string() + u"/short.skin", 96));
    std::ofstream(m_dir / "zeros.skin") << std::string(200, '\0');
    EXPECT_FALSE(properties.load_skin(m_dir.path().u16string() + u"/zeros.skin", 96));
    EXPECT_FALSE(properties.loaded());
    // Without a skin every read gives its default.
    EXPECT_FALSE(properties.find_named_node(u"FormMain").valid());
    EXPECT_EQ(properties.get_integer(NodeDir{}, u"x", 3), 3u);
    EXPECT_EQ(properties.child_count(NodeDir{}), 0u);
}

TEST_F(PropertiesTest, HandlesGivenOutOutliveTheSkin) {
    write_test_bitmap(m_dir.path(), "frame", 8, 8, 0x1234);
    Properties properties;
    ASSERT_TRUE(properties.load_skin(skin("full.skin", full_skin), 96));
    NodeDir form = properties.find_named_node(u"FormMain");
    SkinPicture picture = properties.get_picture(form, u"bg", SkinPicture());
    auto font = properties.get_font(form, u"font", nullptr);
    ASSERT_TRUE(properties.load_skin(skin("other.skin", other_skin), 96));
    EXPECT_EQ(properties.picture_count(), 0u);
    ASSERT_TRUE(picture.bitmap());
    EXPECT_EQ(picture.bitmap()->surface().pixel(0, 0), 0x1234);
    EXPECT_EQ(font->spec().size, 14);
}

class Recorder : public ReloadListener {
public:
    Recorder(Properties& properties, std::vector<int>& calls, int tag)
        : ReloadListener(properties), m_calls(calls), m_tag(tag) {}
    void reload_skin(Properties& properties) override {
        EXPECT_EQ(&properties, this->properties());
        m_calls.push_back(m_tag);
        if (on_reload)
            on_reload();
    }
    std::function<void()> on_reload;

private:
    std::vector<int>& m_calls;
    int m_tag;
};

TEST_F(PropertiesTest, ReloadReachesListenersInSubscriptionOrder) {
    std::vector<int> calls;
    Properties properties;
    Recorder first(properties, calls, 1);
    auto second = std::make_unique<Recorder>(properties, calls, 2);
    Recorder third(properties, calls, 3);
    properties.send_reload_skin();
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));

    // A listener that goes away during a reload is not called afterwards.
    calls.clear();
    first.on_reload = [&] { second.reset(); };
    properties.send_reload_skin();
    EXPECT_EQ(calls, (std::vector<int>{1, 3}));
    EXPECT_EQ(properties.listener_count(), 2u);
}

TEST_F(PropertiesTest, ListenersOutlivingTheirPropertiesLetGo) {
    std::vector<int> calls;
    auto properties = std::make_unique<Properties>();
    Recorder listener(*properties, calls, 1);
    properties.reset();
    EXPECT_EQ(listener.properties(), nullptr);
}

TEST_F(PropertiesTest, TextsFallBackToTheKeyOrTheDefault) {
    Properties properties;
    properties.texts().assign({{u"Delete", u"Remove all"}}, u"x.lng");
    EXPECT_EQ(properties.text(u"Delete"), u"Remove all");
    EXPECT_EQ(properties.text(u"Missing_key"), u"Missing_key");
    EXPECT_EQ(properties.text(u"Missing_key", u"fallback"), u"fallback");
    EXPECT_EQ(properties.text(u"Delete", u"fallback"), u"Remove all");
}

} // namespace
