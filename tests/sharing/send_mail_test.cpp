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

TEST(SendByMail, PathWithBlanksAndQuotesArrivesWhole) {
    TempDir dir;
    auto bin = install_fake_mailer(dir);
    ScopedEnv path("PATH", bin.string() + ":" + std::getenv("PATH"));
    const std::u16string record = (dir / "My Quillory/Ada \"x\" 5 May.mp3").u16string();
    ASSERT_TRUE(sharing::send_by_mail(record));
    EXPECT_EQ(wait_for_file(bin / "xdg-email.args"),
              "--attach\n" + (dir / "My Quillory/Ada \"x\" 5 May.mp3").string() + "\n");
}

TEST(SendByMail, MissingMailProgramOrPathIsAFailure) {
    TempDir dir;
    ScopedEnv path("PATH", dir.path().string());
    EXPECT_FALSE(sharing::send_by_mail(u"/tmp/a.mp3"));
    EXPECT_FALSE(sharing::send_by_mail(u""));
}
