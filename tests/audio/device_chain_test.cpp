#include "audio/player_pcm.h"
#include "audio/recorder_pcm.h"
#include "platform/wave_file.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
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

TEST(RecorderPCM, AudioTheDeviceDropsIsCountedAndTheRestKeptInOrder) {
    Watchdog watchdog(60);
    TempDir dir;
    std::vector<uint8_t> input = pattern_bytes(44100 * 3);
    write_wav((dir / "in.wav").string(), input, 44100, 1);
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv in_env("QUILLORY_AUDIO_IN", (dir / "in.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "10");
    // Malformed entries are passed over; the stretch not said is found from the device's clock.
    ScopedEnv drop_env("QUILLORY_AUDIO_DROP_MS", "500:300,x:5,1500:120,:,900,2200:100:unsaid");

    Sink sink;
    double lost = 0;
    {
        audio::RecorderPCM recorder(1, 44100, 16);
        audio::connect(recorder, &sink);
        ASSERT_TRUE(recorder.start());
        while (sink.received() < input.size())
            sleep_ms(5);
        // The count is taken at the next look at the device.
        for (int i = 0; i < 300 && recorder.lost_seconds() < 0.52; ++i)
            sleep_ms(10);
        lost = recorder.lost_seconds();
    }
    EXPECT_DOUBLE_EQ(lost, (13230 + 5292 + 4410) / 44100.0);
    // What arrived is the input with two stretches of exactly that length left out.
    std::lock_guard guard(sink.lock());
    std::vector<size_t> gaps;
    size_t from = 0; // input sample of the next output sample
    for (size_t at = 0; at + 1 < sink.bytes.size() / 2 && from < input.size() / 2; ++at, ++from) {
        int16_t got;
        std::memcpy(&got, sink.bytes.data() + 2 * at, 2);
        if (got == pattern(from))
            continue;
        size_t skipped = 1;
        while (from + skipped < input.size() / 2 && pattern(from + skipped) != got)
            ++skipped;
        gaps.push_back(skipped);
        from += skipped;
    }
    EXPECT_EQ(gaps, (std::vector<size_t>{13230, 5292, 4410}));
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

TEST(RecorderPCM, StoppingHandsOnEverythingCapturedUpToTheStop) {
    Watchdog watchdog(60);
    TempDir dir;
    std::vector<uint8_t> input = pattern_bytes(44100 * 4);
    write_wav((dir / "in.wav").string(), input, 44100, 1);
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv in_env("QUILLORY_AUDIO_IN", (dir / "in.wav").string());
    ScopedEnv captured_env("QUILLORY_AUDIO_CAPTURED", (dir / "captured.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "5");
    // Stops at several points inside a 200 ms buffer, with buffers done and not yet harvested.
    for (size_t stop_at : {size_t(17640 * 2 + 3000), size_t(17640 * 5 + 12000)}) {
        std::filesystem::remove(dir / "captured.wav");
        auto captured_size = [&] {
            std::error_code error;
            auto size = std::filesystem::file_size(dir / "captured.wav", error);
            return error ? 0 : size;
        };
        Sink sink;
        {
            audio::RecorderPCM recorder(1, 44100, 16);
            audio::connect(recorder, &sink);
            ASSERT_TRUE(recorder.start());
            while (captured_size() < 44 + stop_at)
                sleep_ms(1);
        }
        std::vector<uint8_t> captured = read_wav((dir / "captured.wav").string());
        std::lock_guard guard(sink.lock());
        ASSERT_GE(captured.size(), stop_at);
        EXPECT_EQ(sink.bytes.size(), captured.size()) << "captured but not handed on";
        EXPECT_TRUE(std::equal(captured.begin(), captured.end(), input.begin()));
        EXPECT_TRUE(std::equal(sink.bytes.begin(), sink.bytes.end(), input.begin()));
    }
}

TEST(RecorderPCM, DeviceThatGoesAwayOrFallsSilentIsReported) {
    Watchdog watchdog(60);
    ScopedEnv audio_env("QUILLORY_AUDIO", "null");
    for (const char* which : {"QUILLORY_AUDIO_REMOVE_AFTER_MS", "QUILLORY_AUDIO_STALL_AFTER_MS"}) {
        ScopedEnv switch_env(which, "500");
        Sink sink;
        audio::RecorderPCM recorder(1, 22050, 16);
        audio::connect(recorder, &sink);
        ASSERT_TRUE(recorder.start());
        auto started = std::chrono::steady_clock::now();
        while (!recorder.device_lost())
            sleep_ms(10);
        auto took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took, std::chrono::milliseconds(450)) << which;
        // A stall is noticed after a second of nothing; a removal at once.
        EXPECT_LT(took, std::chrono::milliseconds(which[15] == 'R' ? 1200 : 2500)) << which;
        std::lock_guard guard(sink.lock());
        EXPECT_GE(sink.bytes.size(), 8820u) << "what came before is kept";
        EXPECT_LE(sink.bytes.size(), 22050u) << "nothing is made up after";
    }
}

TEST(RecorderPCM, CaptureSlowToDeliverItsFirstAudioIsNotLost) {
    Watchdog watchdog(60);
    ScopedEnv audio_env("QUILLORY_AUDIO", "null");
    ScopedEnv start_env("QUILLORY_AUDIO_CAPTURE_START_AFTER_MS", "2500");
    Sink sink;
    audio::RecorderPCM recorder(1, 22050, 16);
    audio::connect(recorder, &sink);
    ASSERT_TRUE(recorder.start());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        {
            std::lock_guard guard(sink.lock());
            if (sink.bytes.size() >= 8820u * 2)
                break;
        }
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no audio after the slow start";
        sleep_ms(10);
    }
    EXPECT_FALSE(recorder.device_lost());
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
    // Both streams start with the same samples: the rate in the header tells which device wrote
    // the file, the fault tells a playback cut short from one that never started.
    EXPECT_EQ(player.fault(), audio::PlayerPCM::Fault::None);
    platform::WaveFormat format;
    std::vector<uint8_t> played = read_wav((dir / "out.wav").string(), &format);
    EXPECT_EQ(format.samples_per_sec, 8000u);
    EXPECT_EQ(second.served(), second.bytes().size());
    EXPECT_EQ(played.size(), second.bytes().size());
    EXPECT_TRUE(played == second.bytes());
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

TEST(PlayerPCM, TheTailReachesTheOutputBeforePlaybackFinishes) {
    Watchdog watchdog(60);
    TempDir dir;
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "2");
    audio::PlayerPCM player;
    for (size_t samples : {size_t(8000 * 7 / 10 + 3), size_t(8000 * 2 + 1234)}) {
        PatternReader reader(samples, 8000);
        audio::connect(reader, &player);
        ASSERT_TRUE(player.play());
        wait_finished(player);
        EXPECT_EQ(player.fault(), audio::PlayerPCM::Fault::None);
        audio::connect(reader, nullptr);
        // Finished means heard: the device was closed with its own buffer drained.
        std::vector<uint8_t> played = read_wav((dir / "out.wav").string());
        ASSERT_EQ(played.size(), reader.bytes().size()) << samples;
        EXPECT_EQ(played, reader.bytes());
    }
}

TEST(PlayerPCM, StopSilencesThePlaybackAlsoWhileItDrains) {
    Watchdog watchdog(60);
    TempDir dir;
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
    audio::PlayerPCM player;
    // One second fits the device's buffers whole: the reader is done at once and the player
    // only drains from then on.
    PatternReader reader(8000, 8000);
    audio::connect(reader, &player);
    ASSERT_TRUE(player.play());
    while (reader.served() < reader.bytes().size())
        sleep_ms(2);
    sleep_ms(150);
    ASSERT_TRUE(player.stop());
    EXPECT_TRUE(player.is_finished());
    // The device closes at once; its file is then complete and grows no more.
    std::vector<uint8_t> played;
    for (int i = 0; i < 100 && played.empty(); ++i) {
        sleep_ms(10);
        played = read_wav((dir / "out.wav").string());
    }
    sleep_ms(500);
    EXPECT_EQ(read_wav((dir / "out.wav").string()), played);
    EXPECT_LT(played.size(), reader.bytes().size() / 2) << "the rest was still heard";
    EXPECT_TRUE(std::equal(played.begin(), played.end(), reader.bytes().begin()));
    audio::connect(reader, nullptr);
}

TEST(PlayerPCM, OutputThatGoesAwayOrCannotOpenEndsWithAFault) {
    Watchdog watchdog(60);
    TempDir dir;
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    audio::PlayerPCM player;
    {
        ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "missing" / "out.wav").string());
        PatternReader reader(8000, 8000);
        audio::connect(reader, &player);
        ASSERT_TRUE(player.play());
        wait_finished(player);
        EXPECT_EQ(player.fault(), audio::PlayerPCM::Fault::NoDevice);
        audio::connect(reader, nullptr);
    }
    {
        ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
        ScopedEnv remove_env("QUILLORY_AUDIO_REMOVE_AFTER_MS", "300");
        PatternReader reader(8000 * 5, 8000);
        audio::connect(reader, &player);
        ASSERT_TRUE(player.play());
        EXPECT_EQ(player.fault(), audio::PlayerPCM::Fault::None);
        auto started = std::chrono::steady_clock::now();
        wait_finished(player);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        EXPECT_EQ(player.fault(), audio::PlayerPCM::Fault::DeviceLost);
        audio::connect(reader, nullptr);
    }
    {
        // An output that freezes without a word is given up after a second or so.
        ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
        ScopedEnv stall_env("QUILLORY_AUDIO_STALL_AFTER_MS", "300");
        PatternReader reader(8000 * 5, 8000);
        audio::connect(reader, &player);
        ASSERT_TRUE(player.play());
        auto started = std::chrono::steady_clock::now();
        wait_finished(player);
        auto took = std::chrono::steady_clock::now() - started;
        EXPECT_GT(took, std::chrono::milliseconds(1000));
        EXPECT_LT(took, std::chrono::milliseconds(3000));
        EXPECT_EQ(player.fault(), audio::PlayerPCM::Fault::DeviceLost);
        audio::connect(reader, nullptr);
    }
}

// Serves a stream of any integer sample width and channel count: a 1 kHz tone at `level` of
// full scale in channel 0, the other channels silent.
class ToneReader : public audio::Outlet {
public:
    ToneReader(int channels, int bits, int rate, double seconds, double level)
        : m_channels(channels), m_bits(bits), m_rate(rate) {
        const size_t frames = size_t(rate * seconds);
        const int bytes = bits / 8;
        m_bytes.assign(frames * size_t(channels * bytes), 0);
        for (size_t i = 0; i < frames; ++i) {
            double value = level * std::sin(2 * M_PI * 1000.0 * double(i) / rate);
            int64_t sample = int64_t(value * double((int64_t(1) << (bits - 1)) - 1));
            uint8_t* at = m_bytes.data() + i * size_t(channels * bytes);
            for (int b = 0; b < bytes; ++b)
                at[b] = uint8_t(uint64_t(sample) >> (8 * b));
        }
    }
    void get_data(AudioBlock& out, int max_bytes) override {
        const size_t frame = size_t(m_channels * m_bits / 8);
        size_t size = std::min<size_t>(size_t(max_bytes), m_bytes.size() - m_served);
        size -= size % frame;
        out = AudioBlock{};
        if (size == 0)
            return;
        out.bytes = audio::ByteSlice::copy_of(size, m_bytes.data() + m_served);
        out.channels = m_channels;
        out.bits_per_sample = m_bits;
        out.sample_rate = m_rate;
        m_served += size;
    }

private:
    int m_channels, m_bits, m_rate;
    std::vector<uint8_t> m_bytes;
    size_t m_served = 0;
};

TEST(PlayerPCM, FormatsTheDeviceCannotTakeAreConvertedOrRefused) {
    Watchdog watchdog(60);
    TempDir dir;
    ScopedEnv audio_env("QUILLORY_AUDIO", "file");
    ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / "out.wav").string());
    ScopedEnv speed_env("QUILLORY_AUDIO_SPEED", "10");
    audio::PlayerPCM player;
    struct Case {
        int channels, bits, rate;
        int device_channels, device_rate;
    };
    for (Case c : {Case{2, 24, 48000, 2, 48000}, Case{6, 16, 44100, 2, 44100},
                   Case{1, 32, 384000, 1, 48000}, Case{4, 24, 96000, 2, 96000}}) {
        SCOPED_TRACE(std::to_string(c.channels) + " ch " + std::to_string(c.bits) + " bits " +
                     std::to_string(c.rate) + " Hz");
        EXPECT_TRUE(audio::PlayerPCM::can_play(c.channels, c.bits, c.rate));
        ToneReader reader(c.channels, c.bits, c.rate, 1.0, 0.5);
        audio::connect(reader, &player);
        ASSERT_TRUE(player.play());
        wait_finished(player);
        audio::connect(reader, nullptr);
        EXPECT_EQ(player.fault(), audio::PlayerPCM::Fault::None);
        platform::WaveFormat format;
        std::vector<uint8_t> played = read_wav((dir / "out.wav").string(), &format);
        EXPECT_EQ(format.bits_per_sample, 16);
        EXPECT_EQ(format.channels, c.device_channels);
        EXPECT_EQ(int(format.samples_per_sec), c.device_rate);
        // About a second of the tone, heard in the first output channel.
        const size_t frames = played.size() / (2u * format.channels);
        EXPECT_NEAR(double(frames), c.device_rate, c.device_rate * 0.02);
        int peak = 0;
        for (size_t i = 0; i < frames; ++i) {
            int16_t sample;
            std::memcpy(&sample, played.data() + i * 2 * format.channels, 2);
            peak = std::max(peak, std::abs(int(sample)));
        }
        EXPECT_GT(peak, 4000) << "played in silence";
    }
    for (Case c : {Case{2, 12, 8000, 0, 0}, Case{9, 16, 8000, 0, 0}, Case{1, 16, 0, 0, 0}}) {
        EXPECT_FALSE(audio::PlayerPCM::can_play(c.channels, c.bits, c.rate));
        std::filesystem::remove(dir / "out.wav");
        ToneReader reader(std::max(c.channels, 1), 16, 8000, 0.5, 0.5);
        // The reader claims a format its bytes cannot have: what matters is the refusal.
        class Relabel : public audio::Outlet {
        public:
            Relabel(audio::Outlet& from, Case c) : m_c(c) { audio::connect(from, &m_in); }
            void get_data(AudioBlock& out, int max_bytes) override {
                audio::pull(m_in, out, max_bytes);
                if (!out.empty()) {
                    out.channels = m_c.channels;
                    out.bits_per_sample = m_c.bits;
                    out.sample_rate = m_c.rate;
                }
            }
            struct In : audio::Inlet {
                void on_data(const AudioBlock&) override {}
            } m_in;
            Case m_c;
        } relabel(reader, c);
        audio::connect(relabel, &player);
        ASSERT_TRUE(player.play());
        wait_finished(player);
        audio::connect(relabel, nullptr);
        EXPECT_EQ(player.fault(), audio::PlayerPCM::Fault::Format);
        EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
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
    // A frozen output does not hold the caller for ever.
    ScopedEnv stall_env("QUILLORY_AUDIO_STALL_AFTER_MS", "100");
    started = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::play_sound_and_wait(path));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
}

} // namespace
