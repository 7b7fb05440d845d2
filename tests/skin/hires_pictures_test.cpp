// Pictures drawn at the skin's scale (NAME@2x.bmp beside NAME.bmp): one for every scale, found
// through the "%app_path%" macro, and left aside when their size is wrong.

#include "skin/properties.h"
#include "skin/skin_picture.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace skin;
namespace fs = std::filesystem;

const fs::path shipped = fs::path(QV_BUILD_DIR) / "bin/skins/bin";

// The width of the bitmap of the record button's picture (the main form's first unnamed 64-unit
// picture) at `dpi` dots per inch.
int record_bitmap_width(const std::u16string& path, int32_t dpi = 192) {
    Properties properties;
    EXPECT_TRUE(properties.load_skin(path, dpi));
    std::vector<NodeDir> pending{properties.find_named_node(u"FormMain")};
    while (!pending.empty()) {
        NodeDir dir = pending.back();
        pending.pop_back();
        SkinPicture p = properties.get_picture(dir, u"src", SkinPicture{});
        if (p.bitmap() && properties.get_string(dir, u"id", u"").empty() &&
            p.natural_size().x == properties.scale().apply(64))
            return p.bitmap()->width();
        for (uint32_t i = 0; i < properties.child_count(dir); ++i)
            pending.push_back(properties.child(dir, i));
    }
    return -1;
}

TEST(HiresPictures, EveryScaleHasItsDrawingFoundThroughTheMacroAndIgnoredWhenOfTheWrongSize) {
    // A phone's 1.5 and 3 and 4.5 at output scales 1, 2 and 3 as well as the desktop's.
    for (const auto& [dpi, width] : {std::pair{96, 64}, {144, 96}, {288, 192}, {432, 288}})
        EXPECT_EQ(record_bitmap_width((shipped / "default.skin").u16string(), dpi), width) << dpi;

    const fs::path folder = fs::path(QV_BUILD_DIR) / "tests" / "hires-macro-skin";
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(shipped))
        fs::copy_file(entry.path(), folder / entry.path().filename());
    EXPECT_EQ(record_bitmap_width(u"%app_path%/hires-macro-skin/default.skin"), 128);
    fs::remove_all(folder);

    testing_support::TempDir dir;
    for (const auto& entry : fs::directory_iterator(shipped))
        if (entry.path().filename().string().find("@2x") == std::string::npos)
            fs::copy_file(entry.path(), dir / entry.path().filename().string());
    fs::copy_file(shipped / "check@2x.bmp", dir / "record@2x.bmp");
    EXPECT_EQ(record_bitmap_width((dir.path() / "default.skin").u16string()), 64);
}

} // namespace
