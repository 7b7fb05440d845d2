#include "audio/duration_counter.h"
#include "audio/level_meter.h"
#include "audio/peaks.h"
#include "support/audio_data.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using audio::AudioBlock;
using testing_support::pcm_block;

TEST(LevelMeter, PeakOfTheFirstChannelOfAnyWidthPassesTheBlockUnchanged) {
    audio::LevelMeter meter;
    testing_support::SampleSink sink;
    audio::connect(meter.output(), &sink);
    // Stereo: the loud right channel is not looked at.
    AudioBlock block = pcm_block({1000, 32000, -16384, 32000}, 2);
    meter.on_data(block);
    EXPECT_DOUBLE_EQ(meter.level(), 0.5);
    ASSERT_EQ(sink.blocks, 1u);
    EXPECT_EQ(sink.samples, (std::vector<int16_t>{1000, 32000, -16384, 32000}));

    meter.on_data(pcm_block({-32768}));
    EXPECT_DOUBLE_EQ(meter.level(), 1.0);
    meter.on_data(AudioBlock{});
    EXPECT_DOUBLE_EQ(meter.level(), 1.0) << "an empty block changes nothing";
    // Eight-bit silence is level zero.
    std::vector<uint8_t> bytes(100, 128);
    meter.on_data(testing_support::byte_block(bytes.data(), bytes.size(), 1, 8, 8000));
    EXPECT_DOUBLE_EQ(meter.level(), 0.0);
    bytes[10] = 0;
    meter.on_data(testing_support::byte_block(bytes.data(), bytes.size(), 1, 8, 8000));
    EXPECT_DOUBLE_EQ(meter.level(), 1.0);
}

TEST(LevelMeter, VoiceSwitchTiming) {
    audio::LevelMeter meter;
    // Threshold zero: never silent.
    for (int i = 0; i < 30; ++i)
        meter.on_data(pcm_block(std::vector<int16_t>(1600, 0)));
    EXPECT_FALSE(meter.is_silent());
    meter.set_threshold(0.1);
    // 0.1 of full scale is 3276: a sample of 3276 counts as loud, 3275 does not.
    meter.on_data(pcm_block(std::vector<int16_t>(1600, 3276)));
    EXPECT_FALSE(meter.is_silent());
    // 200 ms blocks below the threshold: silent only after the block that crosses 2.0 s.
    for (int block = 1; block <= 12; ++block) {
        meter.on_data(pcm_block(std::vector<int16_t>(1600, -3275)));
        EXPECT_EQ(meter.is_silent(), block >= 11) << block;
    }
    // A loud sample near the end of a block ends the silence at once.
    std::vector<int16_t> samples(1600, 100);
    samples[1590] = -3277;
    meter.on_data(pcm_block(samples));
    EXPECT_FALSE(meter.is_silent());
    // Measured from the last loud sample: 9 samples after it plus 10 blocks is 2.001 s.
    for (int block = 0; block < 10; ++block)
        meter.on_data(pcm_block(std::vector<int16_t>(1600, 0)));
    EXPECT_TRUE(meter.is_silent());
}

TEST(DurationCounter, CountsFramesOverRateAndResets) {
    audio::DurationCounter counter;
    counter.on_data(pcm_block(std::vector<int16_t>(8000), 1, 8000));
    counter.on_data(pcm_block(std::vector<int16_t>(4000), 2, 8000));
    counter.on_data(pcm_block(std::vector<int16_t>(10), 1, 0));
    EXPECT_DOUBLE_EQ(counter.seconds(), 1.25);
    counter.reset();
    EXPECT_DOUBLE_EQ(counter.seconds(), 0.0);
}

// A minute and a half, quiet then loud: the bins merge as it grows, the columns keep each half.
TEST(Peaks, LongStreamInFewBinsEncodedWholeAndCutShortRefused) {
    audio::Peaks peaks;
    peaks.reset(44100);
    const std::vector<int16_t> quiet(44100 * 45, 1000), loud(44100 * 45, -16384);
    peaks.add_samples(quiet.data(), quiet.size(), 1);
    peaks.add(pcm_block(loud, 1, 44100));
    EXPECT_LE(peaks.bin_count(), audio::Peaks::kMaxBins);
    EXPECT_DOUBLE_EQ(peaks.seconds(), 90.0);
    const auto columns = peaks.columns(2);
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_NEAR(columns[0].peak, 1000 / 32768.0, 1e-4);
    EXPECT_NEAR(columns[1].rms, 0.5, 1e-4);
    std::vector<uint8_t> bytes = peaks.encode();
    audio::Peaks copy;
    ASSERT_TRUE(copy.decode(bytes.data(), bytes.size()));
    EXPECT_EQ(copy.frames(), peaks.frames());
    bytes.pop_back();
    EXPECT_FALSE(copy.decode(bytes.data(), bytes.size()));
}

} // namespace
