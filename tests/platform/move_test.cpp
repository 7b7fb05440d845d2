// Moving a record to another volume (a card): copied whole, then the original removed.

#include "platform/file_system.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testing_support::read_whole_file;

TEST(MoveAcrossVolumes, CopiesWholeKeepsDateAndModeRemovesTheOriginalAndNeverReplaces) {
    testing_support::TempDir dir;
    // A folder on another volume, where this machine has one to offer.
    struct stat here = {}, shm = {};
    if (::stat(dir.path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second volume here";
    const fs::path other = fs::path("/dev/shm") / ("qv-move-" + std::to_string(::getpid()));
    fs::create_directories(other / "folder");
    const fs::path from = other / "Record 1, morning.mp3";
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 251);
    std::ofstream(from, std::ios::binary) << bytes;
    ::chmod(from.c_str(), 0640);
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, from.c_str(), times, 0), 0);

    const fs::path to = dir.path() / "Record 1, morning.mp3";
    int error = -1;
    ASSERT_TRUE(platform::rename_path(from.string(), to.string(), error)) << error;
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(fs::exists(from));
    EXPECT_FALSE(fs::exists(to.string() + ".moving"));
    EXPECT_EQ(read_whole_file(to.string()), bytes);
    struct stat moved {};
    ASSERT_EQ(::stat(to.c_str(), &moved), 0);
    EXPECT_EQ(moved.st_mode & 07777, 0640u);
    EXPECT_EQ(moved.st_mtim.tv_sec, 1000000000);

    // An existing target is refused and both files stay.
    std::ofstream(from, std::ios::binary) << "source";
    EXPECT_FALSE(platform::rename_path(from.string(), to.string(), error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(read_whole_file(from.string()), "source");
    EXPECT_EQ(read_whole_file(to.string()), bytes);
    // A folder cannot be moved across volumes, and stays where it was.
    EXPECT_FALSE(
        platform::rename_path((other / "folder").string(), (dir / "folder").string(), error));
    EXPECT_TRUE(fs::is_directory(other / "folder"));
    EXPECT_FALSE(fs::exists(dir / "folder"));
    EXPECT_FALSE(fs::exists(dir / "folder.moving"));
    fs::remove_all(other);
}

} // namespace
