#include "audio/boost_stage.h"
#include "support/audio_data.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

using audio::BoostStage;
using testing_support::pcm_block;
using testing_support::SampleSink;

// Pushes the samples at 44100 Hz in 200 ms blocks.
void push(BoostStage& boost, const std::vector<int16_t>& samples) {
    for (size_t at = 0; at < samples.size(); at += 8820) {
        const auto end = samples.begin() + long(std::min(samples.size(), at + 8820));
        boost.on_data(pcm_block({samples.begin() + long(at), end}, 1, 44100));
    }
}

TEST(BoostStage, EverySampleComesOutOnceInOrderAndTheLookaheadIsHeld) {
    BoostStage boost;
    boost.set_gain(4);
    // A tone whose loudness changes, with a stretch of silence in the middle.
    std::vector<int16_t> in;
    for (int i = 0; i < 44100 * 3; ++i) {
        double envelope = i < 44100 ? 0.1 : (i < 66150 ? 0.0 : 0.6);
        in.push_back(int16_t(std::lround(32000 * envelope * std::sin(i * 0.07))));
    }
    SampleSink sink;
    audio::connect(boost.output(), &sink);
    push(boost, in);
    audio::connect(boost.output(), nullptr);
    const std::vector<int16_t>& out = sink.samples;
    ASSERT_LE(out.size(), in.size());
    // Held back: at least the 100 ms lookahead, at most about a second.
    EXPECT_GE(in.size() - out.size(), 4410u);
    EXPECT_LE(in.size() - out.size(), 44100u + 8820u);
    for (size_t i = 0; i < out.size(); ++i) {
        // Signs are kept and silence stays silent: nothing moved, nothing skipped.
        ASSERT_EQ(in[i] == 0, out[i] == 0) << i;
        ASSERT_EQ(in[i] < 0, out[i] < 0) << i;
    }
    // Quiet speech is raised, loud speech is not clipped past full scale.
    EXPECT_GT(std::abs(out[30000]), std::abs(in[30000]));
}

TEST(BoostStage, FlushHandsOnTheLookaheadAtTheLastGain) {
    BoostStage boost;
    boost.set_gain(4);
    // A quiet tone to the end: the held tail is raised like what came before it.
    std::vector<int16_t> in;
    for (int i = 0; i < 44100 * 2; ++i)
        in.push_back(int16_t(std::lround(3000 * std::sin(i * 0.07))));
    SampleSink sink;
    audio::connect(boost.output(), &sink);
    push(boost, in);
    const size_t before_flush = sink.samples.size();
    ASSERT_LT(before_flush, in.size());
    boost.flush();
    boost.flush();
    audio::connect(boost.output(), nullptr);
    ASSERT_EQ(sink.samples.size(), in.size()) << "every sample once";
    auto peak = [&](size_t from, size_t to) {
        int value = 0;
        for (size_t i = from; i < to; ++i)
            value = std::max(value, std::abs(int(sink.samples[i])));
        return value;
    };
    const int raised = peak(before_flush - 4410, before_flush);
    EXPECT_GT(raised, 4000);
    EXPECT_NEAR(peak(before_flush, in.size()), raised, raised / 10);
}

TEST(BoostStage, SwitchingToGainOneFlushesTheCarryFirst) {
    BoostStage boost;
    boost.set_gain(2);
    std::vector<int16_t> in = testing_support::sine(44100, 441, 44100, 1000);
    SampleSink sink;
    audio::connect(boost.output(), &sink);
    boost.on_data(pcm_block(in, 1, 44100));
    boost.set_gain(1);
    boost.on_data(pcm_block(in, 1, 44100));
    audio::connect(boost.output(), nullptr);
    // Below the first curve point nothing changes: all comes out as it went in, block for block.
    ASSERT_EQ(sink.samples.size(), in.size() * 2);
    EXPECT_TRUE(std::equal(in.begin() + 200, in.end(), sink.samples.begin() + 200));
    EXPECT_TRUE(std::equal(in.begin(), in.end(), sink.samples.begin() + long(in.size())));
}

} // namespace
