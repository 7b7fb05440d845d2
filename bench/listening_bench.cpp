// The listening stage's cost on 60 s of 44.1 kHz mono speech-like sound: CPU per second of
// sound played, as the share of one core (counter "core_share"; the limit at 2x is 0.04).
// Speed 1 is the bypass that plain playback takes.
//
// BM_PlaybackAtOne plays the same sound at 1x through the output device at real time (the
// device the program would use: SDL's, or QUILLORY_AUDIO=null's paced one) with the player's
// device buffers of `buffer_ms`: the process's CPU share ("core_share") and its context switches
// per second of all threads ("wakeups_per_s"), over eight seconds after a second of start-up.

#include "audio/player_pcm.h"
#include "audio/speed_stage.h"
#include "formats_lame_reference.h"
#include "platform/clock.h"

#include <benchmark/benchmark.h>
#include <ctime>
#include <sys/resource.h>

namespace {

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

class Speech : public audio::Outlet {
public:
    void get_data(audio::AudioBlock& out, int max_bytes) override {
        static const std::vector<int16_t> samples = formats_bench::speech_like();
        out = audio::AudioBlock{};
        const size_t count = std::min(size_t(max_bytes) / 2, samples.size() - m_at);
        if (count == 0)
            return;
        out.bytes = audio::ByteSlice::copy_of(count * 2, samples.data() + m_at);
        out.channels = 1;
        out.bits_per_sample = 16;
        out.sample_rate = formats_bench::kSpeechRate;
        m_at += count;
    }

private:
    size_t m_at{0};
};

void BM_Listening(benchmark::State& state) {
    const double speed = double(state.range(0)) / 100;
    const bool skip = state.range(1) != 0;
    double cpu = 0, played = 0;
    for (auto _ : state) {
        Speech speech;
        audio::SpeedStage stage;
        stage.set_speed(speed);
        stage.set_skip_silence(skip, 0.02);
        audio::connect(speech, &stage);
        const double start = cpu_seconds();
        size_t frames = 0;
        for (;;) {
            audio::AudioBlock block;
            stage.get_data(block, 16384);
            if (block.empty())
                break;
            frames += block.frames();
        }
        cpu += cpu_seconds() - start;
        played += double(frames) / formats_bench::kSpeechRate;
        audio::connect(speech, nullptr);
    }
    state.counters["core_share"] = cpu / played;
}

BENCHMARK(BM_Listening)
    ->ArgNames({"speed_percent", "skip"})
    ->Args({100, 0})
    ->Args({150, 0})
    ->Args({200, 0})
    ->Args({300, 0})
    ->Args({200, 1})
    ->Unit(benchmark::kMillisecond);

double switches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_nvcsw + usage.ru_nivcsw);
}

void BM_PlaybackAtOne(benchmark::State& state) {
    constexpr uint32_t kSettleMs = 1000, kMeasureMs = 8000;
    double cpu = 0, woken = 0;
    for (auto _ : state) {
        Speech speech;
        audio::SpeedStage stage;
        audio::PlayerPCM player;
        player.set_buffer_ms(int(state.range(0)));
        audio::connect(speech, &stage);
        audio::connect(stage.output(), &player);
        if (!player.play()) {
            state.SkipWithError("the player did not start");
            break;
        }
        platform::sleep_ms(kSettleMs);
        const double cpu_before = cpu_seconds(), switches_before = switches();
        platform::sleep_ms(kMeasureMs);
        cpu += cpu_seconds() - cpu_before;
        woken += switches() - switches_before;
        if (player.is_finished())
            state.SkipWithError("the playback ended early (no output device?)");
        player.stop();
        audio::connect(stage.output(), nullptr);
        audio::connect(speech, nullptr);
    }
    const double seconds = double(state.iterations()) * kMeasureMs / 1000;
    state.counters["core_share"] = cpu / seconds;
    state.counters["wakeups_per_s"] = woken / seconds;
}

BENCHMARK(BM_PlaybackAtOne)
    ->ArgName("buffer_ms")
    ->Arg(200)
    ->Arg(15)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
