// quillory-cli end to end: its commands, what reaches the disk, what it says when a device, a
// disk or a file fails it, what a kill leaves, the files people have, and its waveforms.

#include "cli_runner.h"
#include "controller/peak_cache.h"
#include "controller/settings.h"
#include "controller_env.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace controller_test;
using testing_support::ScopedEnv;
using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

class CliTest : public ::testing::Test {
protected:
    // A stand-in mail program first in PATH that writes its arguments, one per line.
    fs::path fake_mailer() {
        const fs::path bin = m_world.root() / "bin";
        testing_support::write_script(bin / "xdg-email", testing_support::arguments_recorder);
        m_path = std::make_unique<ScopedEnv>("PATH", bin.string() + ":" + std::getenv("PATH"));
        return bin / "xdg-email.args";
    }
    std::u16string stored(const std::u16string& key, const char16_t* name) {
        platform::registry_close();
        std::u16string value;
        return foundation::read_string(key, name, value) ? value : u"<absent>";
    }

    testing_support::Watchdog m_watchdog{120};
    IsolatedWorld m_world;
    ScopedEnv m_audio{"QUILLORY_AUDIO", "file"};
    ScopedEnv m_input{"QUILLORY_AUDIO_IN", data_dir + "speech.wav"};
    ScopedEnv m_speed{"QUILLORY_AUDIO_SPEED", "20"};
    std::unique_ptr<ScopedEnv> m_path;
};

} // namespace

TEST_F(CliTest, RecordListRenameAndOptions) {
    Result recorded;
    {
        // The device leaves out 300 and 200 ms, as a server that dropped audio would: said at
        // the end, the status unchanged.
        ScopedEnv drops("QUILLORY_AUDIO_DROP_MS", "400:300,1000:200");
        recorded = cli_run("record --seconds 1.5 --format Mp3High --boost Boost1");
    }
    ASSERT_EQ(recorded.status, 0) << recorded.out;
    EXPECT_NE(recorded.out.find("quillory-cli: Audio lost: 0.5 s"), std::string::npos)
        << recorded.out;
    const fs::path path = first_line(recorded.out);
    EXPECT_EQ(path.parent_path(), m_world.main_folder());
    EXPECT_EQ(run("ffprobe -v error -show_entries stream=bit_rate -of csv=p=0 " + quote(path)).out,
              "96000\n");
    const std::u16string settings = controller::settings_key();
    EXPECT_EQ(stored(settings, u"Format"), u"<absent>")
        << "options change the stored settings only with --save";
    Result saved = cli_run("record --seconds 0.5 --format Mp3Low --save");
    ASSERT_EQ(saved.status, 0);
    EXPECT_EQ(saved.out.find("lost"), std::string::npos) << saved.out;
    EXPECT_EQ(stored(settings, u"Format"), u"Mp3Low");

    Result listed = run(quote(cli) + " list");
    ASSERT_EQ(listed.status, 0);
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 2);
    const auto at = listed.out.find(path.string() + "\tRecord\t");
    ASSERT_NE(at, std::string::npos) << listed.out;
    EXPECT_EQ(first_line(listed.out.substr(at)).back(), 'K') << "the size";

    EXPECT_EQ(cli_run("record --format Mp3Huge").status, 2);
    EXPECT_EQ(cli_run("append").status, 2);
}

namespace {

// When (by line of a `strace -f -y -z` log of openat, write, pwrite64, ftruncate, fsync,
// fdatasync and rename calls) each file was last written and synced, and entries were made.
struct DiskTrace {
    std::map<std::string, size_t> last_write, last_sync;
    std::vector<std::pair<size_t, std::string>> entries; // (when, path)
};

DiskTrace read_trace(const fs::path& file) {
    DiskTrace trace;
    std::ifstream in(file);
    const std::regex made(
        R"re(^\d+ +(?:openat\(.*, "([^"]*)", [A-Z_|]*O_CREAT|rename.*"([^"]*)"))re");
    const std::regex on_file(R"re(^\d+ +(\w+)\(\d+<([^>]*)>)re");
    size_t when = 0;
    for (std::string line; std::getline(in, line); ++when) {
        std::smatch match;
        if (std::regex_search(line, match, made))
            trace.entries.emplace_back(when, match[1].matched ? match[1] : match[2]);
        else if (std::regex_search(line, match, on_file))
            (match[1].str().find("sync") != std::string::npos ? trace.last_sync
                                                              : trace.last_write)[match[2]] = when;
    }
    return trace;
}

} // namespace

