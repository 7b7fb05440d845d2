// The recorder and the player through the file and null devices: everything in order, nothing
// lost, nothing made up, and every fault of the device reported.

#include "audio/player_pcm.h"
#include "device_support.h"
#include "foundation/text.h"
#include "platform/sound_player.h"

#include <array>
#include <cmath>
#include <mutex>

namespace {

using namespace audio_test;
using audio::AudioBlock;
using audio::PlayerPCM;
using audio::RecorderPCM;

// Sample i of a test signal: never silent, distinct over long stretches.
int16_t pattern(size_t i) {
    return int16_t(int32_t((i * 7919u) % 60000u) - 30000 + (i % 7 == 0 ? 1 : 0) + 1);
}

std::vector<int16_t> pattern_samples(size_t count) {
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] = pattern(i);
    return samples;
}

// Keeps what the recorder hands on; if asked, slow now and then, so that buffers pile up.
class Sink : public SampleSink {
public:
    void on_data(const AudioBlock& block) override {
        if (slow && blocks % 5 == 1)
            sleep_ms(50);
        largest = std::max(largest, block.size());
        formats_ok = formats_ok && block.channels == 1 && block.bits_per_sample == 16;
        SampleSink::on_data(block);
    }
    size_t largest{0};
    bool formats_ok{true};
    bool slow{false};
};

class Recorder : public FileDevices {
protected:
    Sink sink;
};

TEST_F(Recorder, CapturesTheInputFileInOrderWithNothingLost) {
    const auto in = pattern_samples(44100 * 3);
    input(in, 44100);
    sink.slow = true;
    {
        RecorderPCM recorder(1, 44100, 16);
        EXPECT_EQ(recorder.bit_rate(), 705600);
        record(recorder, sink, in.size() + 8820);
        EXPECT_TRUE(recorder.is_valid());
    }
    std::lock_guard guard(sink.lock());
    EXPECT_TRUE(sink.formats_ok);
    EXPECT_LE(sink.largest, 17640u) << "200 ms at most";
    ASSERT_GE(sink.samples.size(), in.size());
    EXPECT_TRUE(std::equal(in.begin(), in.end(), sink.samples.begin()));
    // After the file, silence.
    EXPECT_TRUE(std::all_of(sink.samples.begin() + long(in.size()), sink.samples.end(),
                            [](int16_t s) { return s == 0; }));
}

TEST_F(Recorder, AudioTheDeviceDropsIsCountedAndTheRestKeptInOrder) {
    const auto in = pattern_samples(44100 * 3);
    input(in, 44100);
    // Malformed entries are passed over; the stretch not said is found from the device's clock.
    env("QUILLORY_AUDIO_DROP_MS", "500:300,x:5,1500:120,:,900,2200:100:unsaid");
    double lost = 0;
    {
        RecorderPCM recorder(1, 44100, 16);
        record(recorder, sink, in.size());
        wait_for([&] { return recorder.lost_seconds() >= 0.52; }, 3000);
        lost = recorder.lost_seconds();
    }
    EXPECT_DOUBLE_EQ(lost, (13230 + 5292 + 4410) / 44100.0);
    // What arrived is the input with stretches of exactly that length left out.
    std::lock_guard guard(sink.lock());
    std::vector<size_t> gaps;
    size_t from = 0; // input sample of the next output sample
    for (size_t at = 0; at + 1 < sink.samples.size() && from < in.size(); ++at, ++from) {
        if (sink.samples[at] == pattern(from))
            continue;
        size_t skipped = 1;
        while (from + skipped < in.size() && pattern(from + skipped) != sink.samples[at])
            ++skipped;
        gaps.push_back(skipped);
        from += skipped;
    }
    EXPECT_EQ(gaps, (std::vector<size_t>{13230, 5292, 4410}));
}

TEST_F(Recorder, StoppingHandsOnEverythingCapturedUpToTheStop) {
    const auto in = pattern_samples(44100 * 4);
    input(in, 44100, 1, 5);
    env("QUILLORY_AUDIO_CAPTURED", (dir / "captured.wav").string());
    // Stops inside a 200 ms buffer, with buffers done and not yet harvested.
    for (size_t stop_at : {size_t(8820 * 2 + 1500), size_t(8820 * 5 + 6000)}) {
        std::filesystem::remove(dir / "captured.wav");
        auto captured_size = [&] {
            std::error_code error;
            auto size = std::filesystem::file_size(dir / "captured.wav", error);
            return error ? 0 : size;
        };
        Sink sink;
        {
            RecorderPCM recorder(1, 44100, 16);
            audio::connect(recorder, &sink);
            ASSERT_TRUE(recorder.start());
            while (captured_size() < 44 + 2 * stop_at)
                sleep_ms(1);
        }
        const auto captured = read_wav(dir / "captured.wav");
        std::lock_guard guard(sink.lock());
        ASSERT_GE(captured.size(), stop_at);
        EXPECT_EQ(sink.samples.size(), captured.size()) << "captured but not handed on";
        EXPECT_TRUE(std::equal(captured.begin(), captured.end(), in.begin()));
        EXPECT_TRUE(std::equal(sink.samples.begin(), sink.samples.end(), in.begin()));
    }
}

