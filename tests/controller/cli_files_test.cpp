// quillory-cli with the files people have: names that are not UTF-8, outputs that are the
// input, paths that are not files, and the end of a session.

#include "cli_runner.h"
#include "controller_env.h"
#include "support/watchdog.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <unistd.h>

using controller_test::IsolatedWorld;
using testing_support::ScopedEnv;
namespace fs = std::filesystem;

namespace {

const std::string cli = std::string(QV_BUILD_DIR) + "/bin/quillory-cli";
const std::string data_dir = std::string(QV_TEST_DATA) + "/controller/";

using controller_test::first_line;
using controller_test::quoted;
using controller_test::Result;
using controller_test::run;

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CliFilesTest : public ::testing::Test {
protected:
    CliFilesTest()
        : m_audio("QUILLORY_AUDIO", "file"), m_input("QUILLORY_AUDIO_IN", data_dir + "speech.wav"),
          m_speed("QUILLORY_AUDIO_SPEED", "20") {}

    // A fresh record of about half a second; its path.
    fs::path record() {
        Result recorded = run(quoted(cli) + " record --seconds 0.5");
        EXPECT_EQ(recorded.status, 0) << recorded.out;
        return first_line(recorded.out);
    }

    // A stand-in mail program first in PATH that writes its arguments, one per line.
    fs::path fake_mailer() {
        const fs::path bin = m_world.root() / "bin";
        fs::create_directories(bin);
        std::ofstream(bin / "xdg-email")
            << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n";
        fs::permissions(bin / "xdg-email", fs::perms::owner_all);
        m_path = std::make_unique<ScopedEnv>("PATH", bin.string() + ":" + std::getenv("PATH"));
        return bin / "xdg-email.args";
    }

    testing_support::Watchdog m_watchdog{120};
    IsolatedWorld m_world;
    ScopedEnv m_audio, m_input, m_speed;
    std::unique_ptr<ScopedEnv> m_path;
};

std::string wait_for_file(const fs::path& path) {
    for (int i = 0; i < 250 && !fs::exists(path); ++i)
        usleep(20000);
    usleep(50000);
    return read_all(path);
}

} // namespace

TEST_F(CliFilesTest, NameThatIsNotUtf8GoesThroughListInfoRenameAndSend) {
    const fs::path made = record();
    ASSERT_TRUE(fs::exists(made));
    // Latin-1 bytes, as an old card or a copy from another system leaves them.
    const std::string odd_name = "Caf\xE9 \xFF.mp3";
    const fs::path odd = m_world.main_folder() / odd_name;
    fs::rename(made, odd);

    Result listed = run(quoted(cli) + " list");
    ASSERT_EQ(listed.status, 0) << listed.out;
    EXPECT_NE(listed.out.find(odd.string() + "\t"), std::string::npos) << listed.out;

    Result info = run(quoted(cli) + " info " + quoted(odd.string()));
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(first_line(info.out), "path=" + odd.string());
    EXPECT_NE(info.out.find("codec=mp3"), std::string::npos) << info.out;

    Result renamed = run(quoted(cli) + " rename " + quoted(odd.string()) + " " +
                         quoted("Cr\xE8me caf\xE9") + " 2>&1");
    ASSERT_EQ(renamed.status, 0) << renamed.out;
    const fs::path now = first_line(renamed.out);
    EXPECT_EQ(now, m_world.main_folder() / "Record Cr\xE8me caf\xE9.mp3");
    EXPECT_TRUE(fs::exists(now));
    EXPECT_FALSE(fs::exists(odd));

    const fs::path arguments = fake_mailer();
    Result sent = run(quoted(cli) + " send " + quoted(now.string()) + " 2>&1");
    ASSERT_EQ(sent.status, 0) << sent.out;
    const std::string given = wait_for_file(arguments);
    // The link holds the name's own bytes, percent-encoded twice (a file URL inside a mailto link).
    EXPECT_NE(given.find("%2FRecord%2520Cr%25E8me%2520caf%25E9.mp3\n"), std::string::npos) << given;
}

