// The recording chain's cost against LAME alone. Both code the same 60 s of synthetic speech
// (44.1 kHz mono 16-bit) at 64 kbit/s, in alternating rounds of one run; the figure is the
// ratio of the best process CPU times. The chain is the recorder's: boost (gain 4), level
// meter, gate, duration counter, recording buffer with its writer thread, MP3 encoder, file.
//
// usage: audio_chain_bench [rounds] [output folder]

#include "audio/active_buffer.h"
#include "audio/boost_stage.h"
#include "audio/duration_counter.h"
#include "audio/level_meter.h"
#include "formats/factory.h"
#include "foundation/text.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <lame/lame.h>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;

// Voiced syllables over a wandering pitch with two resonances, pauses between phrases, and a
// little background noise: enough like speech for the encoder and the boost to do real work.
std::vector<int16_t> synthetic_speech() {
    std::mt19937 random(20261206);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 60.0);
    std::vector<int16_t> samples(size_t(kRate) * kSeconds);
    double phase = 0, pitch = 140, f1 = 0, f1v = 0, f2 = 0, f2v = 0;
    size_t at = 0;
    while (at < samples.size()) {
        bool pause = unit(random) < 0.2;
        size_t length =
            size_t(kRate * (pause ? 0.15 + 0.4 * unit(random) : 0.12 + 0.2 * unit(random)));
        double loudness = 2000 + 9000 * unit(random);
        double r1 = 300 + 600 * unit(random), r2 = 900 + 1600 * unit(random);
        for (size_t i = 0; i < length && at < samples.size(); ++i, ++at) {
            pitch += (unit(random) - 0.5) * 0.4;
            pitch = std::clamp(pitch, 90.0, 240.0);
            phase += pitch / kRate;
            double pulse = 0;
            if (phase >= 1) {
                phase -= 1;
                pulse = 1;
            }
            // Two damped resonators excited by the glottal pulses.
            double w1 = 2 * M_PI * r1 / kRate, w2 = 2 * M_PI * r2 / kRate;
            f1v = f1v * 0.995 - w1 * f1 + pulse;
            f1 += w1 * f1v;
            f2v = f2v * 0.99 - w2 * f2 + pulse;
            f2 += w2 * f2v;
            double envelope = std::sin(M_PI * double(i) / double(length));
            double voiced = pause ? 0 : loudness * envelope * (0.06 * f1 + 0.03 * f2);
            samples[at] = int16_t(std::clamp(voiced + noise(random), -32768.0, 32767.0));
        }
    }
    return samples;
}

double cpu_seconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

double lame_alone(const std::vector<int16_t>& samples, size_t* bytes_out) {
    double start = cpu_seconds();
    lame_global_flags* encoder = lame_init();
    lame_set_in_samplerate(encoder, kRate);
    lame_set_num_channels(encoder, 1);
    lame_set_brate(encoder, 64);
    lame_init_params(encoder);
    int frame = lame_get_framesize(encoder);
    std::vector<unsigned char> out(size_t(1.25 * frame + 7200));
    std::vector<int16_t> right(size_t(frame), 0);
    size_t total = 0;
    for (size_t at = 0; at + size_t(frame) <= samples.size(); at += size_t(frame)) {
        int n = lame_encode_buffer(encoder, samples.data() + at, right.data(), frame, out.data(),
                                   int(out.size()));
        total += size_t(std::max(n, 0));
    }
    total += size_t(std::max(lame_encode_flush(encoder, out.data(), int(out.size())), 0));
    lame_close(encoder);
    *bytes_out = total;
    return cpu_seconds() - start;
}

class Collector : public audio::Inlet {
public:
    void on_data(const audio::AudioBlock& block) override {
        const auto* samples = reinterpret_cast<const int16_t*>(block.bytes.data());
        out.insert(out.end(), samples, samples + block.size() / 2);
    }
    std::vector<int16_t> out;
};

// The speech as the boost stage at gain 4 passes it on.
std::vector<int16_t> boosted(const std::vector<int16_t>& samples) {
    audio::BoostStage boost;
    boost.set_gain(4);
    Collector collector;
    audio::connect(boost.output(), &collector);
    for (size_t at = 0; at < samples.size(); at += kRate / 5) {
        audio::AudioBlock pcm;
        size_t count = std::min(size_t(kRate / 5), samples.size() - at);
        pcm.bytes = audio::ByteSlice::copy_of(count * 2, samples.data() + at);
        pcm.channels = 1;
        pcm.bits_per_sample = 16;
        pcm.sample_rate = kRate;
        boost.on_data(pcm);
    }
    audio::connect(boost.output(), nullptr);
    return collector.out;
}

