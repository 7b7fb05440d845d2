// Records deleted through trash_file land in the desktop's trash of a private home, with the
// info file that names where they came from; where no trash can be made they are deleted.

#include "foundation/paths.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace fs = std::filesystem;
using testing_support::read_whole_file;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// The Path= value of a .trashinfo file, its %XX escapes undone.
std::string trashed_path(const std::string& info) {
    const size_t at = info.find("\nPath=");
    return at == info.npos ? ""
                           : testing_support::percent_decoded(
                                 info.substr(at + 6, info.find('\n', at + 1) - at - 6));
}

// GLib reads HOME and XDG_DATA_HOME once per process: one private home serves every test of
// the process, its trash emptied before each.
class PrivateHome final : public ::testing::Environment {
public:
    static fs::path path() { return s_dir->path(); }
    void SetUp() override {
        s_dir = std::make_unique<TempDir>();
        m_home = std::make_unique<ScopedEnv>("HOME", (path() / "home").string());
        m_data =
            std::make_unique<ScopedEnv>("XDG_DATA_HOME", (path() / "home/.local/share").string());
    }
    void TearDown() override {
        m_data.reset();
        m_home.reset();
        s_dir.reset();
    }

private:
    static inline std::unique_ptr<TempDir> s_dir;
    std::unique_ptr<ScopedEnv> m_home;
    std::unique_ptr<ScopedEnv> m_data;
};

const auto* const private_home = ::testing::AddGlobalTestEnvironment(new PrivateHome);

class TrashTest : public ::testing::Test {
protected:
    fs::path m_folder = PrivateHome::path() / "home/Documents/My Quillory";
    fs::path m_trash = PrivateHome::path() / "home/.local/share/Trash";

    TrashTest() {
        fs::remove_all(m_trash);
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    ~TrashTest() override { fs::remove_all(m_trash); }

    fs::path make_record(const std::string& name, const std::string& bytes) {
        std::ofstream(m_folder / name, std::ios::binary) << bytes;
        return m_folder / name;
    }
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

TEST_F(TrashTest, WithoutAnyTrashTheRecordIsDeleted) {
    // A plain file where the trash folder would be: no trash can be made.
    fs::create_directories(m_trash.parent_path());
    std::ofstream(m_trash) << "not a folder";
    const fs::path record = make_record("Gone.mp3", "bytes");
    ASSERT_TRUE(foundation::trash_file(record.u16string()));
    EXPECT_FALSE(fs::exists(record));
    EXPECT_FALSE(fs::is_directory(m_trash));
}

TEST_F(TrashTest, MissingFileIsNotReportedGone) {
    EXPECT_FALSE(foundation::trash_file((m_folder / "never.mp3").u16string()));
}