TEST_F(CliTest, EveryEndOfAWriteReachesTheDiskWithItsFolder) {
    QV_REQUIRE_TOOLS("strace");
    const fs::path trace_file = m_world.root() / "trace.txt";
    auto traced = [&](const std::string& arguments) {
        fs::remove(trace_file);
        // LeakSanitizer cannot work under ptrace; the leak check runs in the other tests.
        return run("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                   "strace -f -qq -y -z -o " +
                   quote(trace_file) +
                   " -e trace=openat,write,pwrite64,ftruncate,fsync,fdatasync,rename,renameat,"
                   "renameat2 " +
                   quote(cli) + " " + arguments);
    };
    const std::string path = first_line(traced("record --seconds 0.5").out);
    const fs::path folder = fs::canonical(m_world.main_folder());
    const std::pair<const char*, std::string> cases[] = {
        {"record", ""},
        {"append", "append " + quote(path) + " --seconds 0.5"},
        {"rename in place", "rename " + quote(path) + " 'Short'"},
        {"rename that rewrites the file",
         "rename " + quote(folder / "Record Short.mp3") + " " + quote(std::string(3000, 'x'))},
    };
    for (const auto& [name, arguments] : cases) {
        SCOPED_TRACE(name);
        if (!arguments.empty()) {
            Result result = traced(arguments);
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
        for (const auto& [when, entry] : trace.entries)
            EXPECT_TRUE(fs::weakly_canonical(fs::path(entry).parent_path()) != folder ||
                        (folder_synced != trace.last_sync.end() && folder_synced->second > when))
                << "the folder is not synced after " << entry << " was made";
    }
}

TEST_F(CliTest, FullDiskStopsWithTheFileIntact) {
    // A file-size limit stands in for a disk that fills while recording.
    Result full = run(
        "bash -c " +
        quote("trap '' XFSZ; ulimit -f 48; exec " + quote(cli) + " record --seconds 30") + " 2>&1");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find("there is not enough free space"), std::string::npos) << full.out;
    EXPECT_EQ(full.out.find("Sorry_no_memory"), std::string::npos) << "the text, not the key";
    const fs::path path = first_line(full.out);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_LE(fs::file_size(path), 48u * 1024);
    EXPECT_GT(ffprobe_duration(path), 3.0) << "what fitted is playable";
}

TEST_F(CliTest, PhoneSimulatorWritesThePhoneState) {
    std::ofstream(m_world.contacts() / "ada.vcf")
        << "BEGIN:VCARD\nVERSION:3.0\nFN:Ada Lovelace\nTEL;TYPE=CELL:+44 20 7946 0958\nEND:VCARD\n";
    const std::u16string key = u"HKEY_LOCAL_MACHINE\\System\\State\\Phone";
    ASSERT_EQ(cli_run("phone incoming '020 7946 0958'").status, 0);
    EXPECT_EQ(stored(key, u"Caller Name"), u"Ada Lovelace") << "the contact's name when none given";
    EXPECT_EQ(cli_run("phone connect").status, 0);
    EXPECT_EQ(cli_run("phone hangup").status, 0);
    EXPECT_EQ(cli_run("phone connect").status, 1);
    ASSERT_EQ(cli_run("phone outgoing 5550101 --name Bob").status, 0);
    EXPECT_EQ(stored(key, u"Caller Name"), u"Bob");
    EXPECT_EQ(cli_run("phone ring").status, 2);
}

