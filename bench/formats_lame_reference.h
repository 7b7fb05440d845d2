#pragma once

// The reference cost of MP3 recording: LAME alone coding 60 s of 44.1 kHz mono speech-like
// sound frame by frame at a given bit rate, as the encoder stage feeds it (lame_encode_buffer
// per frame, then lame_encode_flush). Header-only so that any benchmark can put its own figure
// beside this one in the same run.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <lame/lame.h>
#include <random>
#include <vector>

namespace formats_bench {

inline constexpr int kSpeechRate = 44100;
inline constexpr int kSpeechSeconds = 60;

// Voiced stretches with a drifting pitch and a few harmonics under a syllable envelope, pauses
// between them, and low background noise. Deterministic.
inline std::vector<int16_t> speech_like(int rate = kSpeechRate, int seconds = kSpeechSeconds) {
    std::mt19937 random(5150);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> hiss(0.0, 40.0);
    std::vector<int16_t> samples(size_t(rate) * size_t(seconds));
    size_t at = 0;
    double phase = 0;
    while (at < samples.size()) {
        bool pause = unit(random) < 0.25;
        size_t length =
            size_t(rate * (pause ? 0.1 + 0.3 * unit(random) : 0.1 + 0.25 * unit(random)));
        double pitch = 100 + 120 * unit(random);
        double level = pause ? 0 : 1500 + 7000 * unit(random);
        for (size_t i = 0; i < length && at < samples.size(); ++i, ++at) {
            phase += 2 * M_PI * pitch / rate;
            pitch += (unit(random) - 0.5) * 0.3;
            double envelope = std::sin(M_PI * double(i) / double(length));
            double voiced = std::sin(phase) + 0.5 * std::sin(3 * phase) + 0.3 * std::sin(7 * phase);
            samples[at] =
                int16_t(std::clamp(level * envelope * voiced + hiss(random), -32768.0, 32767.0));
        }
    }
    return samples;
}

// Codes the mono samples with LAME frame by frame; returns the coded byte count.
inline size_t lame_alone(const std::vector<int16_t>& samples, int rate, int bit_rate) {
    lame_global_flags* encoder = lame_init();
    lame_set_in_samplerate(encoder, rate);
    lame_set_num_channels(encoder, 1);
    lame_set_brate(encoder, bit_rate / 1000);
    lame_init_params(encoder);
    const size_t frame = size_t(lame_get_framesize(encoder));
    std::vector<int16_t> right(frame, 0);
    std::vector<unsigned char> out(frame * 5 / 4 + 7200);
    size_t total = 0;
    for (size_t at = 0; at + frame <= samples.size(); at += frame) {
        int n = lame_encode_buffer(encoder, samples.data() + at, right.data(), int(frame),
                                   out.data(), int(out.size()));
        total += size_t(std::max(n, 0));
    }
    total += size_t(std::max(lame_encode_flush(encoder, out.data(), int(out.size())), 0));
    lame_close(encoder);
    return total;
}

// Process CPU seconds of one lame_alone() run.
inline double lame_alone_cpu_seconds(const std::vector<int16_t>& samples, int rate = kSpeechRate,
                                     int bit_rate = 64000) {
    std::clock_t start = std::clock();
    lame_alone(samples, rate, bit_rate);
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

} // namespace formats_bench
