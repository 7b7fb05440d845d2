#include "audio/recorder_pcm.h"
#include "platform/wave_file.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
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
using testing_support::Watchdog;

constexpr int kRate = 22050;

bool on_path(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

// Starts a program with its output in a file and some variables of its own; everything is
// prepared before the fork.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& output,
            const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) {
        const std::string text = *variable;
        bool replaced = false;
        for (const auto& [name, value] : environment)
            replaced = replaced || text.rfind(name + "=", 0) == 0;
        if (!replaced)
            variables.push_back(text);
    }
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int log = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = fork();
    if (pid == 0) {
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (log >= 0)
        close(log);
    return pid;
}

void end(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// Amplitude of the `hz` component of the samples (Goertzel), 0..1.
double amplitude(const std::vector<int16_t>& samples, double hz) {
    const double w = 2 * M_PI * hz / kRate;
    double s1 = 0, s2 = 0;
    for (int16_t sample : samples) {
        const double s0 = sample / 32768.0 + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / double(samples.size());
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
    for (const char* tool : {"pulseaudio", "pactl", "paplay"}) {
        if (!on_path(tool)) {
            if (in_ci())
                FAIL() << tool << " is missing";
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    // A short folder: the server's socket path has a small limit.
    char folder[] = "/tmp/qv-pulse-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    const std::string socket = dir + "/native";
    const std::string server = "unix:" + socket;
    std::ofstream(dir + "/client.conf") << "autospawn = no\n";
    const std::vector<std::pair<std::string, std::string>> private_env = {
        {"HOME", dir},
        {"XDG_RUNTIME_DIR", dir},
        {"PULSE_RUNTIME_PATH", dir + "/run"},
        {"PULSE_STATE_PATH", dir + "/state"},
        {"PULSE_CLIENTCONFIG", dir + "/client.conf"}};
    const pid_t daemon =
        spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false",
               "--use-pid-file=no", "--disallow-exit", "--log-target=stderr", "-L",
               "module-native-protocol-unix auth-anonymous=1 socket=" + socket, "-L",
               "module-null-sink sink_name=qvcall sink_properties=device.description=Call", "-L",
               "module-null-sink sink_name=qvmic sink_properties=device.description=Mic"},
              dir + "/server.log", private_env);
    ASSERT_GT(daemon, 0);
    const std::string pactl =
        "PULSE_CLIENTCONFIG=" + dir + "/client.conf pactl --server=" + server + " ";
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        up = std::system((pactl + "info >/dev/null 2>&1").c_str()) == 0;
    }
    if (!up) {
        end(daemon);
        std::ifstream log(dir + "/server.log");
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        std::system(("rm -rf " + dir).c_str());
        GTEST_SKIP() << "the PulseAudio server did not start here:\n" << text;
    }
    ASSERT_EQ(std::system((pactl + "set-default-source qvmic.monitor").c_str()), 0);
    ASSERT_EQ(std::system((pactl + "set-default-sink qvcall").c_str()), 0);

    // Ten seconds of each tone.
    auto tone = [&](const std::string& name, double hz) {
        platform::WaveFormat format;
        format.channels = 1;
        format.samples_per_sec = kRate;
        format.bits_per_sample = 16;
        format.block_align = 2;
        format.avg_bytes_per_sec = kRate * 2;
        std::vector<int16_t> samples(size_t(kRate) * 10);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = int16_t(8000 * std::sin(2 * M_PI * hz * double(i) / kRate));
        platform::WaveFileWriter writer;
        EXPECT_TRUE(writer.create(dir + "/" + name, format));
        EXPECT_TRUE(
            writer.write(reinterpret_cast<const uint8_t*>(samples.data()), samples.size() * 2));
        return dir + "/" + name;
    };
    const pid_t speaker =
        spawn({"paplay", "--server=" + server, "--device=qvmic", tone("speaker.wav", 440)},
              dir + "/speaker.log", private_env);
    const pid_t party =
        spawn({"paplay", "--server=" + server, "--device=qvcall", tone("party.wav", 1500)},
              dir + "/party.log", private_env);

    std::vector<int16_t> call, note;
    {
        ScopedEnv audio_env("QUILLORY_AUDIO", "sdl");
        ScopedEnv driver_env("SDL_AUDIODRIVER", "pulseaudio");
        ScopedEnv server_env("PULSE_SERVER", server);
        ScopedEnv client_env("PULSE_CLIENTCONFIG", dir + "/client.conf");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        call = record(platform::WAVE_CALL_MAPPER, 2.0);
        note = record(platform::WAVE_MAPPER, 1.5);
    }
    end(speaker);
    end(party);
    end(daemon);
    std::system(("rm -rf " + dir).c_str());
    ASSERT_FALSE(call.empty());
    ASSERT_FALSE(note.empty());
    // The speaker in both, the other party only in the call, each at its level (8000 / 32768).
    EXPECT_NEAR(amplitude(call, 440), 0.244, 0.03);
    EXPECT_NEAR(amplitude(call, 1500), 0.244, 0.03);
    EXPECT_NEAR(amplitude(note, 440), 0.244, 0.03);
    EXPECT_LT(amplitude(note, 1500), 0.01);
}

} // namespace