TEST_F(Recorder, PauseStopsCaptureAndSecondPauseIsTrue) {
    env("QUILLORY_AUDIO", "null");
    RecorderPCM recorder(1, 44100, 16);
    record(recorder, sink, 1);
    EXPECT_FALSE(recorder.is_paused());
    EXPECT_TRUE(recorder.pause());
    EXPECT_TRUE(recorder.is_paused());
    EXPECT_TRUE(recorder.pause());
    sleep_ms(150);
    const size_t after_pause = sink.received();
    sleep_ms(400);
    EXPECT_EQ(sink.received(), after_pause);
}

TEST_F(Recorder, DeviceThatGoesAwayOrFallsSilentIsReported) {
    env("QUILLORY_AUDIO", "null");
    for (const char* which : {"QUILLORY_AUDIO_REMOVE_AFTER_MS", "QUILLORY_AUDIO_STALL_AFTER_MS"}) {
        ScopedEnv switch_env(which, "500");
        Sink sink;
        RecorderPCM recorder(1, 22050, 16);
        audio::connect(recorder, &sink);
        ASSERT_TRUE(recorder.start());
        auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(wait_for([&] { return recorder.device_lost(); }));
        auto took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took, std::chrono::milliseconds(450)) << which;
        // A stall is noticed after a second of nothing; a removal at once.
        EXPECT_LT(took, std::chrono::milliseconds(which[15] == 'R' ? 1200 : 3000)) << which;
        std::lock_guard guard(sink.lock());
        EXPECT_GE(sink.samples.size(), 4410u) << "what came before is kept";
        EXPECT_LE(sink.samples.size(), 11025u) << "nothing is made up after";
    }
}

TEST_F(Recorder, CaptureSlowToDeliverItsFirstAudioIsNotLost) {
    env("QUILLORY_AUDIO", "null");
    env("QUILLORY_AUDIO_CAPTURE_START_AFTER_MS", "2500");
    RecorderPCM recorder(1, 22050, 16);
    record(recorder, sink, 8820);
    EXPECT_FALSE(recorder.device_lost());
}

// Serves bytes in blocks of uneven size, claiming their own format or the one given.
class BlockReader : public audio::Outlet {
public:
    BlockReader(std::vector<uint8_t> bytes, int channels, int bits, int rate,
                std::array<int, 3> claimed = {})
        : m_bytes(std::move(bytes)),
          m_frame(size_t(channels * bits / 8)), m_claimed{claimed[0] ? claimed[0] : channels,
                                                          claimed[0] ? claimed[1] : bits,
                                                          claimed[0] ? claimed[2] : rate} {}
    void get_data(AudioBlock& out, int max_bytes) override {
        std::lock_guard guard(m_mutex);
        size_t size =
            std::min<size_t>({size_t(max_bytes), (1500 + (m_calls++ % 5) * 1111) * m_frame,
                              m_bytes.size() - m_served});
        size -= size % m_frame;
        out = AudioBlock{};
        if (size == 0)
            return;
        out = byte_block(m_bytes.data() + m_served, size, m_claimed[0], m_claimed[1], m_claimed[2]);
        m_served += size;
    }
    size_t served() const {
        std::lock_guard guard(m_mutex);
        return m_served / m_frame;
    }

private:
    const std::vector<uint8_t> m_bytes;
    const size_t m_frame;
    const int m_claimed[3];
    mutable std::mutex m_mutex;
    size_t m_served = 0;
    size_t m_calls = 0;
};

struct PatternReader : BlockReader {
    PatternReader(size_t count, int rate) : PatternReader(pattern_samples(count), rate) {}
    PatternReader(std::vector<int16_t> s, int rate)
        : BlockReader({reinterpret_cast<uint8_t*>(s.data()),
                       reinterpret_cast<uint8_t*>(s.data() + s.size())},
                      1, 16, rate),
          samples(std::move(s)) {}
    const std::vector<int16_t> samples;
};