TEST_F(CliFilesTest, ConversionsRefuseToWriteOverTheirInput) {
    const fs::path input = m_world.root() / "in.wav";
    fs::copy_file(data_dir + "quiet.wav", input);
    const std::string before = read_all(input);
    const fs::path hard = m_world.root() / "hard.wav";
    fs::create_hard_link(input, hard);
    const fs::path soft = m_world.root() / "soft.wav";
    fs::create_symlink(input, soft);

    for (const fs::path& output : {input, hard, soft}) {
        Result decoded =
            run(quoted(cli) + " decode " + quoted(input.string()) + " " + quoted(output) + " 2>&1");
        EXPECT_EQ(decoded.status, 2) << output;
        EXPECT_NE(decoded.out.find("is the input file"), std::string::npos) << decoded.out;
        Result encoded = run(quoted(cli) + " encode " + quoted(input.string()) + " " +
                             quoted(output) + " --codec PCM 2>&1");
        EXPECT_EQ(encoded.status, 2) << output;
    }
    EXPECT_EQ(read_all(input), before) << "the input is untouched";

    const fs::path copy = m_world.root() / "copy.wav";
    EXPECT_EQ(run(quoted(cli) + " decode " + quoted(input.string()) + " " + quoted(copy)).status,
              0);
    EXPECT_GT(fs::file_size(copy), 44u);
}

TEST_F(CliFilesTest, CommandsOnPathsThatAreNotFilesSayWhy) {
    const fs::path missing = m_world.root() / "missing.mp3";
    const fs::path folder = m_world.root() / "folder.mp3";
    fs::create_directories(folder);
    const fs::path text = m_world.root() / "notes.txt";
    std::ofstream(text) << "not audio\n";
    fake_mailer();
    for (const std::string command : {"send ", "append ", "rename "}) {
        const std::string tail = command == "rename " ? " title 2>&1" : " 2>&1";
        Result gone = run(quoted(cli) + " " + command + quoted(missing.string()) + tail);
        EXPECT_EQ(gone.status, 1) << command;
        EXPECT_NE(gone.out.find("no such file"), std::string::npos) << gone.out;
        Result dir = run(quoted(cli) + " " + command + quoted(folder.string()) + tail);
        EXPECT_EQ(dir.status, 1) << command;
        EXPECT_NE(dir.out.find("is a folder"), std::string::npos) << dir.out;
    }
    Result not_audio = run(quoted(cli) + " append " + quoted(text.string()) + " 2>&1");
    EXPECT_EQ(not_audio.status, 1);
    EXPECT_NE(not_audio.out.find("not an audio file this program reads"), std::string::npos)
        << not_audio.out;
    Result info = run(quoted(cli) + " info " + quoted(text.string()) + " " +
                      quoted(missing.string()) + " 2>&1");
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("notes.txt: not an audio file this program reads"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("missing.mp3: no such file"), std::string::npos) << info.out;
}

TEST_F(CliFilesTest, HangUpEndsARecordingLikeTerm) {
    ScopedEnv speed("QUILLORY_AUDIO_SPEED", "1");
    std::map<std::string, std::string> statuses;
    for (const std::string signal : {"TERM", "HUP"}) {
        const fs::path out = m_world.root() / (signal + ".out");
        Result ended =
            run("bash -c " + quoted(quoted(cli) + " record --seconds 600 > " + quoted(out) +
                                    " & pid=$!; for i in $(seq 200); do [ -s " + quoted(out) +
                                    " ] && break; sleep 0.05; done; sleep 1.5; kill -" + signal +
                                    " $pid; wait $pid; echo status=$?"));
        statuses[signal] = ended.out;
        const fs::path path = first_line(read_all(out));
        ASSERT_TRUE(fs::exists(path)) << signal;
        Result duration = run("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                              quoted(path.string()));
        EXPECT_GT(std::atof(duration.out.c_str()), 0.5) << signal << ": the file was completed";
    }
    EXPECT_EQ(statuses["HUP"], "status=0\n");
    EXPECT_EQ(statuses["HUP"], statuses["TERM"]);
}
