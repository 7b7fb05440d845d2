#pragma once

// The audio tests' sound devices: the file backend reading its input from a WAV file and
// writing its output to one, and the environment switches that make it misbehave.

#include "audio/recorder_pcm.h"
#include "formats/wave_file.h"
#include "support/audio_data.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace audio_test {

using namespace testing_support;

inline void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The file devices read and write WAV through the program's WAV coding, as the programs do.
inline const bool wave_files_in_use = (formats::use_wave_files(), true);

inline void write_wav(const std::filesystem::path& path, const std::vector<int16_t>& samples,
                      int rate, int channels = 1) {
    platform::WaveFormat format;
    format.channels = uint16_t(channels);
    format.samples_per_sec = uint32_t(rate);
    format.bits_per_sample = 16;
    auto file = formats::create_wave_file(path.string(), format);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->write(reinterpret_cast<const uint8_t*>(samples.data()), samples.size() * 2));
}

// The samples of a 16-bit WAV file; its format in `format`.
inline std::vector<int16_t> read_wav(const std::filesystem::path& path,
                                     platform::WaveFormat* format = nullptr) {
    auto file = formats::open_wave_file(path.string(), nullptr);
    if (!file)
        return {};
    if (format)
        *format = file->format();
    std::vector<int16_t> samples;
    int16_t chunk[2048];
    while (const size_t read = file->read(reinterpret_cast<uint8_t*>(chunk), sizeof chunk))
        samples.insert(samples.end(), chunk, chunk + read / 2);
    return samples;
}

// Records into `sink` until it holds `samples`.
inline void record(audio::RecorderPCM& recorder, SampleSink& sink, size_t samples) {
    audio::connect(recorder, &sink);
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(wait_for([&] { return sink.received() >= samples; }, 60000));
}

// A test of the file devices: its own folder, the output in "out.wav", switches set with env().
class FileDevices : public ::testing::Test {
protected:
    void env(const char* name, const std::string& value) {
        m_env.push_back(std::make_unique<ScopedEnv>(name, value));
    }
    // The microphone: a WAV file of these samples, captured `speed` times as fast as real time.
    void input(const std::vector<int16_t>& samples, int rate, int channels = 1, int speed = 10) {
        write_wav(dir / "in.wav", samples, rate, channels);
        env("QUILLORY_AUDIO_IN", (dir / "in.wav").string());
        env("QUILLORY_AUDIO_SPEED", std::to_string(speed));
    }
    std::vector<int16_t> output(platform::WaveFormat* format = nullptr) const {
        return read_wav(dir / "out.wav", format);
    }

    Watchdog watchdog{60};
    TempDir dir;
    ScopedEnv m_audio{"QUILLORY_AUDIO", "file"};
    ScopedEnv m_out{"QUILLORY_AUDIO_OUT", (dir / "out.wav").string()};
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

} // namespace audio_test
