#include "foundation/text.h"
#include "sharing/send_mail.h"
#include "support/temp_dir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// Puts a stand-in mail program first in PATH that writes its arguments, one per line.
std::filesystem::path install_fake_mailer(const TempDir& dir) {
    auto bin = dir / "bin";
    std::filesystem::create_directories(bin);
    auto script = bin / "xdg-email";
    std::ofstream(script)
        << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return bin;
}

std::string wait_for_file(const std::filesystem::path& path) {
    for (int i = 0; i < 250 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

// The bytes of a path from a file URL.
std::string path_of_file_url(const std::string& url) {
    EXPECT_EQ(url.rfind("file://", 0), 0u) << url;
    std::string out;
    for (size_t i = 7; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            out.push_back(char(std::stoi(url.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(url[i]);
        }
    }
    return out;
}

TEST(SendByMail, PathWithBlanksAndQuotesArrivesWhole) {
    TempDir dir;
    auto bin = install_fake_mailer(dir);
    ScopedEnv path("PATH", bin.string() + ":" + std::getenv("PATH"));
    const std::u16string record = (dir / "My Quillory/Ada \"x\" 5 May.mp3").u16string();
    ASSERT_TRUE(sharing::send_by_mail(record));
    const std::string given = wait_for_file(bin / "xdg-email.args");
    const std::string prefix = "mailto:?attach=";
    ASSERT_EQ(given.rfind(prefix, 0), 0u) << given;
    // The link's value, decoded once as a mail program does, is the file's URL.
    const std::string value = given.substr(prefix.size(), given.size() - prefix.size() - 1);
    EXPECT_EQ(path_of_file_url(path_of_file_url("file://" + value).substr(0)),
              (dir / "My Quillory/Ada \"x\" 5 May.mp3").string());
}

namespace {

// Names that a mail program's hand-over could split or mangle.
const std::string awkward_names[] = {
    "Record 5 May, 2026, 10_31.mp3",
    "Ada  two  blanks, and 'quotes'.mp3",
    "semi;colon &amp *star? [x] $HOME.mp3",
    "Caf\xC3\xA9 \xE9 %41.mp3",
};

} // namespace

TEST(SendByMail, ThunderbirdThroughXdgEmailGetsEveryNameWhole) {
    if (!std::filesystem::exists("/usr/bin/xdg-email"))
        GTEST_SKIP() << "xdg-email is not installed";
    TempDir dir;
    const auto bin = dir / "bin";
    const auto apps = dir / "data/applications";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(apps);
    // The desktop's default mail program is Thunderbird: a stand-in that keeps its arguments.
    std::ofstream(bin / "xdg-mime") << "#!/bin/sh\necho thunderbird.desktop\n";
    std::ofstream(bin / "thunderbird")
        << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n";
    std::ofstream(apps / "thunderbird.desktop")
        << "[Desktop Entry]\nType=Application\nName=Thunderbird\nExec=thunderbird %u\n";
    for (const char* name : {"xdg-mime", "thunderbird"})
        std::filesystem::permissions(bin / name, std::filesystem::perms::owner_all);
    ScopedEnv path("PATH", bin.string() + ":/usr/bin:/bin");
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "MATE");
    ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    ScopedEnv data_dirs("XDG_DATA_DIRS", (dir / "data").string());
    ScopedEnv mailer("MAILER", "");
    unsetenv("MAILER");

    for (const std::string& name : awkward_names) {
        const auto record = dir / name;
        std::ofstream(record) << "ID3";
        std::filesystem::remove(bin / "thunderbird.args");
        ASSERT_TRUE(sharing::send_by_mail(foundation::from_utf8(record.string())));
        const std::string given = wait_for_file(bin / "thunderbird.args");
        // thunderbird -compose "attachment='URL'"
        const std::string start = "-compose\nattachment='";
        ASSERT_EQ(given.rfind(start, 0), 0u) << given;
        const size_t end = given.find('\'', start.size());
        ASSERT_NE(end, std::string::npos) << given;
        const std::string url = given.substr(start.size(), end - start.size());
        EXPECT_EQ(url.find(','), std::string::npos) << "one attachment: " << url;
        EXPECT_EQ(path_of_file_url(url), record.string()) << given;
    }
}

TEST(SendByMail, MissingMailProgramOrPathIsAFailure) {
    TempDir dir;
    ScopedEnv path("PATH", dir.path().string());
    EXPECT_FALSE(sharing::send_by_mail(u"/tmp/a.mp3"));
    EXPECT_FALSE(sharing::send_by_mail(u""));
}
