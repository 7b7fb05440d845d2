#include "cli_runner.h"
#include "controller/settings.h"
#include "controller_env.h"
#include "foundation/registry.h"
#include "support/watchdog.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>

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

class CliTest : public ::testing::Test {
protected:
    CliTest()
        : m_audio("QUILLORY_AUDIO", "file"), m_input("QUILLORY_AUDIO_IN", data_dir + "speech.wav"),
          m_speed("QUILLORY_AUDIO_SPEED", "20") {}
    testing_support::Watchdog m_watchdog{120};
    IsolatedWorld m_world;
    ScopedEnv m_audio, m_input, m_speed;
};

} // namespace

TEST_F(CliTest, RecordListRenameAndOptions) {
    Result recorded = run(quoted(cli) + " record --seconds 1.5 --format Mp3High --boost Boost1");
    ASSERT_EQ(recorded.status, 0) << recorded.out;
    const fs::path path = first_line(recorded.out);
    EXPECT_EQ(path.parent_path(), m_world.main_folder());
    Result rate =
        run("ffprobe -v error -show_entries stream=bit_rate -of csv=p=0 " + quoted(path.string()));
    EXPECT_EQ(rate.out, "96000\n");
    std::u16string format;
    platform::registry_close();
    EXPECT_FALSE(foundation::read_string(controller::settings_key(), u"Format", format))
        << "options change the stored settings only with --save";
    ASSERT_EQ(run(quoted(cli) + " record --seconds 0.5 --format Mp3Low --save").status, 0);
    platform::registry_close();
    EXPECT_TRUE(foundation::read_string(controller::settings_key(), u"Format", format));
    EXPECT_EQ(format, u"Mp3Low");

    Result listed = run(quoted(cli) + " list");
    ASSERT_EQ(listed.status, 0);
    std::istringstream lines(listed.out);
    std::string line;
    int count = 0;
    bool found = false;
    while (std::getline(lines, line)) {
        ++count;
        if (line.rfind(path.string() + "\tRecord\t", 0) == 0) {
            found = true;
            EXPECT_NE(line.find("\tRecord\t"), std::string::npos);
            EXPECT_EQ(line.back(), 'K');
        }
    }
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(found) << listed.out;

    Result renamed = run(quoted(cli) + " rename " + quoted(path.string()) + " 'Team call'");
    ASSERT_EQ(renamed.status, 0);
    EXPECT_EQ(first_line(renamed.out), (m_world.main_folder() / "Record Team call.mp3").string());
    EXPECT_NE(run(quoted(cli) + " rename /nonexistent.mp3 x 2>&1").status, 0);
    EXPECT_EQ(run(quoted(cli) + " record --format Mp3Huge 2>&1").status, 2);
    EXPECT_EQ(run(quoted(cli) + " append 2>&1").status, 2);
}

namespace {

// What a syscall trace says happened to the files under one folder: the order of writes to
// each file, of syncs of each file or folder, and of entries made (files created, renamed in).
struct DiskTrace {
    std::map<std::string, size_t> last_write, last_sync;
    std::vector<std::pair<size_t, std::string>> entries; // (when, path)
};

// Reads `strace -f -s 4096` output of openat, write, pwrite64, ftruncate, fsync, fdatasync,
// close and rename calls.
DiskTrace read_trace(const fs::path& file) {
    DiskTrace trace;
    std::ifstream in(file);
    std::map<std::string, std::string> pending; // pid -> call not finished
    std::map<long, std::string> open_files;     // descriptor -> path
    std::string line;
    const std::regex opened(R"re(^openat\(AT_FDCWD, "([^"]*)", ([A-Z_|]+).*\) = (\d+))re");
    const std::regex on_fd(
        R"re(^(write|pwrite64|ftruncate|fsync|fdatasync|close)\((\d+)[,)].*= (-?\d+))re");
    const std::regex renamed(
        R"re(^rename(?:at2?)?\((?:AT_FDCWD, )?"([^"]*)", (?:AT_FDCWD, )?"([^"]*)".*\) = 0)re");
    for (size_t when = 0; std::getline(in, line); ++when) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos)
            continue;
        const std::string pid = line.substr(0, blank);
        std::string call = line.substr(line.find_first_not_of(' ', blank));
        if (const size_t cut = call.find(" <unfinished ...>"); cut != std::string::npos) {
            pending[pid] = call.substr(0, cut);
            continue;
        }
        if (call.rfind("<... ", 0) == 0) {
            const size_t resumed = call.find("resumed>");
            if (resumed == std::string::npos)
                continue;
            call = pending[pid] + call.substr(resumed + 8);
        }
        std::smatch match;
        if (std::regex_search(call, match, opened)) {
            open_files[std::stol(match[3])] = match[1];
            if (match[2].str().find("O_CREAT") != std::string::npos)
                trace.entries.emplace_back(when, match[1]);
        } else if (std::regex_search(call, match, on_fd)) {
            const long fd = std::stol(match[2]);
            const std::string what = match[1];
            const auto file_of = open_files.find(fd);
            if (file_of == open_files.end() || std::stol(match[3]) < 0)
                continue;
            if (what == "close")
                open_files.erase(file_of);
            else if (what == "fsync" || what == "fdatasync")
                trace.last_sync[file_of->second] = when;
            else
                trace.last_write[file_of->second] = when;
        } else if (std::regex_search(call, match, renamed)) {
            trace.entries.emplace_back(when, match[2]);
        }
    }
    return trace;
}

} // namespace

