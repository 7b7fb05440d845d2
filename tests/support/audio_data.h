#pragma once

// Audio for tests: tones, blocks, sinks, files, and what sox, ffprobe and mpg123 make of one.

#include "audio/link.h"
#include "support/process.h"

#include <initializer_list>

namespace testing_support {

// Runs a shell command, its error output dropped; whether it exited with 0, and what it wrote.
bool shell(const std::string& command, std::string* output = nullptr);
// Whether every tool is on the PATH; in CI a missing one is a failure.
bool have_tools(std::initializer_list<const char*> tools);

std::vector<uint8_t> read_bytes(const std::filesystem::path& path);
void write_bytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// `frames` of a sine of `hz` at `rate`, the same in every channel.
std::vector<int16_t> sine(size_t frames, double hz, int rate, double amplitude = 8000,
                          int channels = 1);

// The root mean square of `count` samples; how often the sign changes among every `stride`th.
double rms(const int16_t* samples, size_t count);
int sign_changes(const int16_t* samples, size_t count, size_t stride = 1);

// Any file sox reads, as 16-bit samples; empty when it cannot.
std::vector<int16_t> sox_samples(const std::filesystem::path& path);
// What soxi says with `flag` (-r, -c, -s, -b, -D); -1 when it cannot read the file.
double soxi(const std::filesystem::path& path, const char* flag);
// The container's duration in seconds as ffprobe sees it; -1 when it cannot read the file.
double ffprobe_duration(const std::filesystem::path& path);
// One entry of the first audio stream as ffprobe writes it ("sample_rate", "channels"...).
std::string ffprobe_stream(const std::filesystem::path& path, const std::string& entry);
// Samples per channel mpg123 decodes, with its gapless trimming or every frame whole.
double mpg123_frames(const std::filesystem::path& path, int channels, bool gapless);

inline audio::AudioBlock byte_block(const void* bytes, size_t size, int channels, int bits,
                                    int rate) {
    audio::AudioBlock block;
    block.bytes = audio::ByteSlice::copy_of(size, bytes);
    block.channels = channels;
    block.bits_per_sample = bits;
    block.sample_rate = rate;
    return block;
}

inline audio::AudioBlock pcm_block(const std::vector<int16_t>& samples, int channels = 1,
                                   int rate = 8000) {
    return byte_block(samples.data(), samples.size() * 2, channels, 16, rate);
}

// Keeps the 16-bit samples it is given; received() may be asked from another thread.
class SampleSink : public audio::Inlet {
public:
    void on_data(const audio::AudioBlock& block) override {
        ++blocks;
        const auto* p = reinterpret_cast<const int16_t*>(block.bytes.data());
        samples.insert(samples.end(), p, p + block.size() / 2);
    }
    size_t received() const {
        std::lock_guard guard(lock());
        return samples.size();
    }
    std::vector<int16_t> samples; // under lock()
    size_t blocks{0};             // under lock()
};

} // namespace testing_support
