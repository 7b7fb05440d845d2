// Recordings through a PipeWire server of their own: a null sink whose monitor is the default
// source stands for the microphone, another null sink for the other side of a call.

#include "audio/recorder_pcm.h"
#include "device_support.h"
#include "support/sound_server.h"

#include <algorithm>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
// SDL's PulseAudio backend leaves a few small blocks from libpulse behind when the audio
// subsystem ends; nothing on our side holds them.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpulse.so\n";
}
#endif

namespace {

using namespace audio_test;
using platform::WaveDownlink;

constexpr int kRate = 22050;

class SoundServers : public ::testing::Test {
protected:
    // Starts PipeWire with the sinks "qvmic" and "qvcall" and makes this process its client.
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "libpipewire, libpulse and SDL are not built for ThreadSanitizer";
#endif
        const auto kind = SoundServer::Kind::PipeWire;
        QV_SKIP_IF_MISSING(SoundServer::missing_tool(kind));
        server = std::make_unique<SoundServer>(kind, "qvmic", "qvcall");
        QV_SKIP_IF_MISSING(server->ready() ? "" : "a sound server that starts: " + server->why());
        for (const auto& [name, value] : server->client_environment())
            client.push_back(std::make_unique<ScopedEnv>(name.c_str(), value));
    }
    // Plays tones into a sink, ended with the test.
    void play(const std::string& name, const std::vector<double>& hz, double seconds,
              const std::string& sink) {
        const std::string path = server->folder() + "/" + name;
        write_wav(path, tones(hz, seconds, kRate), kRate);
        players.push_back(server->play(path, sink));
    }
    static void wait_for(const SampleSink& sink, size_t samples, int seconds) {
        testing_support::wait_for([&] { return sink.received() >= samples; }, seconds * 1000);
    }
    void TearDown() override {
        for (pid_t player : players)
            end(player);
        client.clear();
        server.reset();
    }

    Watchdog watchdog{120};
    std::unique_ptr<SoundServer> server;
    std::vector<std::unique_ptr<ScopedEnv>> client;
    std::vector<pid_t> players;
    ScopedEnv audio_env{"QUILLORY_AUDIO", "sdl"};
};

std::vector<int16_t> last_second(const SampleSink& sink) {
    std::lock_guard guard(sink.lock());
    if (sink.samples.size() < size_t(kRate))
        return {};
    return std::vector<int16_t>(sink.samples.end() - kRate, sink.samples.end());
}

// Through the server's library, and through SDL as where that library is not used (asked for
// its pipewire driver, which cannot keep up under load on its own).
TEST_F(SoundServers, PipeWireRecordingUnderLoadKeepsEverySecondOfATonePlayed) {
    const std::vector<double> tones = {500, 700, 900, 1100, 1300, 1500};
    ScopedEnv driver("SDL_AUDIODRIVER", "pipewire");
    for (const char* capture : {"", "sdl"}) {
        SCOPED_TRACE(capture);
        ScopedEnv capture_env("QUILLORY_AUDIO_CAPTURE", capture);
        SampleSink sink;
        double lost = -1;
        {
            std::vector<std::unique_ptr<Process>> load; // busy loops, as on a loaded machine
            for (int i = 0; i < 4; ++i)
                load.push_back(std::make_unique<Process>(
                    std::vector<std::string>{"sh", "-c", "while :; do :; done"}));
            audio::RecorderPCM recorder(1, kRate, 16);
            record(recorder, sink, 1);
            play("tones.wav", tones, 1.0, "qvmic");
            wait_for(sink, size_t(kRate) * (tones.size() + 2), 30);
            lost = recorder.lost_seconds();
        }
        EXPECT_EQ(lost, 0.0);
        std::lock_guard guard(sink.lock());
        // Which tone each 50 ms holds.
        const size_t window = kRate / 20;
        std::vector<int> count(tones.size(), 0);
        long first = -1, last = -1;
        for (size_t at = 0; at + window <= sink.samples.size(); at += window) {
            const std::vector<int16_t> part(sink.samples.begin() + long(at),
                                            sink.samples.begin() + long(at + window));
            std::vector<double> heard;
            for (double hz : tones)
                heard.push_back(tone_amplitude(part, hz, kRate));
            const size_t best =
                size_t(std::max_element(heard.begin(), heard.end()) - heard.begin());
            if (heard[best] < 0.1)
                continue;
            ++count[best];
            if (best == 0 && first < 0)
                first = long(at / window);
            if (best == tones.size() - 1)
                last = long(at / window);
        }
        // Every second of every tone (a player slowed by the load may add silence between).
        for (size_t i = 0; i < tones.size(); ++i)
            EXPECT_GE(count[i], 19) << tones[i] << " Hz";
        ASSERT_GE(first, 0);
        ASSERT_GE(last, first);
        EXPECT_GE(last - first + 1, long(tones.size() * 20) - 1);
    }
}

TEST_F(SoundServers, PipeWireCallDownlinkIsFoundWithEitherDriverAndStreamsAreNamed) {
    play("speaker.wav", {440}, 20, "qvmic");
    play("party.wav", {1500}, 20, "qvcall");
    for (const char* name : {"pipewire", "pulseaudio"}) {
        SCOPED_TRACE(name);
        ScopedEnv driver("SDL_AUDIODRIVER", name);
        SampleSink sink;
        std::string streams;
        {
            audio::RecorderPCM recorder(1, kRate, 16, platform::WAVE_CALL_MAPPER);
            record(recorder, sink, size_t(kRate) / 2);
            EXPECT_EQ(recorder.downlink(), WaveDownlink::Mixed);
            server->pactl("list source-outputs", &streams);
            wait_for(sink, size_t(kRate) * 2, 20);
        }
        const auto last = last_second(sink);
        ASSERT_FALSE(last.empty());
        EXPECT_NEAR(tone_amplitude(last, 440, kRate), 0.244, 0.03);
        EXPECT_NEAR(tone_amplitude(last, 1500, kRate), 0.244, 0.03);
        for (const char* property :
             {"application.name = \"Quillory Vozir\"", "media.name = \"Recording\"",
              "media.name = \"Call downlink\"", "media.role = \"production\""})
            EXPECT_NE(streams.find(property), std::string::npos) << property << "\n" << streams;
    }
}

} // namespace