// Every sample reaches the output, the last ones too; faster, with the 3 s pauses between
// three tones cut to 0.3 s, it lasts what it should.
TEST_F(CliTest, PlayReachesTheOutputWholeOrFasterWithPausesCut) {
    const std::string input = data_dir + "speech.wav";
    const fs::path out = m_world.root() / "out.wav", tones = m_world.root() / "pauses.wav";
    ScopedEnv output("QUILLORY_AUDIO_OUT", out.string());
    Result played = cli_run("play " + quote(input));
    EXPECT_EQ(played.status, 0) << played.out;
    EXPECT_EQ(testing_support::sox_samples(out), testing_support::sox_samples(input));
    ASSERT_EQ(run("sox -n -r 44100 -c 1 -b 16 " + quote(tones) +
                  " synth 1 sine 300 vol 0.4 pad 0 3 repeat 2 trim 0 9")
                  .status,
              0);
    ASSERT_EQ(cli_run("play " + quote(tones) + " --skip-silence --speed 1.5").status, 0);
    EXPECT_NEAR(testing_support::soxi(out, "-D"), (9 - 2 * 2.7) / 1.5, 0.07);
    EXPECT_EQ(cli_run("play " + quote(tones) + " --speed 4").status, 2);
}

// Each way a sound device fails a command: the status, the reason, a recording's file complete.
TEST_F(CliTest, SoundDeviceFailuresAreSaid) {
    const std::string input = quote(data_dir + "speech.wav");
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, std::string>> env;
        std::string arguments;
        const char* said;
    } cases[] = {
        {"microphone gone while recording",
         {{"QUILLORY_AUDIO_REMOVE_AFTER_MS", "1000"}},
         "record --seconds 30",
         "microphone or speaker was disconnected"},
        {"no such driver",
         {{"QUILLORY_AUDIO", "sdl"}, {"SDL_AUDIODRIVER", "no-such-driver"}},
         "play " + input,
         "no sound output device"},
        {"output gone while playing",
         {{"QUILLORY_AUDIO_OUT", (m_world.root() / "out.wav").string()},
          {"QUILLORY_AUDIO_SPEED", "1"},
          {"QUILLORY_AUDIO_REMOVE_AFTER_MS", "300"}},
         "play " + input,
         "went away"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::unique_ptr<ScopedEnv>> env;
        for (const auto& [name, value] : c.env)
            env.push_back(std::make_unique<ScopedEnv>(name, value));
        Result result = cli_run(c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.out.find(c.said), std::string::npos) << result.out;
        if (c.arguments.rfind("record", 0) == 0) {
            EXPECT_NEAR(ffprobe_duration(first_line(result.out)), 1.0, 0.3) << "file complete";
        }
    }
}

TEST_F(CliTest, NameThatIsNotUtf8GoesThroughListInfoRenameAndSend) {
    const fs::path odd = m_world.main_folder() / "Caf\xE9 \xFF.mp3";
    const Result recorded = run(quote(cli) + " record --seconds 0.5");
    ASSERT_EQ(recorded.status, 0) << recorded.out;
    fs::rename(first_line(recorded.out), odd);
    Result listed = run(quote(cli) + " list");
    ASSERT_EQ(listed.status, 0) << listed.out;
    EXPECT_NE(listed.out.find(odd.string() + "\t"), std::string::npos) << listed.out;
    Result info = run(quote(cli) + " info " + quote(odd));
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(first_line(info.out), "path=" + odd.string());
    EXPECT_NE(info.out.find("codec=mp3"), std::string::npos) << info.out;

    Result renamed =
        run(quote(cli) + " rename " + quote(odd) + " " + quote(std::string("Cr\xE8me caf\xE9")));
    ASSERT_EQ(renamed.status, 0) << renamed.out;
    const fs::path now = first_line(renamed.out);
    EXPECT_EQ(now, m_world.main_folder() / "Record Cr\xE8me caf\xE9.mp3");
    EXPECT_TRUE(fs::exists(now));
    EXPECT_FALSE(fs::exists(odd));

    const fs::path arguments = fake_mailer();
    Result sent = cli_run("send " + quote(now));
    ASSERT_EQ(sent.status, 0) << sent.out;
    testing_support::wait_for([&] { return fs::exists(arguments); }, 5000);
    usleep(50000);
    // The link holds the name's own bytes, percent-encoded twice (a file URL inside a mailto link).
    EXPECT_NE(read_whole_file(arguments).find("%2FRecord%2520Cr%25E8me%2520caf%25E9.mp3\n"),
              std::string::npos)
        << read_whole_file(arguments);
}

