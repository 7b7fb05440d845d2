#include "audio/capture_mixer.h"
#include "mix_check.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace {

using audio::CaptureMixer;
using audio_test::mono;
using audio_test::signal;
using platform::WaveFormat;

std::vector<uint8_t> bytes_of(const std::vector<int16_t>& samples, size_t from, size_t count) {
    std::vector<uint8_t> bytes(count * 2);
    std::memcpy(bytes.data(), samples.data() + from, count * 2);
    return bytes;
}

// Two devices at 8000 Hz on one clock: the microphone from time 0 in chunks of `mic_chunk`
// frames, the second source from `start` in chunks of `second_chunk`, each chunk arriving when
// its last frame has been captured (plus `late(chunk index)` for the second). `skip(index)`
// leaves a chunk of the second source out, as a device that stalled.
struct Timeline {
    size_t mic_chunk = 80;
    size_t second_chunk = 240;
    size_t start = 0;
    size_t mic_frames = 8000 * 4;
    size_t second_frames = 8000 * 3;
    double second_rate = 1.0; // the second device's clock against the microphone's
    size_t (*late)(size_t) = [](size_t) { return size_t(0); };
    bool (*skip)(size_t) = [](size_t) { return false; };
};

struct Result {
    std::vector<int16_t> mic, second, out;
    uint64_t replacements = 0;
};

Result simulate(const Timeline& run) {
    Result result;
    result.mic = signal(run.mic_frames, 1);
    result.second = signal(run.second_frames, 2);
    CaptureMixer mixer = CaptureMixer::for_devices(mono(8000, 16));
    std::vector<uint8_t> out;
    size_t mic_next = 0, second_next = 0;
    while (mic_next < run.mic_frames) {
        const size_t mic_at = mic_next + run.mic_chunk;
        const size_t index = second_next / run.second_chunk;
        const size_t second_at = run.start +
                                 size_t(double(second_next + run.second_chunk) / run.second_rate) +
                                 run.late(index);
        if (second_next < run.second_frames && second_at < mic_at) {
            if (!run.skip(index)) {
                auto chunk = bytes_of(result.second, second_next,
                                      std::min(run.second_chunk, run.second_frames - second_next));
                mixer.add_secondary(chunk.data(), chunk.size());
            }
            second_next += run.second_chunk;
        } else {
            const size_t count = std::min(run.mic_chunk, run.mic_frames - mic_next);
            auto chunk = bytes_of(result.mic, mic_next, count);
            mixer.add_primary(chunk.data(), chunk.size(), out);
            mic_next += count;
            EXPECT_LE(mixer.held_bytes(), 2u * (1200 + run.mic_chunk));
        }
    }
    mixer.flush(out);
    EXPECT_EQ(mixer.held_bytes(), 0u);
    result.out.resize(out.size() / 2);
    std::memcpy(result.out.data(), out.data(), out.size());
    result.replacements = mixer.replacements();
    return result;
}

std::optional<long> offset_of(const Result& r, size_t from, size_t to) {
    return audio_test::offset_of(r.out, r.mic, r.second, from, to, 16000);
}

TEST(CaptureMixer, LinesUpSampleExactlyThroughLateAndLostChunks) {
    const struct {
        const char* name;
        Timeline run;
        uint64_t replacements;
        size_t from, to; // the stretch that must be the exact mix (to 0: the whole stream)
        long tolerance;  // how far from its start the second source may lie there
    } cases[] = {
        // Starting 370 ms after the microphone, in 30 ms chunks against 10 ms ones.
        {"later start", {.start = 2960}, 0, 0, 0, 240},
        // Chunks larger than the microphone's by far, and a source that started first.
        {"large chunks", {.mic_chunk = 441, .second_chunk = 512}, 0, 0, 0, 512},
        // Up to 50 ms late, irregularly: contiguous all the same.
        {"jitter", {.start = 800, .late = [](size_t i) { return (i * 7919) % 400; }}, 0, 0, 0, 640},
        // Two seconds of chunks lost from 1 s on: placed afresh where it belongs.
        {"stall",
         {.start = 400,
          .mic_frames = 8000 * 6,
          .second_frames = 8000 * 5,
          .skip = [](size_t i) { return i >= 33 && i < 100; }},
         1,
         8000 * 4,
         8000 * 5,
         240},
        // A quarter of a second lost (more than the hold, less than a jump): heard right after.
        {"short stall",
         {.start = 400, .skip = [](size_t i) { return i >= 33 && i < 41; }},
         1,
         8000 * 3 / 2,
         8000 * 2,
         240},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Result r = simulate(c.run);
        ASSERT_EQ(r.out.size(), r.mic.size()) << "every microphone frame once, none made up";
        EXPECT_EQ(r.replacements, c.replacements);
        auto offset = offset_of(r, c.from, c.to ? c.to : r.out.size());
        ASSERT_TRUE(offset.has_value()) << "one exact mix";
        EXPECT_LE(std::abs(*offset - long(c.run.start)), c.tolerance);
        if (c.from != 0)
            continue;
        size_t clipped_samples = 0;
        for (long n = std::max(*offset, 0l); n < long(r.out.size()); ++n) {
            if (n - *offset >= long(r.second.size()))
                break;
            const int32_t sum = int32_t(r.mic[size_t(n)]) + r.second[size_t(n - *offset)];
            clipped_samples += sum > 32767 || sum < -32768;
        }
        EXPECT_GT(clipped_samples, 1000u) << "the signals test saturation";
    }
}

TEST(CaptureMixer, DriftingClockIsFollowed) {
    Timeline run;
    run.mic_frames = 8000 * 30;
    run.second_frames = 8000 * 29;
    run.second_rate = 1.01; // 10 ms a second fast
    Result r = simulate(run);
    EXPECT_GE(r.replacements, 1u);
    EXPECT_LE(r.replacements, 6u);
    // Between placements the source runs on without a gap, within a chunk and a second's drift.
    int checked = 0;
    for (size_t at = 8000 * 20; at < 8000 * 28; at += 2000) {
        auto offset = offset_of(r, at, at + 2000);
        if (!offset)
            continue; // a new placement inside this stretch
        ++checked;
        const long ideal = long(double(at) - double(at) * 1.01);
        EXPECT_LE(std::abs(*offset - ideal), 480 + 240 + 80) << at;
    }
    EXPECT_GE(checked, 20);
}

TEST(CaptureMixer, EightBitSamplesMixAroundTheirMiddle) {
    CaptureMixer mixer(mono(8000, 8), 4, 2);
    std::vector<uint8_t> out;
    const uint8_t mic[] = {200, 10, 128, 250, 128, 128, 128, 128};
    const uint8_t second[] = {200, 10, 129, 5};
    // Nothing to align to before the microphone delivers.
    mixer.add_secondary(second, 4);
    mixer.add_primary(mic, 4, out);
    EXPECT_TRUE(out.empty()) << "held back";
    mixer.add_secondary(second, 4);
    mixer.add_primary(mic + 4, 4, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{255, 0, 129, 127}));
    mixer.flush(out);
    EXPECT_EQ(out.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 4, out.end()),
              (std::vector<uint8_t>{128, 128, 128, 128}));
}

} // namespace
