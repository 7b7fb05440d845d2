// MP3 costs: LAME alone against our writer (encoder stage, file sink, factory), and
// libmpg123 alone against our reader (frame search, one frame per pull), on 60 s of 44.1 kHz
// mono speech-like sound at 64 kbit/s. Compare the CPU columns of each pair. Also the opening
// of an hour-long file, whose duration comes from walking every frame header (target: under
// 50 ms of real time).

#include "audio/link.h"
#include "formats/factory.h"
#include "formats/mp3_reader.h"
#include "formats_lame_reference.h"
#include "foundation/text.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mpg123.h>

namespace {

const std::vector<int16_t>& speech() {
    static const std::vector<int16_t> samples = formats_bench::speech_like();
    return samples;
}

std::filesystem::path scratch(const char* name) {
    return std::filesystem::temp_directory_path() / name;
}

void write_mp3(const std::filesystem::path& path) {
    auto writer = formats::create_writer(foundation::from_utf8(path.string()), u"mp3", 1, 16,
                                         formats_bench::kSpeechRate, 64000, false);
    const auto& samples = speech();
    const size_t block = formats_bench::kSpeechRate / 5; // 200 ms, as the recorder delivers
    for (size_t at = 0; at < samples.size(); at += block) {
        size_t count = std::min(block, samples.size() - at);
        audio::AudioBlock pcm;
        pcm.bytes = audio::ByteSlice::copy_of(count * 2, samples.data() + at);
        pcm.channels = 1;
        pcm.bits_per_sample = 16;
        pcm.sample_rate = formats_bench::kSpeechRate;
        writer->input().on_data(pcm);
    }
}

void LameAlone(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(
            formats_bench::lame_alone(speech(), formats_bench::kSpeechRate, 64000));
}
BENCHMARK(LameAlone)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void OurMp3Writer(benchmark::State& state) {
    auto path = scratch("formats_bench_writer.mp3");
    for (auto _ : state)
        write_mp3(path);
    std::filesystem::remove(path);
}
BENCHMARK(OurMp3Writer)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

class Sink : public audio::Inlet {
public:
    void on_data(const audio::AudioBlock&) override {}
};

void OurMp3Reader(benchmark::State& state) {
    auto path = scratch("formats_bench_reader.mp3");
    write_mp3(path);
    for (auto _ : state) {
        auto reader = formats::open_reader(foundation::from_utf8(path.string()));
        Sink sink;
        audio::connect(reader->output(), &sink);
        size_t bytes = 0;
        for (;;) {
            audio::AudioBlock block;
            audio::pull(sink, block, 17640);
            if (block.empty())
                break;
            bytes += block.size();
        }
        audio::connect(reader->output(), nullptr);
        benchmark::DoNotOptimize(bytes);
    }
    std::filesystem::remove(path);
}
BENCHMARK(OurMp3Reader)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void Mpg123Alone(benchmark::State& state) {
    auto path = scratch("formats_bench_mpg123.mp3");
    write_mp3(path);
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), {});
    mpg123_init();
    for (auto _ : state) {
        mpg123_handle* handle = mpg123_new(nullptr, nullptr);
        mpg123_param(handle, MPG123_FLAGS, MPG123_QUIET, 0);
        mpg123_open_feed(handle);
        mpg123_feed(handle, file.data(), file.size());
        size_t bytes = 0;
        for (;;) {
            off_t number;
            unsigned char* audio;
            size_t size;
            int result = mpg123_decode_frame(handle, &number, &audio, &size);
            if (result == MPG123_NEW_FORMAT)
                continue;
            if (result != MPG123_OK)
                break;
            bytes += size;
        }
        mpg123_delete(handle);
        benchmark::DoNotOptimize(bytes);
    }
    std::filesystem::remove(path);
}
BENCHMARK(Mpg123Alone)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// An hour of the 60 s recording's frames, one copy after another (no information frame, so
// the reader walks every header); opened and its duration found.
void OpenHourLongMp3(benchmark::State& state) {
    auto part = scratch("formats_bench_part.mp3");
    auto hour = scratch("formats_bench_hour.mp3");
    write_mp3(part);
    {
        std::ifstream in(part, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream out(hour, std::ios::binary);
        for (int i = 0; i < 60; ++i)
            out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    const double file_mb = double(std::filesystem::file_size(hour)) / 1e6;
    for (auto _ : state) {
        formats::FileReaderMP3 reader(foundation::from_utf8(hour.string()));
        if (!reader.is_valid() || reader.duration() < 3590) {
            state.SkipWithError("the hour-long file does not read as an hour");
            break;
        }
    }
    state.counters["file_MB"] = file_mb;
    std::filesystem::remove(part);
    std::filesystem::remove(hour);
}
BENCHMARK(OpenHourLongMp3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