TEST_F(CliTest, ConversionsRefuseToWriteOverTheirInput) {
    const fs::path input = m_world.root() / "in.wav";
    fs::copy_file(data_dir + "quiet.wav", input);
    const std::string before = read_whole_file(input);
    const fs::path hard = m_world.root() / "hard.wav", soft = m_world.root() / "soft.wav";
    fs::create_hard_link(input, hard);
    fs::create_symlink(input, soft);
    for (const fs::path& output : {input, hard, soft}) {
        SCOPED_TRACE(output);
        Result decoded = cli_run("decode " + quote(input) + " " + quote(output));
        EXPECT_EQ(decoded.status, 2);
        EXPECT_NE(decoded.out.find("is the input file"), std::string::npos) << decoded.out;
        EXPECT_EQ(cli_run("encode " + quote(input) + " " + quote(output) + " --codec PCM").status,
                  2);
    }
    EXPECT_EQ(read_whole_file(input), before) << "the input is untouched";
    const fs::path copy = m_world.root() / "copy.wav";
    EXPECT_EQ(cli_run("decode " + quote(input) + " " + quote(copy)).status, 0);
    EXPECT_GT(fs::file_size(copy), 44u);
}

TEST_F(CliTest, CommandsOnPathsThatAreNotFilesSayWhy) {
    const fs::path missing = m_world.root() / "missing.mp3";
    const fs::path folder = m_world.root() / "folder.mp3";
    fs::create_directories(folder);
    const fs::path text = m_world.root() / "notes.txt";
    std::ofstream(text) << "not audio\n";
    fake_mailer();
    for (const std::string command : {"send ", "append ", "rename "}) {
        SCOPED_TRACE(command);
        const std::string tail = command == "rename " ? " title" : "";
        for (const auto& [path, said] :
             {std::pair{missing, "no such file"}, std::pair{folder, "is a folder"}}) {
            Result result = cli_run(command + quote(path) + tail);
            EXPECT_EQ(result.status, 1);
            EXPECT_NE(result.out.find(said), std::string::npos) << result.out;
        }
    }
    Result not_audio = cli_run("append " + quote(text));
    EXPECT_EQ(not_audio.status, 1);
    EXPECT_NE(not_audio.out.find("not an audio file this program reads"), std::string::npos)
        << not_audio.out;
    Result info = cli_run("info " + quote(text) + " " + quote(missing));
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("notes.txt: not an audio file this program reads"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("missing.mp3: no such file"), std::string::npos) << info.out;
}

TEST_F(CliTest, HangUpEndsARecordingLikeTerm) {
    ScopedEnv speed("QUILLORY_AUDIO_SPEED", "1");
    for (const std::string signal : {"TERM", "HUP"}) {
        SCOPED_TRACE(signal);
        const fs::path out = m_world.root() / (signal + ".out");
        Result ended =
            run("bash -c " + quote(quote(cli) + " record --seconds 600 > " + quote(out) +
                                   " & pid=$!; for i in $(seq 200); do [ -s " + quote(out) +
                                   " ] && break; sleep 0.05; done; sleep 1.5; kill -" + signal +
                                   " $pid; wait $pid; echo status=$?"));
        EXPECT_EQ(ended.out, "status=0\n");
        EXPECT_GT(ffprobe_duration(first_line(read_whole_file(out))), 0.5)
            << "the file was completed";
    }
}

namespace {

// What two decoders complain about (a broken frame makes them resynchronise).
std::string decode_errors(const std::string& path) {
    return run("ffmpeg -nostdin -v warning -i " + quote(path) +
               " -f null - 2>&1 | grep -v 'Estimating duration'")
               .out +
           run("mpg123 -t " + quote(path) + " 2>&1 | grep -iE 'resync|skipped|illegal|error|junk'")
               .out;
}

struct Killed {
    std::string path;
    double captured{0}; // seconds from the start of capture to the kill
    std::string marked; // with a marker: what the command said once it was written
};

// Starts `quillory-cli record` (what it says going to the file `said`) and kills it `after`
// seconds into the capture, or with `mark_at`, `after` seconds after it said that the marker set
// at that time was written.
Killed record_and_kill(const fs::path& said, const std::string& format, double after,
                       double mark_at = -1) {
    std::vector<std::string> argv{cli, "record", "--seconds", "600", "--format", format};
    if (mark_at >= 0)
        argv.insert(argv.end(), {"--mark-at", std::to_string(mark_at)});
    testing_support::Process recording(argv, {}, said);
    std::string text;
    const long lines = mark_at < 0 ? 1 : 2;
    while (std::count(text.begin(), text.end(), '\n') < lines && recording.running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        text = read_whole_file(said);
    }
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(after));
    Killed result;
    result.captured =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    recording.signal(SIGKILL);
    recording.wait_exit(std::chrono::seconds(10));
    std::istringstream said_lines(text);
    std::getline(said_lines, result.path);
    std::getline(said_lines, result.marked);
    return result;
}

} // namespace

