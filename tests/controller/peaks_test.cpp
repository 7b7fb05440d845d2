// Waveforms: `quillory-cli peaks` against ffmpeg's decode, and the waveform cache (stale and
// damaged entries, its bound).

#include "cli_runner.h"
#include "controller/peak_cache.h"
#include "foundation/text.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using namespace controller_test;
using testing_support::ScopedEnv;
using testing_support::TempDir;

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

std::u16string u16(const fs::path& path) {
    return foundation::from_utf8(path.string());
}

// 40 s of a 440 Hz tone whose loudness steps at the middle of every 4 s column (of ten), so a
// few milliseconds of decoder delay never move a column's peak.
const double kLevels[] = {0.05, 0.2, 0.6, 0.9, 0.3, 0.1, 0.7, 0.4, 0.8, 0.15, 0.5};

void make_steps(const fs::path& wav) {
    std::string parts;
    const fs::path dir = wav.parent_path();
    for (size_t i = 0; i < std::size(kLevels); ++i) {
        const double seconds = (i == 0 || i + 1 == std::size(kLevels)) ? 2 : 4;
        const fs::path part = dir / ("part" + std::to_string(i) + ".wav");
        ASSERT_EQ(run("sox -n -r 44100 -c 1 -b 16 " + quote(part) + " synth " +
                      std::to_string(seconds) + " sine 440 vol " + std::to_string(kLevels[i]))
                      .status,
                  0);
        parts += " " + quote(part);
    }
    ASSERT_EQ(run("sox" + parts + " " + quote(wav)).status, 0);
}

class PeaksTest : public ::testing::Test {
protected:
    void SetUp() override { QV_REQUIRE_TOOLS("sox", "ffmpeg"); }
    // The steps as a WAV and as a 64 kbit/s MP3 that quillory-cli encoded.
    std::pair<fs::path, fs::path> steps() {
        const fs::path wav = m_dir / "steps.wav", mp3 = m_dir / "steps.mp3";
        make_steps(wav);
        EXPECT_EQ(
            cli_run("encode " + quote(wav) + " " + quote(mp3) + " --codec mp3 --bitrate 64000")
                .status,
            0);
        return {wav, mp3};
    }
    // Peak and RMS of `width` equal columns of ffmpeg's own decode (mono, 16 bits).
    std::vector<Column> reference_columns(const fs::path& file, size_t width) {
        const std::string raw =
            run("ffmpeg -nostdin -v error -i " + quote(file) + " -f s16le -ac 1 -").out;
        std::vector<int16_t> samples(raw.size() / 2);
        std::memcpy(samples.data(), raw.data(), samples.size() * 2);
        const size_t count = samples.size();
        std::vector<Column> columns;
        for (size_t c = 0; c < width; ++c) {
            double peak = 0, sum = 0;
            const size_t from = c * count / width, to = (c + 1) * count / width;
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

// Each column's peak within 1 % of ffmpeg's, its RMS within 2 % (the MP3's own noise).
TEST_F(PeaksTest, ColumnsMatchAnIndependentDecode) {
    const auto [wav, mp3] = steps();
    for (const fs::path& file : {wav, mp3}) {
        SCOPED_TRACE(file.filename().string());
        const Result ours = run(quote(cli) + " peaks " + quote(file) + " --width 10");
        ASSERT_EQ(ours.status, 0);
        const auto a = parse(ours.out), b = reference_columns(file, 10);
        ASSERT_EQ(a.size(), 10u) << ours.out;
        ASSERT_EQ(b.size(), 10u);
        for (size_t c = 0; c < a.size(); ++c) {
            EXPECT_NEAR(a[c].peak, b[c].peak, 0.01 * b[c].peak) << "column " << c;
            EXPECT_NEAR(a[c].rms, b[c].rms, 0.02 * b[c].rms) << "column " << c;
        }
        // A second run answers from the cache with the same columns.
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
        std::vector<int16_t> samples(8000);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = int16_t(std::lround(12000 * std::sin(i * 0.05) * (i % 2000) / 2000.0));
        m_peaks.add_samples(samples.data(), samples.size(), 1);
    }
    fs::path entry() { return foundation::to_utf8(m_cache.entry_for(u16(m_record))); }

    TempDir m_dir;
    fs::path m_record = m_dir / "record.mp3";
    controller::PeakCache m_cache{u16(m_dir / "cache")};
    audio::Peaks m_peaks;
};

TEST_F(PeakCacheTest, DamagedEntryOrChangedRecordIsNeverTrusted) {
    ASSERT_TRUE(m_cache.store(u16(m_record), m_peaks));
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
        EXPECT_FALSE(m_cache.load(u16(m_record), loaded));
        EXPECT_TRUE(loaded.empty());
        EXPECT_FALSE(fs::exists(entry()));
    }
    // A record changed since: appended to (another size), or rewritten (another time).
    audio::Peaks loaded;
    ASSERT_TRUE(m_cache.store(u16(m_record), m_peaks));
    std::ofstream(m_record, std::ios::app) << "more";
    EXPECT_FALSE(m_cache.load(u16(m_record), loaded));
    ASSERT_TRUE(m_cache.store(u16(m_record), m_peaks));
    fs::last_write_time(m_record, fs::last_write_time(m_record) - std::chrono::seconds(5));
    EXPECT_FALSE(m_cache.load(u16(m_record), loaded));
}

TEST_F(PeakCacheTest, FolderStaysWithinItsBound) {
    // Long waveforms (the largest entries) for more records than the bound holds.
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
        ASSERT_TRUE(m_cache.store(u16(last), big));
    }
    uint64_t total = 0;
    for (const auto& entry : fs::directory_iterator(m_dir / "cache"))
        total += fs::file_size(entry.path());
    EXPECT_LE(total, controller::PeakCache::kBound);
    audio::Peaks loaded;
    EXPECT_TRUE(m_cache.load(u16(last), loaded));
}

} // namespace
