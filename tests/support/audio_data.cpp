#include "support/audio_data.h"

#include "support/process.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace testing_support {

bool shell(const std::string& command, std::string* output) {
    const CommandResult result = run_command({"/bin/sh", "-c", command + " 2>/dev/null"});
    if (output)
        *output = result.output;
    return result.status == 0;
}

bool have_tools(std::initializer_list<const char*> tools) {
    for (const char* tool : tools) {
        if (have_program(tool))
            continue;
        if (in_ci())
            ADD_FAILURE() << tool << " is missing";
        return false;
    }
    return true;
}

std::vector<uint8_t> read_bytes(const std::filesystem::path& path) {
    const std::string bytes = read_whole_file(path);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void write_bytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<int16_t> sine(size_t frames, double hz, int rate, double amplitude, int channels) {
    std::vector<int16_t> samples(frames * size_t(channels));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(
            std::lround(amplitude * std::sin(2 * M_PI * hz * double(i / size_t(channels)) / rate)));
    return samples;
}

double rms(const int16_t* samples, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(count));
}

int sign_changes(const int16_t* samples, size_t count, size_t stride) {
    int changes = 0;
    for (size_t i = stride; i < count * stride; i += stride)
        changes += (samples[i - stride] < 0) != (samples[i] < 0);
    return changes;
}

std::vector<int16_t> sox_samples(const std::filesystem::path& path) {
    std::string raw;
    if (!shell("sox " + quote(path) + " -t raw -e signed -b 16 -L -", &raw))
        return {};
    std::vector<int16_t> samples(raw.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint16_t(uint8_t(raw[2 * i]) | (uint8_t(raw[2 * i + 1]) << 8)));
    return samples;
}

double soxi(const std::filesystem::path& path, const char* flag) {
    std::string out;
    if (!shell(std::string("soxi ") + flag + " " + quote(path), &out) || out.empty())
        return -1;
    return std::atof(out.c_str());
}

double ffprobe_duration(const std::filesystem::path& path) {
    std::string out;
    shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + quote(path), &out);
    return out.empty() ? -1 : std::atof(out.c_str());
}

std::string ffprobe_stream(const std::filesystem::path& path, const std::string& entry) {
    std::string out;
    shell("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry + " -of csv=p=0 " +
              quote(path),
          &out);
    return out.substr(0, out.find_first_of("\r\n"));
}

double mpg123_frames(const std::filesystem::path& path, int channels, bool gapless) {
    std::string out;
    shell(std::string("mpg123 -q ") + (gapless ? "" : "--no-gapless ") + "-s " + quote(path) +
              " | wc -c",
          &out);
    return std::atof(out.c_str()) / 2 / channels;
}

} // namespace testing_support
