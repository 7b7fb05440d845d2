// Moving a record to another volume (a card): copied whole, then the original removed.

#include "platform/file_system.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder on another volume than `here`, or empty when this machine has none to offer.
fs::path other_volume(const fs::path& here) {
    struct stat a {
    }, b{};
    if (::stat(here.c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        return {};
    return fs::path("/dev/shm") / ("qv-move-" + std::to_string(::getpid()));
}

TEST(MoveAcrossVolumes, CopiesWholeKeepsDateAndModeAndRemovesTheOriginal) {
    testing_support::TempDir dir;
    const fs::path other = other_volume(dir.path());
    if (other.empty())
        GTEST_SKIP() << "no second volume here";
    fs::create_directories(other);
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
    EXPECT_EQ(read_all(to), bytes);
    struct stat moved {};
    ASSERT_EQ(::stat(to.c_str(), &moved), 0);
    EXPECT_EQ(moved.st_mode & 07777, 0640u);
    EXPECT_EQ(moved.st_mtim.tv_sec, 1000000000);
    fs::remove_all(other);
}

TEST(MoveAcrossVolumes, ExistingTargetIsRefusedAndBothFilesStay) {
    testing_support::TempDir dir;
    const fs::path other = other_volume(dir.path());
    if (other.empty())
        GTEST_SKIP() << "no second volume here";
    fs::create_directories(other);
    const fs::path from = other / "a.mp3";
    const fs::path to = dir.path() / "a.mp3";
    std::ofstream(from, std::ios::binary) << "source";
    std::ofstream(to, std::ios::binary) << "target";
    int error = 0;
    EXPECT_FALSE(platform::rename_path(from.string(), to.string(), error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(read_all(from), "source");
    EXPECT_EQ(read_all(to), "target");
    // A folder cannot be moved across volumes, and stays where it was.
    const fs::path folder = other / "folder";
    fs::create_directories(folder);
    EXPECT_FALSE(platform::rename_path(folder.string(), (dir.path() / "folder").string(), error));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_FALSE(fs::exists(dir.path() / "folder"));
    EXPECT_FALSE(fs::exists(dir.path() / "folder.moving"));
    fs::remove_all(other);
}

} // namespace