class Player : public FileDevices {
protected:
    void wait_finished() {
        ASSERT_TRUE(wait_for([&] { return player.is_finished(); }, 60000));
    }
    void play(audio::Outlet& reader) {
        audio::connect(reader, &player);
        ASSERT_TRUE(player.play());
        wait_finished();
        audio::connect(reader, nullptr);
    }
    PlayerPCM player;
};

TEST_F(Player, PlaysEverythingOnceAcrossPauseAndResumeAtItsVolume) {
    env("QUILLORY_AUDIO_SPEED", "4");
    player.set_volume(0.5);
    EXPECT_TRUE(player.is_finished());
    PatternReader reader(22050 * 4, 22050);
    audio::connect(reader, &player);
    ASSERT_TRUE(player.play());
    EXPECT_FALSE(player.is_finished());
    ASSERT_TRUE(wait_for([&] { return reader.served() >= reader.samples.size() * 2 / 3; }));
    ASSERT_TRUE(player.pause());
    sleep_ms(100);
    const size_t served_while_paused = reader.served();
    sleep_ms(300);
    EXPECT_EQ(reader.served(), served_while_paused);
    EXPECT_FALSE(player.is_finished());
    EXPECT_GT(player.level(0), 0.2);
    EXPECT_DOUBLE_EQ(player.level(0), player.level(1));
    ASSERT_TRUE(player.play());
    wait_finished();
    EXPECT_EQ(player.level(0), 0.0);
    audio::connect(reader, nullptr);

    platform::WaveFormat format;
    const auto played = output(&format);
    EXPECT_EQ(format.samples_per_sec, 22050u);
    EXPECT_EQ(format.channels, 1);
    ASSERT_EQ(played.size(), reader.samples.size());
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_NEAR(played[i], reader.samples[i] / 2, 1) << i;
}

TEST_F(Player, EmptyReaderOpensNoDeviceStopEndsPlaybackAndANewPlayStartsAfresh) {
    env("QUILLORY_AUDIO_SPEED", "2");
    PatternReader empty(0, 8000);
    play(empty);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
    {
        PatternReader reader(44100 * 10, 44100);
        audio::connect(reader, &player);
        player.play();
        ASSERT_TRUE(wait_for([&] { return reader.served() > 0; }));
        player.stop();
        EXPECT_TRUE(player.is_finished());
        audio::connect(reader, nullptr);
        EXPECT_LT(reader.served(), reader.samples.size());
    }
    // Shorter than the device's buffers, and of an odd length: finished means heard, the device
    // closed with its own buffer drained.
    PatternReader second(8000 * 7 / 10 + 3, 8000);
    play(second);
    EXPECT_EQ(player.fault(), PlayerPCM::Fault::None);
    platform::WaveFormat format;
    EXPECT_EQ(output(&format), second.samples);
    EXPECT_EQ(format.samples_per_sec, 8000u);
}

TEST_F(Player, StopSilencesThePlaybackAlsoWhileItDrains) {
    // One second fits the device's buffers whole: the player only drains.
    PatternReader reader(8000, 8000);
    audio::connect(reader, &player);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(wait_for([&] { return reader.served() == reader.samples.size(); }));
    sleep_ms(150);
    ASSERT_TRUE(player.stop());
    EXPECT_TRUE(player.is_finished());
    // The device closes at once; its file is then complete and grows no more.
    std::vector<int16_t> played;
    wait_for([&] { return !(played = output()).empty(); }, 1000);
    sleep_ms(500);
    EXPECT_EQ(output(), played);
    EXPECT_LT(played.size(), reader.samples.size() / 2) << "the rest was still heard";
    EXPECT_TRUE(std::equal(played.begin(), played.end(), reader.samples.begin()));
    audio::connect(reader, nullptr);
}

