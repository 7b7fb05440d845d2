// Ten minutes of capture through the file-backed input device at 20 times real time while
// both cores are kept busy: every block must arrive, in order and intact, and resident memory
// must not grow with the length of the recording. The chain is recorder, level meter, duration
// counter and recording buffer, whose writer thread checks every byte against the input.
//
// usage: audio_capture_soak [minutes] [speed]

#include "audio/active_buffer.h"
#include "audio/duration_counter.h"
#include "audio/level_meter.h"
#include "audio/recorder_pcm.h"
#include "formats/wave_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 44100;

int16_t pattern(uint64_t i) {
    return int16_t(int32_t((i * 7919u) % 60000u) - 30000 + int32_t(i % 7) + 1);
}

long resident_kilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Checks the stream against the pattern; runs on the recording buffer's writer thread.
class Checker : public audio::Inlet {
public:
    explicit Checker(uint64_t samples) : m_expected(samples) {}
    void on_data(const audio::AudioBlock& block) override {
        if (block.empty())
            return; // the recording buffer's idle push
        ++blocks;
        const uint8_t* bytes = block.bytes.data();
        for (size_t i = 0; i + 1 < block.size(); i += 2, ++m_position) {
            int16_t sample;
            std::memcpy(&sample, bytes + i, 2);
            int16_t wanted = m_position < m_expected ? pattern(m_position) : 0;
            if (sample != wanted && mismatches++ == 0)
                first_mismatch = m_position;
        }
        samples.store(m_position);
    }
    std::atomic<uint64_t> samples{0};
    uint64_t blocks = 0;
    uint64_t mismatches = 0;
    uint64_t first_mismatch = 0;

private:
    uint64_t m_expected;
    uint64_t m_position{0};
};

} // namespace

int main(int argc, char** argv) {
    double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const char* speed = argc > 2 ? argv[2] : "20";
    uint64_t total = uint64_t(minutes * 60 * kRate);
    std::filesystem::path input = std::filesystem::temp_directory_path() / "audio_capture_soak.wav";
    {
        platform::WaveFormat format;
        format.channels = 1;
        format.samples_per_sec = kRate;
        format.bits_per_sample = 16;
        auto writer = formats::create_wave_file(input.string(), format);
        if (!writer)
            return 1;
        std::vector<int16_t> chunk(kRate);
        for (uint64_t at = 0; at < total; at += chunk.size()) {
            size_t n = size_t(std::min<uint64_t>(chunk.size(), total - at));
            for (size_t i = 0; i < n; ++i)
                chunk[i] = pattern(at + i);
            writer->write(reinterpret_cast<const uint8_t*>(chunk.data()), n * 2);
        }
    }
    formats::use_wave_files();
    setenv("QUILLORY_AUDIO", "file", 1);
    setenv("QUILLORY_AUDIO_IN", input.c_str(), 1);
    setenv("QUILLORY_AUDIO_SPEED", speed, 1);

    std::atomic<bool> done{false};
    std::vector<std::thread> busy;
    for (int i = 0; i < 2; ++i)
        busy.emplace_back([&done] {
            volatile uint64_t spin = 0;
            while (!done.load(std::memory_order_relaxed))
                spin = spin + 1;
        });

    audio::LevelMeter meter;
    audio::DurationCounter duration;
    audio::ActiveBuffer buffer;
    Checker checker(total);
    audio::connect(meter.output(), &duration);
    audio::connect(duration.output(), &buffer);
    audio::connect(buffer.output(), &checker);
    auto started = std::chrono::steady_clock::now();
    long rss_first_minute = -1, rss_peak = 0;
    {
        audio::RecorderPCM recorder(1, kRate, 16);
        audio::connect(recorder, &meter);
        if (!recorder.start()) {
            std::fprintf(stderr, "no input device\n");
            return 1;
        }
        while (checker.samples.load() < total) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            long rss = resident_kilobytes();
            rss_peak = std::max(rss_peak, rss);
            if (rss_first_minute < 0 && checker.samples.load() >= uint64_t(60 * kRate))
                rss_first_minute = rss;
            if (std::chrono::steady_clock::now() - started > std::chrono::minutes(30))
                break;
        }
    }
    buffer.drain();
    while (buffer.has_pending())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    long rss_end = resident_kilobytes();
    done = true;
    for (auto& thread : busy)
        thread.join();
    std::filesystem::remove(input);

    audio::connect(buffer.output(), nullptr);
    uint64_t got = checker.samples.load();
    std::printf("audio: %.1f min of capture at %sx in %.1f s wall, both cores busy\n", minutes,
                speed, wall);
    std::printf("blocks %llu, samples %llu of %llu, mismatches %llu (first at %llu)\n",
                (unsigned long long)checker.blocks, (unsigned long long)got,
                (unsigned long long)total, (unsigned long long)checker.mismatches,
                (unsigned long long)checker.first_mismatch);
    std::printf("duration counter %.2f s\n", duration.seconds());
    std::printf("resident memory: after 1 min of audio %ld kB, peak %ld kB, end %ld kB\n",
                rss_first_minute, rss_peak, rss_end);
    bool ok = got >= total && checker.mismatches == 0 && buffer.is_valid();
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