// A recording killed at a random moment, at real speed: the file keeps all but the last second
// of what was captured, our reader finds its length, and it takes an append with a clean join.
TEST_F(CliTest, KilledRecordingLosesAtMostASecondAtEveryQuality) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The loss is measured against the wall clock, which a sanitizer's slowdown would skew.
    GTEST_SKIP() << "real-time test, not meaningful under a sanitizer";
#endif
    ScopedEnv real_time("QUILLORY_AUDIO_SPEED", "1");
    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> moment(1.0, 2.6);
    for (const std::string format : {"Mp3Low", "Mp3Middle", "Mp3High"}) {
        const double after = moment(random);
        SCOPED_TRACE(format + " killed after " + std::to_string(after) + " s, seed " +
                     std::to_string(seed));
        const Killed killed = record_and_kill(m_world.root() / format, format, after);
        ASSERT_TRUE(fs::exists(killed.path)) << killed.path;
        const double kept = ffprobe_duration(killed.path);
        EXPECT_GT(kept, 0.0);
        EXPECT_LE(killed.captured - kept, 1.0) << "captured " << killed.captured;
        const std::string info = cli_run("info " + quote(killed.path)).out;
        const auto at = info.find("duration=");
        ASSERT_NE(at, std::string::npos) << info;
        EXPECT_NEAR(std::atof(info.c_str() + at + 9), kept, 0.1);

        // An append after the killed end joins cleanly: no broken frame for a decoder (at a
        // moderate clock: all captured up to the stop is kept, and a fast one would overshoot).
        ScopedEnv fast("QUILLORY_AUDIO_SPEED", "4");
        const Result appended = cli_run("append " + quote(killed.path) + " --seconds 1");
        ASSERT_EQ(appended.status, 0) << appended.out;
        EXPECT_EQ(decode_errors(killed.path), "");
        const double joined = ffprobe_duration(killed.path);
        EXPECT_GT(joined, kept + 0.9);
        EXPECT_LT(joined, kept + 2.0);
    }
}

TEST_F(CliTest, MarkerSurvivesAKillASecondLater) {
    ScopedEnv real_time("QUILLORY_AUDIO_SPEED", "1");
    const Killed killed = record_and_kill(m_world.root() / "said", "Mp3Low", 1.0, 1.5);
    ASSERT_TRUE(fs::exists(killed.path));
    ASSERT_EQ(killed.marked.rfind("marked ", 0), 0u) << killed.marked;
    const std::string ms = killed.marked.substr(7, killed.marked.find(' ', 7) - 7);
    EXPECT_EQ(run("ffprobe -v error -show_entries chapter=start:chapter_tags=title -of csv=p=0 " +
                  quote(killed.path))
                  .out,
              ms + ",Marker 1\n");
    EXPECT_GE(std::atoi(ms.c_str()), 1500);
    EXPECT_LT(std::atoi(ms.c_str()), 2000);
}

namespace {

std::string python(const std::string& script, const fs::path& file) {
    return run("/usr/bin/python3 -c " + quote(script) + " " + quote(file) + " 2>&1").out;
}

const char kDump[] = R"PY(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
print('version %d.%d' % t.version[:2])
for k in sorted(t.keys()):
    print('%s %r' % (k, t[k]))
)PY";

} // namespace