TEST_F(CliTest, EveryEndOfAWriteReachesTheDiskWithItsFolder) {
    if (run("command -v strace").status != 0) {
        if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")
            FAIL() << "strace is needed for this test";
        GTEST_SKIP() << "strace is not installed";
    }
    const fs::path folder = m_world.main_folder();
    const fs::path trace_file = m_world.root() / "trace.txt";
    auto traced = [&](const std::string& arguments) {
        fs::remove(trace_file);
        // LeakSanitizer cannot work under ptrace; the leak check runs in the other tests.
        return run("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                   "strace -f -qq -s 4096 -o " +
                   quoted(trace_file.string()) +
                   " -e trace=openat,write,pwrite64,ftruncate,fsync,fdatasync,close,rename,"
                   "renameat,renameat2 " +
                   quoted(cli) + " " + arguments);
    };
    Result recorded = traced("record --seconds 0.5");
    ASSERT_EQ(recorded.status, 0) << recorded.out;
    const std::string path = first_line(recorded.out);
    struct Case {
        const char* name;
        std::string arguments;
    } cases[] = {
        {"record", ""},
        {"append", "append " + quoted(path) + " --seconds 0.5"},
        {"rename in place", "rename " + quoted(path) + " 'Short'"},
        {"rename that rewrites the file",
         "rename " + quoted(folder / "Record Short.mp3") + " " + quoted(std::string(3000, 'x'))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.arguments.empty()) {
            Result result = traced(c.arguments);
            ASSERT_EQ(result.status, 0) << result.out;
        }
        const DiskTrace trace = read_trace(trace_file);
        size_t files = 0;
        for (const auto& [file, when] : trace.last_write) {
            if (fs::path(file).parent_path() != folder)
                continue;
            ++files;
            const auto synced = trace.last_sync.find(file);
            EXPECT_TRUE(synced != trace.last_sync.end() && synced->second > when)
                << file << " is not synced after its last write";
        }
        EXPECT_GT(files, 0u);
        const auto folder_synced = trace.last_sync.find(folder.string());
        for (const auto& [when, entry] : trace.entries) {
            if (fs::path(entry).parent_path() != folder)
                continue;
            EXPECT_TRUE(folder_synced != trace.last_sync.end() && folder_synced->second > when)
                << "the folder is not synced after " << entry << " was made";
        }
    }
}

TEST_F(CliTest, FullDiskStopsWithTheFileIntact) {
    // A 48 KiB file-size limit stands in for a full disk.
    Result full =
        run("bash -c " +
            quoted("trap '' XFSZ; ulimit -f 48; exec " + quoted(cli) + " record --seconds 30") +
            " 2>&1");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find("there is not enough free space"), std::string::npos) << full.out;
    EXPECT_EQ(full.out.find("Sorry_no_memory"), std::string::npos) << "the text, not the key";
    const fs::path path = first_line(full.out);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_LE(fs::file_size(path), 48u * 1024);
    Result duration =
        run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + quoted(path.string()));
    EXPECT_GT(std::atof(duration.out.c_str()), 3.0) << "what fitted is playable";

    // Full from the start: the recording cannot begin, and the reason is said.
    ScopedEnv full_disk("QUILLORY_FULL_DISK", (m_world.root() / "home/Documents").string());
    ScopedEnv english("LC_ALL", "en_US.UTF-8");
    Result refused = run(quoted(cli) + " record --seconds 1 2>&1");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "quillory-cli: Sorry, there is not enough free space.\n");
}

TEST_F(CliTest, PhoneSimulatorWritesThePhoneState) {
    std::ofstream(m_world.contacts() / "ada.vcf")
        << "BEGIN:VCARD\nVERSION:3.0\nFN:Ada Lovelace\nTEL;TYPE=CELL:+44 20 7946 0958\nEND:VCARD\n";
    const std::u16string key = u"HKEY_LOCAL_MACHINE\\System\\State\\Phone";
    ASSERT_EQ(run(quoted(cli) + " phone incoming '020 7946 0958'").status, 0);
    platform::registry_close();
    std::u16string name;
    foundation::read_string(key, u"Caller Name", name);
    EXPECT_EQ(name, u"Ada Lovelace") << "the contact's name when none is given";
    EXPECT_EQ(run(quoted(cli) + " phone connect").status, 0);
    uint32_t status = 0;
    platform::registry_close();
    foundation::read_dword(key, u"Status", status);
    EXPECT_EQ(status, 0x20000000u);
    EXPECT_EQ(run(quoted(cli) + " phone hangup").status, 0);
    EXPECT_EQ(run(quoted(cli) + " phone connect 2>&1").status, 1);
    ASSERT_EQ(run(quoted(cli) + " phone outgoing 5550101 --name Bob").status, 0);
    platform::registry_close();
    foundation::read_string(key, u"Caller Name", name);
    EXPECT_EQ(name, u"Bob");
    EXPECT_EQ(run(quoted(cli) + " phone ring 2>&1").status, 2);
}

