// `quillory-cli play` faster and slower and with pauses cut short, heard through the file
// output device and checked with sox.

#include "cli_runner.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace controller_test;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class ListeningTest : public ::testing::Test {
protected:
    void SetUp() override { QV_REQUIRE_TOOLS("sox", "soxi"); }
    // Plays the file with the options; the seconds the output device was given.
    double played(const fs::path& file, const std::string& options) {
        fs::remove(m_out);
        const Result result = run(quote(cli) + " play " + quote(file.string()) + " " + options);
        EXPECT_EQ(result.status, 0);
        return std::stod(run("soxi -D " + quote(m_out.string())).out);
    }
    double dominant_frequency() {
        const Result stat = run("sox " + quote(m_out.string()) + " -n stat 2>&1");
        const auto at = stat.out.find("Rough   frequency:");
        return at == std::string::npos ? 0 : std::stod(stat.out.substr(at + 18));
    }

    testing_support::Watchdog m_watchdog{120};
    TempDir m_dir;
    fs::path m_out = m_dir / "heard.wav";
    ScopedEnv m_audio{"QUILLORY_AUDIO", "file"};
    ScopedEnv m_output{"QUILLORY_AUDIO_OUT", m_out.string()};
    ScopedEnv m_speed{"QUILLORY_AUDIO_SPEED", "50"};
};

TEST_F(ListeningTest, FasterAndSlowerKeepThePitch) {
    const fs::path tone = m_dir / "tone.wav";
    ASSERT_EQ(
        run("sox -n -r 44100 -c 1 -b 16 " + quote(tone) + " synth 12 sine 440 vol 0.5").status, 0);
    for (double speed : {1.5, 0.75, 3.0}) {
        SCOPED_TRACE(speed);
        const double seconds = played(tone, "--speed " + std::to_string(speed));
        EXPECT_NEAR(seconds, 12 / speed, 0.01 * 12 / speed);
        EXPECT_NEAR(dominant_frequency(), 440, 440 * 0.02);
    }
}

// A recording of three tones with 3 s pauses between them: each pause plays in 0.3 s.
TEST_F(ListeningTest, PausesAreCutShort) {
    const fs::path parts = m_dir / "parts.wav";
    const fs::path record = m_dir / "pauses.mp3";
    ASSERT_EQ(run("sox -n -r 44100 -c 1 -b 16 " + quote(parts) +
                  " synth 1 sine 300 vol 0.4 pad 0 3 repeat 2 trim 0 9")
                  .status,
              0);
    ASSERT_EQ(run(quote(cli) + " encode " + quote(parts.string()) + " " + quote(record.string()) +
                  " --codec mp3 --bitrate 64000")
                  .status,
              0);
    const double whole = played(record, "");
    ASSERT_NEAR(whole, 9, 0.1);
    for (double speed : {1.0, 1.5}) {
        SCOPED_TRACE(speed);
        const double expected = (whole - 2 * 2.7) / speed;
        EXPECT_NEAR(played(record, "--skip-silence --speed " + std::to_string(speed)), expected,
                    0.02 * expected + 0.02);
    }
}

} // namespace
