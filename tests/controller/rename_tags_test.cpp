// Records tagged by other programs, in every tag version: listed with their texts, and renamed
// without losing anything, judged by mutagen and ffprobe.

#include "cli_runner.h"
#include "controller_env.h"
#include "support/watchdog.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace controller_test;
namespace fs = std::filesystem;

namespace {

std::string python(const fs::path& folder, const std::string& script, const fs::path& file) {
    std::ofstream(folder / "script.py") << script;
    return run("/usr/bin/python3 " + quote(folder / "script.py") + " " + quote(file) + " 2>&1").out;
}

const char kDump[] = R"PY(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
print('version %d.%d' % t.version[:2])
for k in sorted(t.keys()):
    print('%s %r' % (k, t[k]))
)PY";

class RenameTags : public ::testing::Test {
protected:
    RenameTags() { fs::create_directories(m_world.main_folder()); }
    testing_support::Watchdog m_watchdog{120};
    IsolatedWorld m_world;
};

} // namespace

TEST_F(RenameTags, TaggedByOthersAreListedAndRenamedWhole) {
    const fs::path folder = m_world.main_folder();
    const fs::path v24 = folder / "theirs24.mp3";
    ASSERT_EQ(
        run("ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame "
            "-b:a 64k " +
            quote(v24) + " 2>&1")
            .out,
        "");
    // A 2.4 tag without padding, with a picture, a comment, a chapter and a private frame.
    ASSERT_EQ(python(folder, R"PY(
import sys
from mutagen.id3 import ID3, TPE1, TIT2, TALB, APIC, COMM, CHAP, PRIV
t = ID3()
t.add(TPE1(encoding=3, text='Zo\u00eb'))
t.add(TIT2(encoding=3, text='Meeting'))
t.add(TALB(encoding=3, text='Work'))
t.add(APIC(encoding=3, mime='image/png', type=3, desc='', data=b'\x89PNG\r\n\x1a\n' + bytes(3000)))
t.add(COMM(encoding=3, lang='eng', desc='', text='kept'))
t.add(CHAP(element_id='c', start_time=0, end_time=500, sub_frames=[TIT2(encoding=3, text='One')]))
t.add(PRIV(owner='org.example', data=b'\x00\x01'))
t.save(sys.argv[1], v2_version=4, padding=lambda info: 0)
)PY",
                     v24),
              "");
    // A 2.2 tag, made by hand.
    const fs::path v22 = folder / "theirs22.mp3";
    {
        std::string frames;
        auto frame = [&](const char* id, const std::string& data) {
            frames += std::string(id, 3);
            frames += char(0);
            frames += char(data.size() >> 8);
            frames += char(data.size() & 0xFF);
            frames += data;
        };
        frame("TT2", std::string(1, '\0') + "Old one");
        frame("TP1", std::string(1, '\0') + "Ann");
        frame("TAL", std::string(1, '\0') + "Notes");
        const std::string bytes = read_whole_file(v24);
        std::string header = {
            'I', 'D', '3', 2, 0, 0, 0, 0, char(frames.size() >> 7), char(frames.size() & 0x7F)};
        // The 2.4 tag of the other file is skipped: the same audio follows.
        std::size_t tag = 10 + ((bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 |
                                (bytes[8] & 0x7F) << 7 | (bytes[9] & 0x7F));
        std::ofstream(v22, std::ios::binary) << header << frames << bytes.substr(tag);
    }

    const std::string listed = run(quote(cli) + " list").out;
    EXPECT_NE(listed.find(v24.string() + "\tZo\u00eb\tMeeting\tWork\t"), std::string::npos)
        << listed;
    EXPECT_NE(listed.find(v22.string() + "\tAnn\tOld one\tNotes\t"), std::string::npos) << listed;

    const std::string before = python(folder, kDump, v24);
    const double duration = ffprobe_duration(v24);
    const auto date = fs::last_write_time(v24);
    fs::permissions(v24, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // Far beyond what the tag has room for.
    const std::string title = "A long title " + std::string(900, 'x');
    const Result renamed = run(quote(cli) + " rename " + quote(v24) + " " + quote(title));
    ASSERT_EQ(renamed.status, 0) << renamed.out;
    const fs::path now(first_line(renamed.out));
    EXPECT_NE(now, v24);
    EXPECT_FALSE(fs::exists(v24));
    ASSERT_TRUE(fs::exists(now));
    const std::string after = python(folder, kDump, now);
    EXPECT_NE(after.find("TIT2 TIT2(encoding=<Encoding.LATIN1: 0>, text=['" + title + "'])"),
              std::string::npos)
        << after;
    auto without_title = [](const std::string& dump) {
        std::istringstream lines(dump);
        std::string line, rest;
        while (std::getline(lines, line))
            if (line.rfind("TIT2 ", 0) != 0)
                rest += line + "\n";
        return rest;
    };
    EXPECT_EQ(without_title(after), without_title(before));
    EXPECT_NE(after.find("version 2.4"), std::string::npos);
    EXPECT_NEAR(ffprobe_duration(now), duration, 0.001);
    EXPECT_LE(fs::last_write_time(now), date) << "the record keeps its date";
    EXPECT_EQ(fs::status(now).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".retag"), std::string::npos)
            << "no temporary file left behind";

    // The 2.2 record: its tag becomes 2.3 with the new title and its other texts.
    ASSERT_EQ(cli_run("rename " + quote(v22) + " 'New one'").status, 0);
    const std::string upgraded = python(folder, kDump, folder / "Ann New one.mp3");
    EXPECT_NE(upgraded.find("version 2.3"), std::string::npos) << upgraded;
    EXPECT_NE(upgraded.find("text=['New one']"), std::string::npos) << upgraded;
    EXPECT_NE(upgraded.find("TALB TALB(encoding=<Encoding.LATIN1: 0>, text=['Notes'])"),
              std::string::npos)
        << upgraded;
}
