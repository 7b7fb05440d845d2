// The start and end cue sounds that ship beside the program.

#include "formats/factory.h"
#include "formats_support.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace formats_test;

namespace {

const std::filesystem::path data_dir = std::filesystem::path(QV_SOURCE_DIR) / "data";

TEST(ShippedSounds, ShortCleanMonoAtTheCdRate) {
    for (const char* name : {"Voicbeep.wav", "RecEnd.wav"}) {
        SCOPED_TRACE(name);
        const auto path = data_dir / name;
        auto reader = formats::open_reader(u16(path));
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->codec_name(), u"PCM");
        EXPECT_EQ(reader->channels(), 1);
        EXPECT_EQ(reader->bits_per_sample(), 16);
        EXPECT_EQ(reader->sample_rate(), 44100);
        EXPECT_LT(reader->duration(), 0.3);
        EXPECT_GT(reader->duration(), 0.1);
        const Decoded ours = pull_all(*reader);
        ASSERT_FALSE(ours.samples.empty());
        // Loud enough to hear, far from clipping: the peak is between -9 and -3 dBFS.
        int peak = 0;
        for (int16_t s : ours.samples)
            peak = std::max(peak, std::abs(int(s)));
        const double peak_db = 20 * std::log10(peak / 32768.0);
        EXPECT_LT(peak_db, -3.0);
        EXPECT_GT(peak_db, -9.0);
        // Starts and ends quietly, so the device does not click.
        EXPECT_LT(std::abs(ours.samples.front()), 330);
        EXPECT_LT(std::abs(ours.samples.back()), 330);
    }
}

} // namespace