// A record tagged by another program: listed with its texts, and renamed without losing
// anything, judged by mutagen and ffprobe (the tag versions are the tag reader's tests).
TEST_F(CliTest, TaggedByAnotherProgramIsListedAndRenamedWhole) {
    const fs::path folder = m_world.main_folder();
    fs::create_directories(folder);
    const fs::path v24 = folder / "theirs24.mp3";
    ASSERT_EQ(
        run("ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame "
            "-b:a 64k " +
            quote(v24) + " 2>&1")
            .out,
        "");
    // A 2.4 tag without padding, with a picture, a comment, a chapter and a private frame.
    ASSERT_EQ(python(R"PY(
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
    const std::string listed = run(quote(cli) + " list").out;
    EXPECT_NE(listed.find(v24.string() + "\tZo\u00eb\tMeeting\tWork\t"), std::string::npos)
        << listed;

    const std::string before = python(kDump, v24);
    const double duration = ffprobe_duration(v24);
    const auto date = fs::last_write_time(v24);
    fs::permissions(v24, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string title = "A long title " + std::string(900, 'x');
    const Result renamed = run(quote(cli) + " rename " + quote(v24) + " " + quote(title));
    ASSERT_EQ(renamed.status, 0) << renamed.out;
    const fs::path now(first_line(renamed.out));
    EXPECT_FALSE(fs::exists(v24));
    ASSERT_TRUE(fs::exists(now));
    const std::string after = python(kDump, now);
    EXPECT_NE(after.find("TIT2 TIT2(encoding=<Encoding.LATIN1: 0>, text=['" + title + "'])"),
              std::string::npos)
        << after;
    const std::regex title_line("TIT2 .*\n");
    EXPECT_EQ(std::regex_replace(after, title_line, ""),
              std::regex_replace(before, title_line, ""));
    EXPECT_NE(after.find("version 2.4"), std::string::npos);
    EXPECT_NEAR(ffprobe_duration(now), duration, 0.001);
    EXPECT_LE(fs::last_write_time(now), date) << "the record keeps its date";
    EXPECT_EQ(fs::status(now).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".retag"), std::string::npos)
            << "no temporary file left behind";
}

// Waveforms: `quillory-cli peaks` against the sound it is given, and the waveform cache.
namespace {

struct Column {
    double peak;
    double rms;
};

std::vector<Column> parse(const std::string& text) {
    std::vector<Column> out;
    std::istringstream in(text);
    Column column;
    while (in >> column.peak >> column.rms)
        out.push_back(column);
    return out;
}

class PeaksTest : public ::testing::Test {
protected:
    void SetUp() override { QV_REQUIRE_TOOLS("ffmpeg"); }
    // Peak and RMS of `width` equal columns of ffmpeg's own decode (mono, 16 bits).
    std::vector<Column> reference_columns(const fs::path& file, size_t width) {
        const std::string raw =
            run("ffmpeg -nostdin -v error -i " + quote(file) + " -f s16le -ac 1 -").out;
        std::vector<int16_t> samples(raw.size() / 2);
        std::memcpy(samples.data(), raw.data(), samples.size() * 2);
        std::vector<Column> columns;
        for (size_t c = 0; c < width; ++c) {
            double peak = 0, sum = 0;
            const size_t from = c * samples.size() / width, to = (c + 1) * samples.size() / width;
            for (size_t i = from; i < to; ++i) {
                peak = std::max(peak, std::abs(samples[i]) / 32768.0);
                sum += double(samples[i]) * samples[i];
            }
            columns.push_back(
                {peak, std::sqrt(sum / double(std::max<size_t>(to - from, 1))) / 32768});
        }
        return columns;
    }
    testing_support::Watchdog m_watchdog{120};
    TempDir m_dir;
    ScopedEnv m_cache{"XDG_CACHE_HOME", (m_dir / "cache").string()};
};

// 40 s of a 440 Hz tone whose loudness steps in the middle of every 4 s column (of ten), so that a
// decoder's delay never moves a column's peak, as a WAV and as the MP3 quillory-cli made of it:
// each column's peak within 1 % of an independent decode's, its RMS within 2 %.
TEST_F(PeaksTest, ColumnsMatchAnIndependentDecode) {
    const fs::path wav = m_dir / "steps.wav", mp3 = m_dir / "steps.mp3";
    ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i "
                  "'aevalsrc=0.08*(1+floor(t/4+0.5))*sin(2*PI*440*t):s=44100:d=40' " +
                  quote(wav))
                  .status,
              0);
    ASSERT_EQ(
        cli_run("encode " + quote(wav) + " " + quote(mp3) + " --codec mp3 --bitrate 64000").status,
        0);
    for (const fs::path& file : {wav, mp3}) {
        SCOPED_TRACE(file.filename().string());
        const Result ours = run(quote(cli) + " peaks " + quote(file) + " --width 10");
        const auto a = parse(ours.out), b = reference_columns(file, 10);
        ASSERT_EQ(a.size(), 10u) << ours.out;
        ASSERT_EQ(b.size(), 10u);
        for (size_t c = 0; c < a.size(); ++c) {
            EXPECT_NEAR(a[c].peak, b[c].peak, 0.01 * b[c].peak) << "column " << c;
            EXPECT_NEAR(a[c].rms, b[c].rms, 0.02 * b[c].rms) << "column " << c;
        }
        // A second run answers from the cache.
        const auto again = parse(run(quote(cli) + " peaks " + quote(file) + " --width 10").out);
        ASSERT_EQ(again.size(), a.size());
        for (size_t i = 0; i < again.size(); ++i)
            EXPECT_NEAR(again[i].peak, a[i].peak, 1e-4);
    }
}

// The cache alone, on small records.
class PeakCacheTest : public ::testing::Test {
protected:
    PeakCacheTest() {
        std::ofstream(m_record, std::ios::binary) << "a record of some bytes";
        m_peaks.reset(8000);
        const std::vector<int16_t> samples = testing_support::sine(8000, 400, 8000, 12000);
        m_peaks.add_samples(samples.data(), samples.size(), 1);
    }
    fs::path entry() { return foundation::to_utf8(m_cache.entry_for(m_record.u16string())); }

    TempDir m_dir;
    fs::path m_record = m_dir / "record.mp3";
    controller::PeakCache m_cache{(m_dir / "cache").u16string()};
    audio::Peaks m_peaks;
};

TEST_F(PeakCacheTest, DamagedEntryOrChangedRecordIsNeverTrusted) {
    ASSERT_TRUE(m_cache.store(m_record.u16string(), m_peaks));
    const std::vector<uint8_t> good = testing_support::read_bytes(entry());
    ASSERT_GT(good.size(), 100u);
    struct Damage {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Damage> damages = {{"empty", {}},
                                   {"cut short", {good.begin(), good.end() - 7}},
                                   {"a flipped bit in the waveform", good},
                                   {"a flipped bit in the header", good},
                                   {"longer", good}};
    damages[2].bytes[good.size() - 3] ^= 0x10;
    damages[3].bytes[5] ^= 0x01;
    damages[4].bytes.push_back(0);
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        testing_support::write_bytes(entry(), damage.bytes);
        audio::Peaks loaded;
        EXPECT_FALSE(m_cache.load(m_record.u16string(), loaded));
        EXPECT_TRUE(loaded.empty());
        EXPECT_FALSE(fs::exists(entry()));
    }
    // A record changed since: appended to (another size), or rewritten (another time).
    audio::Peaks loaded;
    ASSERT_TRUE(m_cache.store(m_record.u16string(), m_peaks));
    std::ofstream(m_record, std::ios::app) << "more";
    EXPECT_FALSE(m_cache.load(m_record.u16string(), loaded));
    ASSERT_TRUE(m_cache.store(m_record.u16string(), m_peaks));
    fs::last_write_time(m_record, fs::last_write_time(m_record) - std::chrono::seconds(5));
    EXPECT_FALSE(m_cache.load(m_record.u16string(), loaded));
}

TEST_F(PeakCacheTest, FolderStaysWithinItsBound) {
    audio::Peaks big;
    big.reset(8000);
    std::vector<int16_t> samples(8000 * 60, 1000);
    for (int minute = 0; minute < 60; ++minute)
        big.add_samples(samples.data(), samples.size(), 1);
    ASSERT_LT(big.encode().size(), 16 * 1024u);
    const int records = int(controller::PeakCache::kBound / big.encode().size()) + 20;
    fs::path last;
    for (int i = 0; i < records; ++i) {
        last = m_dir / ("r" + std::to_string(i));
        std::ofstream(last) << i;
        ASSERT_TRUE(m_cache.store(last.u16string(), big));
    }
    uint64_t total = 0;
    for (const auto& entry : fs::directory_iterator(m_dir / "cache"))
        total += fs::file_size(entry.path());
    EXPECT_LE(total, controller::PeakCache::kBound);
    audio::Peaks loaded;
    EXPECT_TRUE(m_cache.load(last.u16string(), loaded));
}

} // namespace
