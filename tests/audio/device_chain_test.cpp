#include "audio/player_pcm.h"
#include "audio/recorder_pcm.h"
#include "platform/wave_file.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using audio::AudioBlock;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::Watchdog;

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Sample i of a test signal: never silent, distinct over long stretches.
int16_t pattern(size_t i) {
    return int16_t(int32_t((i * 7919u) % 60000u) - 30000 + (i % 7 == 0 ? 1 : 0) + 1);
}

std::vector<uint8_t> pattern_bytes(size_t samples) {
    std::vector<uint8_t> bytes(samples * 2);
    for (size_t i = 0; i < samples; ++i) {
        int16_t s = pattern(i);
        std::memcpy(bytes.data() + 2 * i, &s, 2);
    }
    return bytes;
}

void write_wav(const std::string& path, const std::vector<uint8_t>& data, int rate, int channels) {
    platform::WaveFormat format;
    format.channels = uint16_t(channels);
    format.samples_per_sec = uint32_t(rate);
    format.bits_per_sample = 16;
    format.block_align = uint16_t(2 * channels);
    format.avg_bytes_per_sec = uint32_t(rate) * format.block_align;
    platform::WaveFileWriter writer;
    ASSERT_TRUE(writer.create(path, format));
    ASSERT_TRUE(writer.write(data.data(), data.size()));
}

std::vector<uint8_t> read_wav(const std::string& path, platform::WaveFormat* format = nullptr) {
    platform::WaveFileReader reader;
    if (!reader.open(path))
        return {};
    if (format)
        *format = reader.format();
    std::vector<uint8_t> data(reader.data_size());
    data.resize(reader.read(data.data(), data.size()));
    return data;
}

