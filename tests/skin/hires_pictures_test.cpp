// Pictures drawn at twice the size (NAME@2x.bmp beside NAME.bmp) on hi-res screens.

#include "skin/blend.h"
#include "skin/properties.h"
#include "skin/skin_picture.h"
#include "skin/surface.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace skin;
namespace fs = std::filesystem;

fs::path shipped() {
    return fs::path(QV_BUILD_DIR) / "bin/skins/bin";
}

// The record button's picture of the shipped skin, as the loader gives it.
SkinPicture record_picture(Properties& properties) {
    NodeDir main = properties.find_named_node(u"FormMain");
    EXPECT_TRUE(main.valid());
    // Walk the tree for the first picture attribute naming the record drawing.
    std::vector<NodeDir> pending{main};
    while (!pending.empty()) {
        NodeDir dir = pending.back();
        pending.pop_back();
        SkinPicture p = properties.get_picture(dir, u"src", SkinPicture{});
        if (p.bitmap() && properties.get_string(dir, u"id", u"").empty() &&
            p.natural_size().x == 64 * properties.scale())
            return p;
        for (uint32_t i = 0; i < properties.child_count(dir); ++i)
            pending.push_back(properties.child(dir, i));
    }
    return SkinPicture{};
}

void draw(const SkinPicture& picture, RenderSurface& target) {
    SkinPoint size = picture.natural_size();
    target.recreate(size.x, size.y);
    target.fill(Rect{0, 0, size.x, size.y}, Blend::fill(0));
    picture.draw(target, Rect::of_size(0, 0, size.x, size.y), Blend::copy());
}

TEST(HiresPictures, TwiceAsLargeDrawingIsSampledAtFullResolution) {
    Properties hires;
    ASSERT_TRUE(hires.load_skin((shipped() / "default.skin").u16string(), 192));
    SkinPicture picture = record_picture(hires);
    ASSERT_TRUE(picture.bitmap());
    // The same design size (64 units, 128 pixels), from a bitmap that has 128 pixels.
    EXPECT_EQ(picture.natural_size().x, 128);
    EXPECT_EQ(picture.bitmap()->width(), 128);
    RenderSurface target;
    draw(picture, target);
    // Copied pixel for pixel from the large drawing.
    int differing = 0;
    for (int32_t y = 0; y < 128; ++y)
        for (int32_t x = 0; x < 128; ++x)
            differing += target.surface()->pixel(x, y) != picture.bitmap()->surface().pixel(x, y);
    EXPECT_EQ(differing, 0);
}

TEST(HiresPictures, SkinWithoutLargeDrawingsDoublesPixelsAsBefore) {
    testing_support::TempDir dir;
    for (const auto& entry : fs::directory_iterator(shipped())) {
        std::string name = entry.path().filename().string();
        if (name.find("@2x") == std::string::npos)
            fs::copy_file(entry.path(), dir.path() / name);
    }
    Properties plain;
    ASSERT_TRUE(plain.load_skin((dir.path() / "default.skin").u16string(), 192));
    SkinPicture picture = record_picture(plain);
    ASSERT_TRUE(picture.bitmap());
    EXPECT_EQ(picture.natural_size().x, 128);
    EXPECT_EQ(picture.bitmap()->width(), 64);
    RenderSurface target;
    draw(picture, target);
    for (int32_t y = 0; y < 128; y += 2)
        for (int32_t x = 0; x < 128; x += 2) {
            uint16_t p = target.surface()->pixel(x, y);
            ASSERT_EQ(p, target.surface()->pixel(x + 1, y + 1));
            ASSERT_EQ(p, picture.bitmap()->surface().pixel(x / 2, y / 2));
        }
    // A large drawing of the wrong size is not used.
    fs::copy_file(shipped() / "check@2x.bmp", dir.path() / "record@2x.bmp");
    Properties wrong;
    ASSERT_TRUE(wrong.load_skin((dir.path() / "default.skin").u16string(), 192));
    SkinPicture kept = record_picture(wrong);
    ASSERT_TRUE(kept.bitmap());
    EXPECT_EQ(kept.bitmap()->width(), 64);
}

TEST(HiresPictures, LowResolutionIgnoresLargeDrawings) {
    Properties low;
    ASSERT_TRUE(low.load_skin((shipped() / "default.skin").u16string(), 96));
    SkinPicture picture = record_picture(low);
    ASSERT_TRUE(picture.bitmap());
    EXPECT_EQ(picture.natural_size().x, 64);
    EXPECT_EQ(picture.bitmap()->width(), 64);
}

} // namespace

TEST(HiresPictures, SkinNamedThroughAPathMacroFindsItsLargeDrawings) {
    // The program names its skins "%app_path%/skins/bin/..."; the large drawings must be found
    // through the macro as the small ones are.
    const fs::path folder = fs::path(QV_BUILD_DIR) / "tests" / "hires-macro-skin";
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(shipped()))
        fs::copy_file(entry.path(), folder / entry.path().filename());
    Properties hires;
    ASSERT_TRUE(hires.load_skin(u"%app_path%/hires-macro-skin/default.skin", 192));
    SkinPicture picture = record_picture(hires);
    ASSERT_TRUE(picture.bitmap());
    EXPECT_EQ(picture.bitmap()->width(), 128);
    fs::remove_all(folder);
}
