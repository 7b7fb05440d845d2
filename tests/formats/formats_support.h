#pragma once

// Shared helpers of the format tests: running the independent tools, and reading our own
// readers' output in full.

#include "audio/file_io.h"
#include "audio/link.h"
#include "foundation/text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace formats_test {

inline std::u16string u16(const std::filesystem::path& path) {
    return foundation::from_utf8(path.string());
}

// Runs a shell command; its standard output, and whether it exited with 0.
inline bool run(const std::string& command, std::string* output = nullptr) {
    std::string text;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return false;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    int status = pclose(pipe);
    if (output)
        *output = text;
    return status == 0;
}

inline std::string quote(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

inline std::vector<uint8_t> read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Samples of any file sox reads, as 16-bit signed native samples.
inline std::vector<int16_t> sox_samples(const std::filesystem::path& path) {
    std::filesystem::path raw = path;
    raw += ".sox.raw";
    if (!run("sox " + quote(path) + " -t raw -e signed -b 16 -L " + quote(raw)))
        return {};
    std::vector<uint8_t> bytes = read_bytes(raw);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    std::filesystem::remove(raw);
    return samples;
}

class Collector : public audio::Inlet {
public:
    void on_data(const audio::AudioBlock&) override {}
};

struct Decoded {
    std::vector<int16_t> samples;
    size_t blocks{0};
    int channels{0};
    int rate{0};
};

// Pulls the reader's whole stream of 16-bit PCM (at most `limit` pulls).
inline Decoded pull_all(audio::FileReader& reader, int max_bytes = 8820, size_t limit = 1000000) {
    Decoded result;
    Collector end;
    audio::connect(reader.output(), &end);
    for (size_t i = 0; i < limit; ++i) {
        audio::AudioBlock block;
        audio::pull(end, block, max_bytes);
        if (block.empty())
            break;
        ++result.blocks;
        result.channels = block.channels;
        result.rate = block.sample_rate;
        auto* p = reinterpret_cast<const int16_t*>(block.bytes.data());
        result.samples.insert(result.samples.end(), p, p + block.size() / 2);
    }
    audio::connect(reader.output(), nullptr);
    return result;
}

// Pushes 16-bit PCM into a writer's input in pieces of `piece` frames.
inline void push_samples(audio::Inlet& input, const std::vector<int16_t>& samples, int channels,
                         int rate, size_t piece = 4410) {
    size_t frames = samples.size() / size_t(channels);
    for (size_t start = 0; start < frames; start += piece) {
        size_t count = std::min(piece, frames - start);
        audio::AudioBlock block;
        block.bytes = audio::ByteSlice::copy_of(count * size_t(channels) * 2,
                                                samples.data() + start * size_t(channels));
        block.channels = channels;
        block.bits_per_sample = 16;
        block.sample_rate = rate;
        std::lock_guard guard(input.lock());
        input.on_data(block);
    }
}

inline std::string cli_path() {
    return std::string(QV_BUILD_DIR) + "/bin/quillory-cli";
}

} // namespace formats_test
