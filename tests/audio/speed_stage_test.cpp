// The listening stage on its own: speed changes in the middle of a tone, and pauses cut short.

#include "audio/speed_stage.h"
#include "support/audio_data.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace {

using audio::AudioBlock;

constexpr int kRate = 44100;

// A mono 16-bit stream from a function of the frame index, in blocks of 4410 frames.
class Tone : public audio::Outlet {
public:
    explicit Tone(double (*wave)(size_t), size_t frames) : m_wave(wave), m_frames(frames) {}
    void get_data(AudioBlock& out, int) override {
        out = AudioBlock{};
        const size_t count = std::min<size_t>(4410, m_frames - m_at);
        if (count == 0)
            return;
        std::vector<int16_t> samples(count);
        for (size_t i = 0; i < count; ++i)
            samples[i] = int16_t(std::lround(m_wave(m_at + i) * 32767));
        m_at += count;
        out = testing_support::pcm_block(samples, 1, kRate);
    }

private:
    double (*m_wave)(size_t);
    size_t m_frames;
    size_t m_at{0};
};

double sine(size_t i) {
    return 0.5 * std::sin(2 * M_PI * 440.0 * double(i) / kRate);
}

// Pulls about `seconds` of output from the stage.
void take(audio::SpeedStage& stage, double seconds, std::vector<int16_t>& out) {
    const size_t until = out.size() + size_t(seconds * kRate);
    while (out.size() < until) {
        AudioBlock block;
        stage.get_data(block, 4096);
        if (block.empty())
            return;
        const auto* s = reinterpret_cast<const int16_t*>(block.bytes.data());
        out.insert(out.end(), s, s + block.frames());
    }
}

// Changing speed in the middle of a tone keeps its pitch and never jumps: no step between two
// samples is much larger than the tone's own steepest one.
TEST(SpeedStage, SpeedChangesKeepPitchWithoutClicks) {
    Tone tone(sine, size_t(kRate) * 30);
    audio::SpeedStage stage;
    audio::connect(tone, &stage);
    std::vector<int16_t> out;
    const double steepest = 0.5 * 32767 * 2 * M_PI * 440.0 / kRate;
    const double speeds[] = {1.0, 2.0, 3.0, 0.75, 1.0, 1.5, 0.5, 1.25};
    uint64_t record_before = 0;
    for (double speed : speeds) {
        SCOPED_TRACE(speed);
        stage.set_speed(speed);
        const size_t from = out.size();
        take(stage, 0.5, out);
        ASSERT_GE(out.size(), from + size_t(kRate / 2));
        const size_t heard = out.size() - from - 2000; // past the change
        EXPECT_NEAR(testing_support::sign_changes(out.data() + from + 2000, heard) * 0.5 * kRate /
                        double(heard),
                    440.0, 440.0 * 0.02);
        // The record advances about `speed` times as fast as what is played, give or take.
        const uint64_t record = stage.record_frames();
        if (record_before > 0) {
            EXPECT_NEAR(double(record - record_before) / double(out.size() - from), speed,
                        0.2 * speed);
        }
        record_before = record;
    }
    int worst = 0;
    for (size_t i = 1; i < out.size(); ++i)
        worst = std::max(worst, std::abs(out[i] - out[i - 1]));
    EXPECT_LT(worst, steepest * 1.3);
    audio::connect(tone, nullptr);
}

// 1 s of tone, 3 s of near silence, 1 s of tone, a 0.5 s pause, 1 s of tone.
double speech_with_pauses(size_t i) {
    const double t = double(i) / kRate;
    const bool sound = t < 1 || (t >= 4 && t < 5) || t >= 5.5;
    return sound ? sine(i) : 0.002 * std::sin(double(i));
}

TEST(SpeedStage, LongPausesAreCutShortAtAnySpeed) {
    for (double speed : {1.0, 2.0}) {
        SCOPED_TRACE(speed);
        Tone tone(speech_with_pauses, size_t(kRate * 6.5));
        audio::SpeedStage stage;
        stage.set_speed(speed);
        stage.set_skip_silence(true, 0.02);
        audio::connect(tone, &stage);
        std::vector<int16_t> out;
        take(stage, 60, out);
        // The 3 s pause becomes 0.3 s; the 0.5 s one stays.
        const double expected = (6.5 - 3 + 0.3) / speed;
        EXPECT_NEAR(out.size() / double(kRate), expected, expected * 0.01);
        EXPECT_EQ(stage.record_frames(), size_t(kRate * 6.5));
        audio::connect(tone, nullptr);
    }
}

} // namespace