class Sink : public audio::Inlet {
public:
    void on_data(const AudioBlock& block) override {
        // A slow consumer now and then, so that several buffers complete behind it.
        if (slow && sizes.size() % 5 == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sizes.push_back(block.size());
        formats_ok = formats_ok && block.channels == 1 && block.bits_per_sample == 16 &&
                     block.sample_rate == 44100;
        bytes.insert(bytes.end(), block.bytes.data(), block.bytes.data() + block.size());
    }
    size_t received() const {
        std::lock_guard guard(lock());
        return bytes.size();
    }
    std::vector<size_t> sizes;
    std::vector<uint8_t> bytes;
    bool formats_ok = true;
    bool slow = false;
};

TEST(RecorderPCM, CapturesTheInputFileInOrderWithNothingLost) {
    Watchdog watchdog(60);
    TempDir dir;
    std::vector<uint8_t> input = pattern_bytes(44100 * 3);
    write_wav((dir / "in.wav").string(), input, 44100, 1);
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv in_env("QUILLORY_AUDIO_IN", (dir / "in.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "10");

    Sink sink;
    sink.slow = true;
    {
        audio::RecorderPCM recorder(1, 44100, 16);
        EXPECT_EQ(recorder.bit_rate(), 705600);
        audio::connect(recorder, &sink);
        ASSERT_TRUE(recorder.start());
        EXPECT_TRUE(recorder.is_valid());
        while (sink.received() < input.size() + 17640)
            sleep_ms(5);
    }
    std::lock_guard guard(sink.lock());
    EXPECT_TRUE(sink.formats_ok);
    for (size_t size : sink.sizes)
        EXPECT_LE(size, 17640u);
    ASSERT_GE(sink.bytes.size(), input.size());
    EXPECT_TRUE(std::equal(input.begin(), input.end(), sink.bytes.begin()));
    // After the file, silence.
    EXPECT_TRUE(std::all_of(sink.bytes.begin() + long(input.size()), sink.bytes.end(),
                            [](uint8_t b) { return b == 0; }));
}

TEST(RecorderPCM, InputInAnotherFormatIsConverted) {
    Watchdog watchdog(60);
    TempDir dir;
    // One second of a loud stereo signal at half the rate.
    std::vector<uint8_t> input = pattern_bytes(22050 * 2);
    write_wav((dir / "in.wav").string(), input, 22050, 2);
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv in_env("QUILLORY_AUDIO_IN", (dir / "in.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "10");
    Sink sink;
    {
        audio::RecorderPCM recorder(1, 44100, 16);
        audio::connect(recorder, &sink);
        ASSERT_TRUE(recorder.start());
        while (sink.received() < 44100 * 2 * 2)
            sleep_ms(5);
    }
    std::lock_guard guard(sink.lock());
    // The first second holds the converted signal, the next one silence.
    auto loud = [&](size_t from, size_t to) {
        size_t count = 0;
        for (size_t i = from; i < to; i += 2) {
            int16_t s;
            std::memcpy(&s, sink.bytes.data() + i, 2);
            count += std::abs(s) > 1000;
        }
        return count;
    };
    EXPECT_GT(loud(0, 44100), 10000u);
    EXPECT_GT(loud(44100, 88200 - 4000), 10000u);
    EXPECT_EQ(loud(88200 + 4000, 176400), 0u);
}

TEST(RecorderPCM, PauseStopsCaptureAndSecondPauseIsTrue) {
    Watchdog watchdog(60);
    ScopedEnv audio_env("QUILLORY_AUDIO", "null");
    Sink sink;
    audio::RecorderPCM recorder(1, 44100, 16);
    audio::connect(recorder, &sink);
    ASSERT_TRUE(recorder.start());
    EXPECT_FALSE(recorder.is_paused());
    while (sink.received() == 0)
        sleep_ms(10);
    EXPECT_TRUE(recorder.pause());
    EXPECT_TRUE(recorder.is_paused());
    EXPECT_TRUE(recorder.pause());
    sleep_ms(150);
    size_t after_pause = sink.received();
    sleep_ms(400);
    EXPECT_EQ(sink.received(), after_pause);
}

TEST(RecorderPCM, BufferSizesAreTwoHundredMilliseconds) {
    EXPECT_EQ(audio::RecorderPCM::buffer_size_for(1, 44100, 16), 17640u);
    EXPECT_EQ(audio::RecorderPCM::buffer_size_for(1, 22050, 16), 8820u);
    EXPECT_EQ(audio::RecorderPCM::buffer_size_for(1, 11025, 8), 2204u);
}

// A reader serving the pattern in blocks of uneven size, counting what it serves.
class PatternReader : public audio::Outlet {
public:
    PatternReader(size_t total_samples, int rate)
        : m_bytes(pattern_bytes(total_samples)), m_rate(rate) {}
    void get_data(AudioBlock& out, int max_bytes) override {
        std::lock_guard guard(m_mutex);
        size_t size = std::min<size_t>(
            {size_t(max_bytes), 3000 + (m_calls++ % 5) * 2222, m_bytes.size() - m_served});
        size &= ~size_t(1);
        out = AudioBlock{};
        if (size == 0)
            return;
        out.bytes = audio::ByteSlice::copy_of(size, m_bytes.data() + m_served);
        out.channels = 1;
        out.bits_per_sample = 16;
        out.sample_rate = m_rate;
        m_served += size;
    }
    size_t served() const {
        std::lock_guard guard(m_mutex);
        return m_served;
    }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int m_rate;
    mutable std::mutex m_mutex;
    size_t m_served = 0;
    size_t m_calls = 0;
};

void wait_finished(audio::PlayerPCM& player) {
    while (!player.is_finished())
        sleep_ms(5);
}

TEST(PlayerPCM, PlaysEverythingOnceAcrossPauseAndResume) {
    Watchdog watchdog(60);
    TempDir dir;
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "4");

    audio::PlayerPCM player;
    EXPECT_TRUE(player.is_finished());
    PatternReader reader(22050 * 4, 22050);
    audio::connect(reader, &player);
    ASSERT_TRUE(player.play());
    EXPECT_FALSE(player.is_finished());
    while (reader.served() < reader.bytes().size() * 2 / 3)
        sleep_ms(2);
    ASSERT_TRUE(player.pause());
    sleep_ms(100);
    size_t served_while_paused = reader.served();
    sleep_ms(300);
    EXPECT_EQ(reader.served(), served_while_paused);
    EXPECT_FALSE(player.is_finished());
    EXPECT_GT(player.level(0), 0.5);
    EXPECT_DOUBLE_EQ(player.level(0), player.level(1));
    ASSERT_TRUE(player.play());
    wait_finished(player);
    EXPECT_EQ(player.level(0), 0.0);
    audio::connect(reader, nullptr);

    platform::WaveFormat format;
    std::vector<uint8_t> played = read_wav((dir / "out.wav").string(), &format);
    EXPECT_EQ(format.samples_per_sec, 22050u);
    EXPECT_EQ(format.channels, 1);
    EXPECT_EQ(reader.served(), reader.bytes().size());
    EXPECT_EQ(played, reader.bytes());
}

TEST(PlayerPCM, StopEndsPlaybackAndANewPlayStartsAfresh) {
    Watchdog watchdog(60);
    TempDir dir;
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "2");

    audio::PlayerPCM player;
    {
        PatternReader reader(44100 * 10, 44100);
        audio::connect(reader, &player);
        player.play();
        while (reader.served() == 0)
            sleep_ms(2);
        player.stop();
        EXPECT_TRUE(player.is_finished());
        audio::connect(reader, nullptr);
        EXPECT_LT(reader.served(), reader.bytes().size());
    }
    PatternReader second(8000, 8000);
    audio::connect(second, &player);
    player.play();
    wait_finished(player);
    audio::connect(second, nullptr);
    EXPECT_EQ(read_wav((dir / "out.wav").string()), second.bytes());
}

TEST(PlayerPCM, EmptyReaderFinishesWithoutOpeningTheDevice) {
    Watchdog watchdog(30);
    TempDir dir;
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
    audio::PlayerPCM player;
    PatternReader reader(0, 8000);
    audio::connect(reader, &player);
    player.play();
    wait_finished(player);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
    audio::connect(reader, nullptr);
}

TEST(PlayerPCM, VolumeIsClampedAndAppliedToTheOutput) {
    Watchdog watchdog(30);
    TempDir dir;
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "8");
    audio::PlayerPCM player;
    player.set_volume(1.5);
    EXPECT_DOUBLE_EQ(player.volume(), 1.0);
    player.set_volume(-1);
    EXPECT_DOUBLE_EQ(player.volume(), 0.0);
    player.set_volume(0.5);
    PatternReader reader(4000, 8000);
    audio::connect(reader, &player);
    player.play();
    wait_finished(player);
    audio::connect(reader, nullptr);
    std::vector<uint8_t> played = read_wav((dir / "out.wav").string());
    ASSERT_EQ(played.size(), reader.bytes().size());
    for (size_t i = 0; i + 1 < played.size(); i += 2) {
        int16_t in, out;
        std::memcpy(&in, reader.bytes().data() + i, 2);
        std::memcpy(&out, played.data() + i, 2);
        ASSERT_NEAR(out, in / 2, 1) << i;
    }
}

TEST(PlaySound, PlaysTheWholeFileAndReturnsAfterIt) {
    Watchdog watchdog(30);
    TempDir dir;
    std::vector<uint8_t> beep = pattern_bytes(8000);
    write_wav((dir / "beep.wav").string(), beep, 16000, 1);
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
    auto started = std::chrono::steady_clock::now();
    std::u16string path;
    for (char c : (dir / "beep.wav").string())
        path += char16_t(c);
    ASSERT_TRUE(platform::play_sound_and_wait(path));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(480));
    EXPECT_EQ(read_wav((dir / "out.wav").string()), beep);
    EXPECT_FALSE(platform::play_sound_and_wait(u"/nonexistent/beep.wav"));
}

} // namespace