TEST_F(CliTest, SoundDeviceThatGoesAwayEndsTheRecordingWithAMessage) {
    ScopedEnv gone("QUILLORY_AUDIO_REMOVE_AFTER_MS", "1000");
    Result recorded = run(quoted(cli) + " record --seconds 30 2>&1");
    EXPECT_EQ(recorded.status, 1);
    EXPECT_NE(recorded.out.find("microphone or speaker was disconnected"), std::string::npos)
        << recorded.out;
    Result duration = run("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                          quoted(first_line(recorded.out)));
    EXPECT_NEAR(std::atof(duration.out.c_str()), 1.0, 0.3) << "the file is complete";
}

TEST_F(CliTest, AudioTheSoundSystemDroppedIsSaidAtTheEndWithTheStatusUnchanged) {
    {
        // The device leaves out 300 and 200 ms of its input, as a server that dropped audio
        // would.
        ScopedEnv drops("QUILLORY_AUDIO_DROP_MS", "400:300,1000:200");
        Result recorded = run(quoted(cli) + " record --seconds 2 2>&1");
        EXPECT_EQ(recorded.status, 0) << recorded.out;
        EXPECT_NE(recorded.out.find("quillory-cli: Audio lost: 0.5 s"), std::string::npos)
            << recorded.out;
    }
    Result clean = run(quoted(cli) + " record --seconds 1 2>&1");
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out.find("lost"), std::string::npos) << clean.out;
}

TEST_F(CliTest, PlayReachesTheOutputWholeOrSaysWhyNot) {
    const std::string input = data_dir + "speech.wav";
    const std::string out = (m_world.root() / "out.wav").string();
    {
        ScopedEnv output("QUILLORY_AUDIO_OUT", out);
        Result played = run(quoted(cli) + " play " + quoted(input) + " 2>&1");
        EXPECT_EQ(played.status, 0) << played.out;
        // Every sample, the last ones too, as an independent reader sees both files.
        Result same = run("bash -c " + quoted("cmp <(sox " + quoted(input) + " -t raw -) <(sox " +
                                              quoted(out) + " -t raw -) && echo same"));
        EXPECT_EQ(same.out, "same\n");
    }
    {
        // Files other programs make in formats no output takes as they are: converted on the way.
        ScopedEnv output("QUILLORY_AUDIO_OUT", out);
        ScopedEnv speed("QUILLORY_AUDIO_SPEED", "20");
        for (const std::string& options : {std::string("-b 24 -c 6 -r 96000"),
                                           std::string("-e floating-point -b 32 -c 2 -r 22050")}) {
            const std::string made = (m_world.root() / "made.wav").string();
            ASSERT_EQ(run("sox " + quoted(input) + " " + options + " " + quoted(made)).status, 0);
            Result played = run(quoted(cli) + " play " + quoted(made) + " 2>&1");
            EXPECT_EQ(played.status, 0) << options << played.out;
            Result seconds = run("soxi -D " + quoted(out));
            EXPECT_NEAR(std::atof(seconds.out.c_str()), 4.81, 0.05) << options;
            Result stats = run("sox " + quoted(out) + " -n stat 2>&1 | grep 'Maximum amplitude'");
            const auto colon = stats.out.find(':');
            ASSERT_NE(colon, std::string::npos) << options;
            EXPECT_GT(std::atof(stats.out.c_str() + colon + 1), 0.1) << options << ": not silence";
            EXPECT_EQ(run("soxi -b " + quoted(out)).out, "16\n") << options;
        }
    }
    {
        ScopedEnv output("QUILLORY_AUDIO_OUT", (m_world.root() / "no/such/dir/out.wav").string());
        Result played = run(quoted(cli) + " play " + quoted(input) + " 2>&1");
        EXPECT_EQ(played.status, 1);
        EXPECT_NE(played.out.find("no sound output device"), std::string::npos) << played.out;
    }
    {
        ScopedEnv audio("QUILLORY_AUDIO", "sdl");
        ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
        Result played = run(quoted(cli) + " play " + quoted(input) + " 2>&1");
        EXPECT_EQ(played.status, 1);
        EXPECT_NE(played.out.find("no sound output device"), std::string::npos) << played.out;
    }
    {
        ScopedEnv output("QUILLORY_AUDIO_OUT", out);
        ScopedEnv speed("QUILLORY_AUDIO_SPEED", "1");
        ScopedEnv gone("QUILLORY_AUDIO_REMOVE_AFTER_MS", "300");
        Result played = run(quoted(cli) + " play " + quoted(input) + " 2>&1");
        EXPECT_EQ(played.status, 1);
        EXPECT_NE(played.out.find("went away"), std::string::npos) << played.out;
    }
}
