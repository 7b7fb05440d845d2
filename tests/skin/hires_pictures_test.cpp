// Pictures drawn at the skin's scale (NAME@1.5x.bmp, NAME@2x.bmp, ... beside NAME.bmp).

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

const fs::path shipped = fs::path(QV_BUILD_DIR) / "bin/skins/bin";

// The record button's picture (the first unnamed 64-unit picture of the main form) of the skin
// at path loaded at dpi, drawn into target at its natural size.
SkinPicture record_picture(const std::u16string& path, int32_t dpi, RenderSurface& target) {
    Properties properties;
    EXPECT_TRUE(properties.load_skin(path, dpi));
    std::vector<NodeDir> pending{properties.find_named_node(u"FormMain")};
    SkinPicture picture;
    while (!pending.empty() && !picture.bitmap()) {
        NodeDir dir = pending.back();
        pending.pop_back();
        SkinPicture p = properties.get_picture(dir, u"src", SkinPicture{});
        if (p.bitmap() && properties.get_string(dir, u"id", u"").empty() &&
            p.natural_size().x == properties.scale().apply(64))
            picture = p;
        for (uint32_t i = 0; i < properties.child_count(dir); ++i)
            pending.push_back(properties.child(dir, i));
    }
    EXPECT_TRUE(picture.bitmap());
    SkinPoint size = picture.natural_size();
    target.recreate(size.x, size.y);
    target.fill(Rect{0, 0, size.x, size.y}, Blend::fill(0));
    picture.draw(target, Rect::of_size(0, 0, size.x, size.y), Blend::copy());
    return picture;
}

// The width of the bitmap the record button's picture comes from.
int bitmap_width(const std::u16string& path, int32_t dpi) {
    RenderSurface target;
    SkinPicture picture = record_picture(path, dpi, target);
    return picture.bitmap() ? picture.bitmap()->width() : -1;
}

TEST(HiresPictures, TheLargeDrawingIsUsedAtFullResolutionAndOnlyOnHiresScreens) {
    const std::u16string path = (shipped / "default.skin").u16string();
    // Every scale a window draws at has its drawing: a phone's 1.5 and 3 and 4.5 at output
    // scales 2 and 3.
    for (const auto& [dpi, width] : {std::pair{96, 64}, {144, 96}, {288, 192}, {432, 288}})
        EXPECT_EQ(bitmap_width(path, dpi), width) << dpi;
    RenderSurface target;
    SkinPicture hires = record_picture(path, 192, target);
    ASSERT_TRUE(hires.bitmap());
    ASSERT_EQ(hires.bitmap()->width(), 128);
    ASSERT_EQ(target.width(), 128);
    // Copied pixel for pixel from the large drawing.
    int differing = 0;
    for (int32_t y = 0; y < 128; ++y)
        for (int32_t x = 0; x < 128; ++x)
            differing += target.surface()->pixel(x, y) != hires.bitmap()->surface().pixel(x, y);
    EXPECT_EQ(differing, 0);

    // The program names its skins "%app_path%/skins/bin/..."; the large drawings must be found
    // through the macro as the small ones are.
    const fs::path folder = fs::path(QV_BUILD_DIR) / "tests" / "hires-macro-skin";
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(shipped))
        fs::copy_file(entry.path(), folder / entry.path().filename());
    EXPECT_EQ(bitmap_width(u"%app_path%/hires-macro-skin/default.skin", 192), 128);
    fs::remove_all(folder);
}

TEST(HiresPictures, SkinWithoutLargeDrawingsDoublesPixelsAndIgnoresOnesOfTheWrongSize) {
    testing_support::TempDir dir;
    for (const auto& entry : fs::directory_iterator(shipped)) {
        std::string name = entry.path().filename().string();
        if (name.find("@2x") == std::string::npos)
            fs::copy_file(entry.path(), dir.path() / name);
    }
    const std::u16string path = (dir.path() / "default.skin").u16string();
    RenderSurface target;
    SkinPicture plain = record_picture(path, 192, target);
    ASSERT_TRUE(plain.bitmap());
    ASSERT_EQ(plain.bitmap()->width(), 64);
    ASSERT_EQ(target.width(), 128);
    for (int32_t y = 0; y < 128; y += 2)
        for (int32_t x = 0; x < 128; x += 2) {
            uint16_t p = target.surface()->pixel(x, y);
            ASSERT_EQ(p, target.surface()->pixel(x + 1, y + 1));
            ASSERT_EQ(p, plain.bitmap()->surface().pixel(x / 2, y / 2));
        }
    fs::copy_file(shipped / "check@2x.bmp", dir.path() / "record@2x.bmp");
    EXPECT_EQ(bitmap_width(path, 192), 64);
}

} // namespace