double chain(const std::vector<int16_t>& samples, const std::filesystem::path& file,
             double* seconds_counted, int gain) {
    double start = cpu_seconds();
    audio::BoostStage boost;
    audio::LevelMeter meter;
    audio::DurationCounter duration;
    audio::ActiveBuffer buffer;
    boost.set_gain(gain);
    meter.set_threshold(0.02);
    auto writer = formats::create_writer(foundation::from_utf8(file.string()), u"mp3", 1, 16, kRate,
                                         64000, false);
    if (!writer) {
        std::fprintf(stderr, "no MP3 writer\n");
        std::exit(1);
    }
    audio::connect(boost.output(), &meter);
    audio::connect(meter.output(), &duration); // the gate
    audio::connect(duration.output(), &buffer);
    audio::connect(buffer.output(), &writer->input());
    const size_t block = size_t(kRate) / 5; // 200 ms, as the recorder delivers
    for (size_t at = 0; at < samples.size(); at += block) {
        size_t count = std::min(block, samples.size() - at);
        audio::AudioBlock pcm;
        pcm.bytes = audio::ByteSlice::copy_of(count * 2, samples.data() + at);
        pcm.channels = 1;
        pcm.bits_per_sample = 16;
        pcm.sample_rate = kRate;
        std::lock_guard guard(boost.lock());
        boost.on_data(pcm);
    }
    buffer.drain();
    while (buffer.has_pending())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    audio::connect(buffer.output(), nullptr);
    writer.reset();
    *seconds_counted = duration.seconds();
    return cpu_seconds() - start;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    std::filesystem::path file = folder / "audio_chain_bench.mp3";
    std::vector<int16_t> speech = synthetic_speech();
    std::vector<int16_t> speech_boosted;
    double best_boost = 1e9;
    for (int round = 0; round < rounds; ++round) {
        double start = cpu_seconds();
        speech_boosted = boosted(speech);
        best_boost = std::min(best_boost, cpu_seconds() - start);
    }
    double best_lame = 1e9, best_chain = 1e9, counted = 0;
    double best_lame_boosted = 1e9, best_chain_unboosted = 1e9;
    size_t lame_bytes = 0, boosted_bytes = 0;
    uintmax_t file_bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        best_lame = std::min(best_lame, lame_alone(speech, &lame_bytes));
        best_chain = std::min(best_chain, chain(speech, file, &counted, 4));
        file_bytes = std::filesystem::file_size(file);
        best_lame_boosted = std::min(best_lame_boosted, lame_alone(speech_boosted, &boosted_bytes));
        double unused = 0;
        best_chain_unboosted = std::min(best_chain_unboosted, chain(speech, file, &unused, 1));
    }
    std::printf("audio: %d s of 44.1 kHz speech, 64 kbit/s, best of %d rounds\n", kSeconds, rounds);
    std::printf("lame alone     %.3f s CPU  (%zu bytes)\n", best_lame, lame_bytes);
    std::printf("recording chain %.3f s CPU  (%ju bytes, %.2f s through the duration counter)\n",
                best_chain, file_bytes, counted);
    uint64_t hash = 1469598103934665603ull;
    for (int16_t sample : speech_boosted)
        hash = (hash ^ uint16_t(sample)) * 1099511628211ull;
    std::printf("boost stage alone %.3f s CPU; boosted speech: %zu samples, checksum %016llx\n",
                best_boost, speech_boosted.size(), (unsigned long long)hash);
    std::printf("for reference: lame alone on the boosted speech %.3f s CPU (ratio %.3f); "
                "the chain with the boost off %.3f s CPU (ratio %.3f)\n",
                best_lame_boosted, best_lame_boosted / best_lame, best_chain_unboosted,
                best_chain_unboosted / best_lame);
    double ratio = best_chain / best_lame;
    std::printf("ratio %.3f (limit 1.10) %s\n", ratio, ratio <= 1.10 ? "PASS" : "FAIL");
    std::filesystem::remove(file);
    return ratio <= 1.10 ? 0 : 1;
}
