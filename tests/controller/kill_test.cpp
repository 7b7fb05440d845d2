// A recording killed at a random moment, at real speed: the file keeps all but the last second
// of what was captured, decodes with foreign decoders, is listed, and takes an append with a
// clean join.

#include "cli_runner.h"
#include "controller_env.h"
#include "support/watchdog.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <thread>

using namespace controller_test;
using testing_support::ScopedEnv;
namespace fs = std::filesystem;

namespace {

// What two decoders complain about while decoding the whole file (a broken frame makes them
// resynchronise).
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
    // The path is said once capture runs; then the marker, if any.
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

class KillTest : public ::testing::Test {
protected:
    testing_support::Watchdog m_watchdog{240};
    IsolatedWorld m_world;
    ScopedEnv m_audio{"QUILLORY_AUDIO", "file"};
    ScopedEnv m_input{"QUILLORY_AUDIO_IN", data_dir + "speech.wav"};
    ScopedEnv m_speed{"QUILLORY_AUDIO_SPEED", "1"};
};

} // namespace

TEST_F(KillTest, KilledRecordingLosesAtMostASecondAtEveryQuality) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The loss is measured against the wall clock; a sanitizer's slowdown of the encoder would
    // be counted as loss.
    GTEST_SKIP() << "real-time test, not meaningful under a sanitizer";
#endif
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
        // Our own reader finds the same length.
        const std::string info = cli_run("info " + quote(killed.path)).out;
        const auto at = info.find("duration=");
        ASSERT_NE(at, std::string::npos) << info;
        EXPECT_NEAR(std::atof(info.c_str() + at + 9), kept, 0.1);

        // An append after the killed end joins cleanly: no broken frame for a decoder.
        // Everything captured up to the stop is kept, so a fast clock would overshoot the
        // second by what it captures while the command stops.
        ScopedEnv fast("QUILLORY_AUDIO_SPEED", "4");
        const Result appended = cli_run("append " + quote(killed.path) + " --seconds 1");
        ASSERT_EQ(appended.status, 0) << appended.out;
        EXPECT_EQ(decode_errors(killed.path), "");
        // The second asked for, or a block more when capture ran ahead of the check.
        const double joined = ffprobe_duration(killed.path);
        EXPECT_GT(joined, kept + 0.9);
        EXPECT_LT(joined, kept + 2.0);
    }
}

TEST_F(KillTest, MarkerSurvivesAKillASecondLater) {
    const Killed killed = record_and_kill(m_world.root() / "said", "Mp3Low", 1.0, 1.5);
    ASSERT_TRUE(fs::exists(killed.path));
    ASSERT_EQ(killed.marked.rfind("marked ", 0), 0u) << killed.marked;
    const std::string ms = killed.marked.substr(7, killed.marked.find(' ', 7) - 7);
    // The chapter as an independent reader finds it (the markers' own tests compare readers).
    EXPECT_EQ(run("ffprobe -v error -show_entries chapter=start:chapter_tags=title -of csv=p=0 " +
                  quote(killed.path))
                  .out,
              ms + ",Marker 1\n");
    EXPECT_GE(std::atoi(ms.c_str()), 1500);
    EXPECT_LT(std::atoi(ms.c_str()), 2000);
}
