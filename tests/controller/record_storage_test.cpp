#include "controller/record_storage.h"
#include "controller_env.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace controller;
using controller_test::IsolatedWorld;
namespace fs = std::filesystem;

namespace {

void write_bytes(const fs::path& path, std::size_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

} // namespace

TEST(RecordStorage, SizeTextsAndTitleCleaning) {
    // Each unit up to just below the next, with one decimal for megabytes.
    const std::pair<uint64_t, std::u16string> sizes[] = {{0, u""},
                                                         {1023, u"1023B"},
                                                         {1024, u"1K"},
                                                         {1048575, u"1023K"},
                                                         {3 * 1048576 + 943719, u"3.9M"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(size_text(bytes), text) << bytes;
    // Line breaks become a space, other control characters go.
    EXPECT_EQ(clean_title(u"a\r\nb\x1b"
                          u"c\u1b0a"),
              u"a bc");
}

TEST(RecordStorage, FileNameRules) {
    IsolatedWorld world;
    const std::u16string folder = world.root().u16string();
    EXPECT_EQ(unique_record_path(u"Ada a/b?c", folder, u"mp3"), folder + u"/Ada a b c.mp3");
    EXPECT_EQ(unique_record_path(u"<>:\"\\|*x\tz\n", folder, u"mp3"), folder + u"/       x z .mp3");

    write_bytes(world.root() / "Ada 1.mp3", 1);
    write_bytes(world.root() / "Ada 1~1.mp3", 1);
    EXPECT_EQ(unique_record_path(u"Ada 1", folder, u"mp3"), folder + u"/Ada 1~2.mp3");

    // A name is cut only by what the whole path has beyond 250 characters (whatever the length
    // of the temporary folder the test runs in).
    const size_t room = 60;
    ASSERT_LT(folder.size(), 250 - room - 10);
    const std::u16string deep =
        folder + u"/" + std::u16string(250 - room - 4 - 1 - folder.size() - 1, u'd');
    const std::u16string name(room, u'n');
    ASSERT_EQ((deep + u"/" + name + u".mp3").size(), 250u);
    EXPECT_EQ(unique_record_path(name, deep, u"mp3"), deep + u"/" + name + u".mp3");
    const std::u16string longer(room + 50, u'n');
    EXPECT_EQ(unique_record_path(longer, deep, u"mp3"),
              deep + u"/" + std::u16string(room, u'n') + u".mp3");
    // A folder that leaves no room for a name gives no path rather than a hidden ".mp3".
    EXPECT_EQ(unique_record_path(u"x", folder + u"/" + std::u16string(260, u'd'), u"mp3"), u"");
    // Non-ASCII names are kept within the system's byte limit for one file name.
    std::u16string wide(240, u'\u00e9');
    auto path = unique_record_path(wide, folder, u"mp3");
    ASSERT_FALSE(path.empty());
    EXPECT_LE(fs::path(path).filename().string().size(), 255u);
}

TEST(RecordStorage, ListIsSortedNewestFirstWithOnePathOnce) {
    RecordList list;
    auto at = [](std::u16string path, int day) {
        RecordInfo info;
        info.path = std::move(path);
        info.date.set_date(2026, 5, day);
        return info;
    };
    EXPECT_EQ(list.insert(at(u"/a", 3)), 0);
    EXPECT_EQ(list.insert(at(u"/b", 5)), 0);
    EXPECT_EQ(list.insert(at(u"/c", 4)), 1);
    EXPECT_EQ(list.insert(at(u"/d", 4)), 2) << "after records of the same date";
    bool inserted = true;
    EXPECT_EQ(list.insert(at(u"/c", 9), &inserted), 1);
    EXPECT_FALSE(inserted);
    EXPECT_EQ(list.size(), 4u);
    list.erase(0);
    EXPECT_EQ(list.find(u"/a"), 2);
    EXPECT_EQ(list.find(u"/b"), -1);
    list.assign({at(u"/x", 1), at(u"/y", 2), at(u"/x", 3)});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].path, u"/y");
}
