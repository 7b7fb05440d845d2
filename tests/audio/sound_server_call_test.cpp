#include "audio/recorder_pcm.h"
#include "platform/wave_file.h"
#include "support/sound_server.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// A call recorded through a real PulseAudio server of its own. Its two null sinks stand for the
// output and, through the monitor that is made the default source, for the microphone; a 440 Hz
// tone played into the second is the speaker, a 1500 Hz tone played into the first the other
// party.

#if defined(__SANITIZE_ADDRESS__)
// SDL's PulseAudio backend leaves a few small blocks from libpulse behind when the audio
// subsystem ends; nothing on our side holds them.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpulse.so\n";
}
#endif

namespace {

using testing_support::ScopedEnv;
using testing_support::SoundServer;
using testing_support::Watchdog;

constexpr int kRate = 22050;

double amplitude(const std::vector<int16_t>& samples, double hz) {
    return testing_support::tone_amplitude(samples, hz, kRate);
}

class Sink : public audio::Inlet {
public:
    void on_data(const audio::AudioBlock& block) override {
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

// The last second of a recording of `seconds`.
std::vector<int16_t> record(uint32_t device, double seconds) {
    Sink sink;
    {
        audio::RecorderPCM recorder(1, kRate, 16, device);
        audio::connect(recorder, &sink);
        EXPECT_TRUE(recorder.start());
        EXPECT_EQ(recorder.downlink(), device == platform::WAVE_CALL_MAPPER
                                           ? platform::WaveDownlink::Mixed
                                           : platform::WaveDownlink::None);
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (sink.received() < size_t(seconds * kRate) &&
               std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard guard(sink.lock());
    if (sink.samples.size() < size_t(kRate))
        return {};
    return std::vector<int16_t>(sink.samples.end() - kRate, sink.samples.end());
}

TEST(SoundServerCall, MonitorOfTheOutputReachesTheCallRecording) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "libpulse and SDL are not built for ThreadSanitizer: their own threads would "
                    "be reported; the mixing is checked under it with the file devices";
#endif
    Watchdog watchdog(120);
    if (const std::string tool = SoundServer::missing_tool(SoundServer::Kind::PulseAudio);
        !tool.empty()) {
        if (testing_support::in_ci())
            FAIL() << tool << " is missing";
        GTEST_SKIP() << tool << " is not installed";
    }
    SoundServer server(SoundServer::Kind::PulseAudio, "qvmic", "qvcall");
    if (!server.ready())
        GTEST_SKIP() << "the PulseAudio server did not start here: " << server.why();
    const std::string dir = server.folder();
    ASSERT_TRUE(testing_support::write_tones(dir + "/speaker.wav", {440}, 10, kRate));
    ASSERT_TRUE(testing_support::write_tones(dir + "/party.wav", {1500}, 10, kRate));
    const pid_t speaker = server.play(dir + "/speaker.wav", "qvmic");
    const pid_t party = server.play(dir + "/party.wav", "qvcall");

    std::vector<int16_t> call, note;
    {
        // SDL's own capture, as where the server's library is not used.
        ScopedEnv audio_env("QUILLORY_AUDIO", "sdl");
        ScopedEnv capture_env("QUILLORY_AUDIO_CAPTURE", "sdl");
        ScopedEnv driver_env("SDL_AUDIODRIVER", "pulseaudio");
        std::vector<std::unique_ptr<ScopedEnv>> client;
        for (const auto& [name, value] : server.client_environment())
            client.push_back(std::make_unique<ScopedEnv>(name.c_str(), value));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        call = record(platform::WAVE_CALL_MAPPER, 2.0);
        note = record(platform::WAVE_MAPPER, 1.5);
    }
    testing_support::end(speaker);
    testing_support::end(party);
    ASSERT_FALSE(call.empty());
    ASSERT_FALSE(note.empty());
    // The speaker in both, the other party only in the call, each at its level (8000 / 32768).
    EXPECT_NEAR(amplitude(call, 440), 0.244, 0.03);
    EXPECT_NEAR(amplitude(call, 1500), 0.244, 0.03);
    EXPECT_NEAR(amplitude(note, 440), 0.244, 0.03);
    EXPECT_LT(amplitude(note, 1500), 0.01);
}

} // namespace
