#include "audio/recorder_pcm.h"
#include "support/sound_server.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Recordings through a real PipeWire server of their own (with WirePlumber and its PulseAudio
// service): a null sink whose monitor is the default source stands for the microphone, another
// null sink is the default output, the other side of a call.

namespace {

using testing_support::ScopedEnv;
using testing_support::SoundServer;
using testing_support::Watchdog;

constexpr int kRate = 22050;

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

class PipeWireCapture : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "libpipewire, libpulse and SDL are not built for ThreadSanitizer: their "
                        "own threads would be reported; capture is checked under it with the "
                        "file devices";
#endif
        if (const std::string tool = SoundServer::missing_tool(SoundServer::Kind::PipeWire);
            !tool.empty()) {
            if (testing_support::in_ci())
                FAIL() << tool << " is missing";
            GTEST_SKIP() << tool << " is not installed";
        }
        m_server = std::make_unique<SoundServer>(SoundServer::Kind::PipeWire, "qvmic", "qvcall");
        if (!m_server->ready()) {
            if (testing_support::in_ci())
                FAIL() << "the PipeWire server did not start: " << m_server->why();
            GTEST_SKIP() << "the PipeWire server did not start here: " << m_server->why();
        }
        for (const auto& [name, value] : m_server->client_environment())
            m_client.push_back(std::make_unique<ScopedEnv>(name.c_str(), value));
    }
    void TearDown() override {
        m_client.clear();
        m_server.reset();
    }

    std::string file(const std::string& name) const {
        return m_server->folder() + "/" + name;
    }

    std::unique_ptr<SoundServer> m_server;
    std::vector<std::unique_ptr<ScopedEnv>> m_client;
    ScopedEnv m_audio{"QUILLORY_AUDIO", "sdl"};
};

// Busy loops on every core, as many as the test machine's other work would make.
class Load {
public:
    explicit Load(int loops) {
        for (int i = 0; i < loops; ++i)
            m_loops.push_back(
                testing_support::spawn({"sh", "-c", "while :; do :; done"}, "/dev/null"));
    }
    ~Load() {
        for (pid_t loop : m_loops)
            testing_support::end(loop);
    }

private:
    std::vector<pid_t> m_loops;
};

TEST_F(PipeWireCapture, RecordingUnderLoadKeepsEverySecondOfATonePlayed) {
    Watchdog watchdog(90);
    const std::vector<double> tones = {500, 700, 900, 1100, 1300, 1500};
    ASSERT_TRUE(testing_support::write_tones(file("tones.wav"), tones, 1.0, kRate));
    ScopedEnv driver("SDL_AUDIODRIVER", "pipewire");
    Sink sink;
    double lost = -1;
    {
        Load load(4);
        audio::RecorderPCM recorder(1, kRate, 16);
        audio::connect(recorder, &sink);
        ASSERT_TRUE(recorder.start());
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (sink.received() == 0 && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const pid_t player = m_server->play(file("tones.wav"), "qvmic");
        // The tones, and a second after them.
        while (sink.received() < size_t(kRate) * (tones.size() + 2) &&
               std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        testing_support::end(player);
        lost = recorder.lost_seconds();
    }
    EXPECT_EQ(lost, 0.0);
    std::lock_guard guard(sink.lock());
    // Which tone each 50 ms of the recording holds.
    const size_t window = kRate / 20;
    std::vector<int> count(tones.size(), 0);
    long first = -1, last = -1;
    for (size_t at = 0; at + window <= sink.samples.size(); at += window) {
        const std::vector<int16_t> part(sink.samples.begin() + long(at),
                                        sink.samples.begin() + long(at + window));
        size_t best = 0;
        double best_amplitude = 0;
        for (size_t i = 0; i < tones.size(); ++i) {
            const double amplitude = testing_support::tone_amplitude(part, tones[i], kRate);
            if (amplitude > best_amplitude) {
                best_amplitude = amplitude;
                best = i;
            }
        }
        if (best_amplitude < 0.1)
            continue;
        ++count[best];
        if (best == 0 && first < 0)
            first = long(at / window);
        if (best == tones.size() - 1)
            last = long(at / window);
    }
    // Every second of every tone is there: a player slowed by the load may add silence between
    // them, but nothing of them is missing.
    for (size_t i = 0; i < tones.size(); ++i)
        EXPECT_GE(count[i], 19) << tones[i] << " Hz";
    ASSERT_GE(first, 0);
    ASSERT_GE(last, first);
    EXPECT_GE(last - first + 1, long(tones.size() * 20) - 1);
}

TEST_F(PipeWireCapture, CallDownlinkIsFoundWithEitherDriverAndStreamsAreNamed) {
    Watchdog watchdog(90);
    ASSERT_TRUE(testing_support::write_tones(file("speaker.wav"), {440}, 20, kRate));
    ASSERT_TRUE(testing_support::write_tones(file("party.wav"), {1500}, 20, kRate));
    const pid_t speaker = m_server->play(file("speaker.wav"), "qvmic");
    const pid_t party = m_server->play(file("party.wav"), "qvcall");
    for (const char* name : {"pipewire", "pulseaudio"}) {
        SCOPED_TRACE(name);
        ScopedEnv driver("SDL_AUDIODRIVER", name);
        Sink sink;
        std::string streams;
        {
            audio::RecorderPCM recorder(1, kRate, 16, platform::WAVE_CALL_MAPPER);
            audio::connect(recorder, &sink);
            ASSERT_TRUE(recorder.start());
            EXPECT_EQ(recorder.downlink(), platform::WaveDownlink::Mixed);
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (sink.received() < size_t(kRate) / 2 &&
                   std::chrono::steady_clock::now() < give_up)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            // How the server shows the two streams while they run.
            m_server->pactl("list source-outputs", &streams);
            while (sink.received() < size_t(kRate) * 2 &&
                   std::chrono::steady_clock::now() < give_up)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::lock_guard guard(sink.lock());
        ASSERT_GE(sink.samples.size(), size_t(kRate));
        const std::vector<int16_t> last(sink.samples.end() - kRate, sink.samples.end());
        EXPECT_NEAR(testing_support::tone_amplitude(last, 440, kRate), 0.244, 0.03);
        EXPECT_NEAR(testing_support::tone_amplitude(last, 1500, kRate), 0.244, 0.03);
        EXPECT_NE(streams.find("application.name = \"Quillory Vozir\""), std::string::npos)
            << streams;
        EXPECT_NE(streams.find("media.name = \"Recording\""), std::string::npos) << streams;
        EXPECT_NE(streams.find("media.name = \"Call downlink\""), std::string::npos) << streams;
        EXPECT_NE(streams.find("media.role = \"production\""), std::string::npos) << streams;
    }
    testing_support::end(speaker);
    testing_support::end(party);
}

} // namespace
