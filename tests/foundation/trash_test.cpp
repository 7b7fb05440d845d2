// Records trashed land in a private home's trash with their origin, or are deleted without one.

#include "foundation/paths.h"
#include "support/glib_dirs.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// The Path= value of a .trashinfo file, its %XX escapes undone.
std::string trashed_path(const std::string& info) {
    const size_t at = info.find("\nPath=");
    return at == info.npos ? ""
                           : percent_decoded(info.substr(at + 6, info.find('\n', at + 1) - at - 6));
}

// A private home for each test, which GLib is told of.
class TrashTest : public ::testing::Test {
protected:
    TrashTest() {
        glib_follow_home();
        fs::create_directories(m_folder);
    }

    fs::path make_record(const std::string& name, const std::string& bytes) {
        std::ofstream(m_folder / name, std::ios::binary) << bytes;
        return m_folder / name;
    }

    TempDir m_home;
    ScopedEnv m_home_env{"HOME", m_home.path().string()};
    ScopedEnv m_data_env{"XDG_DATA_HOME", (m_home / ".local/share").string()};
    fs::path m_folder = m_home / "Documents/My Quillory";
    fs::path m_trash = m_home / ".local/share/Trash";
};

} // namespace

TEST_F(TrashTest, RecordGoesToTheHomeTrashWithItsOrigin) {
    const std::string name = "Ada, 5 May 2026 10:31 %41.mp3";
    const fs::path record = make_record(name, "ID3 audio bytes");
    ASSERT_TRUE(foundation::trash_file(record.u16string()));
    EXPECT_FALSE(fs::exists(record));
    ASSERT_TRUE(fs::exists(m_trash / "files" / name));
    EXPECT_EQ(read_whole_file((m_trash / "files" / name).string()), "ID3 audio bytes");
    const std::string info = read_whole_file((m_trash / "info" / (name + ".trashinfo")).string());
    EXPECT_EQ(info.rfind("[Trash Info]\n", 0), 0u) << info;
    EXPECT_EQ(trashed_path(info), record.string()) << info;
    EXPECT_NE(info.find("\nDeletionDate="), std::string::npos) << info;
}

TEST_F(TrashTest, WithoutAnyTrashTheRecordIsDeletedAndAMissingOneIsNotGone) {
    // A plain file where the trash folder would be: no trash can be made.
    fs::create_directories(m_trash.parent_path());
    std::ofstream(m_trash) << "not a folder";
    const fs::path record = make_record("Gone.mp3", "bytes");
    ASSERT_TRUE(foundation::trash_file(record.u16string()));
    EXPECT_FALSE(fs::exists(record));
    EXPECT_FALSE(fs::is_directory(m_trash));
    EXPECT_FALSE(foundation::trash_file((m_folder / "never.mp3").u16string()));
}