TEST_F(Player, OutputThatGoesAwayOrCannotOpenEndsWithAFault) {
    struct Case {
        const char* what;
        const char* output; // in the test's folder
        const char* switch_name;
        int min_ms, max_ms;
        PlayerPCM::Fault fault;
    } cases[] = {
        {"no such folder", "missing/out.wav", "QUILLORY_AUDIO_NONE", 0, 2000,
         PlayerPCM::Fault::NoDevice},
        {"removed", "out.wav", "QUILLORY_AUDIO_REMOVE_AFTER_MS", 0, 2000,
         PlayerPCM::Fault::DeviceLost},
        // An output that freezes without a word is given up after a second or so.
        {"stalled", "out.wav", "QUILLORY_AUDIO_STALL_AFTER_MS", 1000, 3000,
         PlayerPCM::Fault::DeviceLost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv out_env("QUILLORY_AUDIO_OUT", (dir / c.output).string());
        ScopedEnv switch_env(c.switch_name, "300");
        PatternReader reader(8000 * 5, 8000);
        const auto started = std::chrono::steady_clock::now();
        play(reader);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took, std::chrono::milliseconds(c.min_ms));
        EXPECT_LT(took, std::chrono::milliseconds(c.max_ms));
        EXPECT_EQ(player.fault(), c.fault);
    }
}

// A second of a 1 kHz tone at half of full scale in channel 0, the other channels silent.
std::vector<uint8_t> tone_bytes(int channels, int bits, int rate) {
    const size_t frame = size_t(channels * bits / 8);
    std::vector<uint8_t> bytes(size_t(rate) * frame, 0);
    for (size_t i = 0; i < size_t(rate); ++i) {
        const double value = 0.5 * std::sin(2 * M_PI * 1000.0 * double(i) / rate);
        const int64_t sample = int64_t(value * double((int64_t(1) << (bits - 1)) - 1));
        for (int b = 0; b < bits / 8; ++b)
            bytes[i * frame + size_t(b)] = uint8_t(uint64_t(sample) >> (8 * b));
    }
    return bytes;
}

TEST_F(Player, FormatsTheDeviceCannotTakeAreConvertedOrRefused) {
    env("QUILLORY_AUDIO_SPEED", "10");
    struct Case {
        int channels, bits, rate;
        int device_channels, device_rate;
    };
    for (Case c : {Case{2, 24, 48000, 2, 48000}, Case{6, 16, 44100, 2, 44100},
                   Case{1, 32, 384000, 1, 48000}, Case{4, 24, 96000, 2, 96000}}) {
        SCOPED_TRACE(std::to_string(c.channels) + " ch " + std::to_string(c.bits) + " bits " +
                     std::to_string(c.rate) + " Hz");
        EXPECT_TRUE(PlayerPCM::can_play(c.channels, c.bits, c.rate));
        BlockReader reader(tone_bytes(c.channels, c.bits, c.rate), c.channels, c.bits, c.rate);
        play(reader);
        EXPECT_EQ(player.fault(), PlayerPCM::Fault::None);
        platform::WaveFormat format;
        const auto played = output(&format);
        EXPECT_EQ(format.bits_per_sample, 16);
        EXPECT_EQ(format.channels, c.device_channels);
        EXPECT_EQ(int(format.samples_per_sec), c.device_rate);
        const size_t frames = played.size() / format.channels;
        EXPECT_NEAR(double(frames), c.device_rate, c.device_rate * 0.02);
        int peak = 0;
        for (size_t i = 0; i < frames; ++i)
            peak = std::max(peak, std::abs(int(played[i * format.channels])));
        EXPECT_GT(peak, 4000) << "played in silence";
    }
    // Blocks that claim a format no device takes: what matters is the refusal.
    for (Case c : {Case{2, 12, 8000, 0, 0}, Case{9, 16, 8000, 0, 0}, Case{1, 16, 0, 0, 0}}) {
        EXPECT_FALSE(PlayerPCM::can_play(c.channels, c.bits, c.rate));
        std::filesystem::remove(dir / "out.wav");
        const int channels = std::max(c.channels, 1);
        BlockReader reader(tone_bytes(channels, 16, 8000), channels, 16, 8000,
                           {c.channels, c.bits, c.rate});
        play(reader);
        EXPECT_EQ(player.fault(), PlayerPCM::Fault::Format);
        EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
    }
}

TEST_F(FileDevices, PlaySoundPlaysTheWholeFileAndReturnsAfterIt) {
    const auto beep = pattern_samples(8000);
    write_wav(dir / "beep.wav", beep, 16000);
    auto started = std::chrono::steady_clock::now();
    const std::u16string path = foundation::from_utf8((dir / "beep.wav").string());
    ASSERT_TRUE(platform::play_sound_and_wait(path));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(480));
    EXPECT_EQ(output(), beep);
    EXPECT_FALSE(platform::play_sound_and_wait(u"/nonexistent/beep.wav"));
    // A frozen output does not hold the caller for ever.
    env("QUILLORY_AUDIO_STALL_AFTER_MS", "100");
    started = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::play_sound_and_wait(path));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
}

} // namespace
