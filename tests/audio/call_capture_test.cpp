#include "audio/recorder_pcm.h"
#include "platform/wave_file.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <vector>

// The microphone with the call's downlink through the file devices: the downlink is a second
// device with its own thread, its own chunk size and its own start.

namespace {

using audio::AudioBlock;
using platform::WaveDownlink;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::Watchdog;

constexpr int kRate = 22050;

std::vector<int16_t> signal(size_t count, uint32_t seed) {
    std::vector<int16_t> samples(count);
    uint32_t state = seed;
    for (int16_t& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = int16_t(int32_t(state >> 16) - 32768);
    }
    return samples;
}

void write_wav(const std::string& path, const std::vector<int16_t>& samples) {
    platform::WaveFormat format;
    format.channels = 1;
    format.samples_per_sec = kRate;
    format.bits_per_sample = 16;
    format.block_align = 2;
    format.avg_bytes_per_sec = kRate * 2;
    platform::WaveFileWriter writer;
    ASSERT_TRUE(writer.create(path, format));
    ASSERT_TRUE(writer.write(reinterpret_cast<const uint8_t*>(samples.data()), samples.size() * 2));
}

class Sink : public audio::Inlet {
public:
    void on_data(const AudioBlock& block) override {
        const size_t at = samples.size();
        samples.resize(at + block.size() / 2);
        std::memcpy(samples.data() + at, block.bytes.data(), block.size() / 2 * 2);
    }
    size_t received() const {
        std::lock_guard guard(lock());
        return samples.size();
    }
    std::vector<int16_t> samples;
};

// Sample n of the expected recording: the microphone with the downlink `offset` samples late,
// summed and clipped; each is silent beyond its file.
int16_t expected(const std::vector<int16_t>& mic, const std::vector<int16_t>& downlink, long offset,
                 size_t n) {
    const int32_t a = n < mic.size() ? mic[n] : 0;
    const long j = long(n) - offset;
    const int32_t b = j >= 0 && j < long(downlink.size()) ? downlink[size_t(j)] : 0;
    return int16_t(std::clamp(a + b, -32768, 32767));
}

bool mixed_at(const std::vector<int16_t>& out, const std::vector<int16_t>& mic,
              const std::vector<int16_t>& downlink, long offset, size_t from, size_t to) {
    for (size_t n = from; n < to; ++n)
        if (out[n] != expected(mic, downlink, offset, n))
            return false;
    return true;
}

std::optional<long> offset_of(const std::vector<int16_t>& out, const std::vector<int16_t>& mic,
                              const std::vector<int16_t>& downlink, size_t from, size_t to) {
    // First at a stretch in the middle, where the downlink is heard.
    const size_t middle = from + (to - from) / 2;
    for (long offset = -2 * kRate; offset <= 2 * kRate; ++offset)
        if (mixed_at(out, mic, downlink, offset, middle, std::min(to, middle + 64)) &&
            mixed_at(out, mic, downlink, offset, from, to))
            return offset;
    return std::nullopt;
}

struct Files {
    TempDir dir;
    std::vector<int16_t> mic = signal(kRate * 3, 11);
    std::vector<int16_t> downlink = signal(kRate * 2, 12);
    ScopedEnv audio{"QUILLORY_AUDIO", "file"};
    ScopedEnv speed{"QUILLORY_AUDIO_SPEED", "2"};
    ScopedEnv in{"QUILLORY_AUDIO_IN", (dir / "mic.wav").string()};
    Files() {
        write_wav((dir / "mic.wav").string(), mic);
        write_wav((dir / "downlink.wav").string(), downlink);
    }
    std::string downlink_path() const { return (dir / "downlink.wav").string(); }
};

// Records until the sink holds `samples`, then deletes the recorder.
void record(audio::RecorderPCM& recorder, Sink& sink, size_t samples) {
    audio::connect(recorder, &sink);
    ASSERT_TRUE(recorder.start());
    while (sink.received() < samples)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST(CallCapture, DownlinkStartingLaterInOtherChunksIsMixedSampleExactlyWithinABlock) {
    Watchdog watchdog(90);
    Files files;
    ScopedEnv monitor("QUILLORY_AUDIO_IN_MONITOR", files.downlink_path());
    ScopedEnv delay("QUILLORY_AUDIO_MONITOR_DELAY_MS", "370");
    Sink sink;
    {
        audio::RecorderPCM recorder(1, kRate, 16, platform::WAVE_CALL_MAPPER);
        EXPECT_EQ(recorder.downlink(), WaveDownlink::Mixed);
        record(recorder, sink, files.mic.size() + kRate / 2);
        EXPECT_EQ(recorder.downlink(), WaveDownlink::Mixed);
        EXPECT_FALSE(recorder.device_lost());
    }
    std::lock_guard guard(sink.lock());
    const auto offset = offset_of(sink.samples, files.mic, files.downlink, 0, sink.samples.size());
    ASSERT_TRUE(offset.has_value()) << "the exact clipped sum, one offset throughout";
    RecordProperty("downlink_offset_samples", int(*offset));
    // One 200 ms capture block.
    EXPECT_LE(std::abs(*offset - long(kRate) * 370 / 1000), kRate / 5) << *offset;
}

TEST(CallCapture, DownlinkThatGoesAwayMidCallLeavesTheMicrophoneRecording) {
    Watchdog watchdog(90);
    Files files;
    ScopedEnv monitor("QUILLORY_AUDIO_IN_MONITOR", files.downlink_path());
    ScopedEnv remove("QUILLORY_AUDIO_MONITOR_REMOVE_AFTER_MS", "900");
    Sink sink;
    {
        audio::RecorderPCM recorder(1, kRate, 16, platform::WAVE_CALL_MAPPER);
        record(recorder, sink, files.mic.size() + kRate / 2);
        EXPECT_EQ(recorder.downlink(), WaveDownlink::Lost);
        EXPECT_FALSE(recorder.device_lost()) << "the recording goes on";
    }
    std::lock_guard guard(sink.lock());
    ASSERT_GE(sink.samples.size(), files.mic.size());
    // Both start together: what the downlink brings before the microphone's first chunk has
    // nothing to line up with, so the check starts a little later.
    const auto before =
        offset_of(sink.samples, files.mic, files.downlink, kRate * 3 / 10, kRate * 7 / 10);
    ASSERT_TRUE(before.has_value()) << "mixed while the downlink was there";
    const std::vector<int16_t> none;
    EXPECT_TRUE(mixed_at(sink.samples, files.mic, none, 0, kRate * 3 / 2, sink.samples.size()))
        << "the microphone alone, every sample, after it went away";
}

TEST(CallCapture, WithoutAMonitorOrOutsideCallsTheMicrophoneAloneIsRecorded) {
    Watchdog watchdog(90);
    Files files;
    const std::vector<int16_t> none;
    {
        // A call, but no monitor to be had.
        Sink sink;
        audio::RecorderPCM recorder(1, kRate, 16, platform::WAVE_CALL_MAPPER);
        EXPECT_EQ(recorder.downlink(), WaveDownlink::Unavailable);
        record(recorder, sink, kRate);
        std::lock_guard guard(sink.lock());
        EXPECT_TRUE(mixed_at(sink.samples, files.mic, none, 0, 0, sink.samples.size()));
    }
    {
        // A monitor, but no call.
        ScopedEnv monitor("QUILLORY_AUDIO_IN_MONITOR", files.downlink_path());
        Sink sink;
        audio::RecorderPCM recorder(1, kRate, 16);
        EXPECT_EQ(recorder.downlink(), WaveDownlink::None);
        record(recorder, sink, kRate);
        std::lock_guard guard(sink.lock());
        EXPECT_TRUE(mixed_at(sink.samples, files.mic, none, 0, 0, sink.samples.size()));
    }
}

} // namespace
