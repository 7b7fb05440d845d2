// The microphone with the call's downlink through the file devices: the downlink is a second
// device with its own thread, its own chunk size and its own start.

#include "device_support.h"
#include "mix_check.h"

namespace {

using namespace audio_test;
using platform::WaveDownlink;

constexpr int kRate = 22050;

class CallCapture : public FileDevices {
protected:
    void SetUp() override {
        input(mic, kRate, 1, 2);
        write_wav(dir / "downlink.wav", downlink, kRate);
    }
    void monitor() { env("QUILLORY_AUDIO_IN_MONITOR", (dir / "downlink.wav").string()); }
    std::vector<int16_t> mic = signal(kRate * 3, 11);
    std::vector<int16_t> downlink = signal(kRate * 2, 12);
    SampleSink sink;
};

// Starting 370 ms late in chunks of its own, and going away 900 ms later.
TEST_F(CallCapture, DownlinkIsMixedSampleExactlyWhileThereAndTheMicrophoneRecordsOn) {
    monitor();
    env("QUILLORY_AUDIO_MONITOR_DELAY_MS", "370");
    env("QUILLORY_AUDIO_MONITOR_REMOVE_AFTER_MS", "900");
    {
        audio::RecorderPCM recorder(1, kRate, 16, platform::WAVE_CALL_MAPPER);
        EXPECT_EQ(recorder.downlink(), WaveDownlink::Mixed);
        record(recorder, sink, mic.size() + kRate / 2);
        EXPECT_EQ(recorder.downlink(), WaveDownlink::Lost);
        EXPECT_FALSE(recorder.device_lost()) << "the recording goes on";
    }
    std::lock_guard guard(sink.lock());
    ASSERT_GE(sink.samples.size(), mic.size());
    const auto offset =
        offset_of(sink.samples, mic, downlink, kRate * 3 / 10, kRate * 11 / 10, 2 * kRate);
    ASSERT_TRUE(offset.has_value()) << "the exact clipped sum while the downlink was there";
    EXPECT_LE(std::abs(*offset - long(kRate) * 370 / 1000), kRate / 5) << "within a block";
    EXPECT_TRUE(mixed_at(sink.samples, mic, {}, 0, kRate * 3 / 2, sink.samples.size()))
        << "the microphone alone, every sample, after it went away";
}

TEST_F(CallCapture, OutsideCallsTheMicrophoneAloneIsRecordedThoughAMonitorIsThere) {
    monitor();
    {
        audio::RecorderPCM recorder(1, kRate, 16, platform::WAVE_MAPPER);
        EXPECT_EQ(recorder.downlink(), WaveDownlink::None);
        record(recorder, sink, kRate);
    }
    std::lock_guard guard(sink.lock());
    EXPECT_TRUE(mixed_at(sink.samples, mic, {}, 0, 0, sink.samples.size()));
}

} // namespace
