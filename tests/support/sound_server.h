#pragma once

// Real sound servers of a test's own, on a private runtime folder: PulseAudio, or PipeWire with
// WirePlumber and its PulseAudio service on a private session bus. Each gets null sinks named by
// the test; the monitor of one is made the default source (the "microphone"), another the
// default output. Nothing here touches the machine's own servers or buses.

#include "support/process.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace testing_support {

using Environment = std::vector<std::pair<std::string, std::string>>;

// Starts a program with its output in a file and the variables of `environment` set or
// replaced; everything is prepared before the fork. 0 or less when it cannot be started.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& output,
            const Environment& environment = {});
// SIGTERM and reaping.
void end(pid_t pid);

// Amplitude (0..1) of the `hz` component of 16-bit samples at `rate` (Goertzel).
double tone_amplitude(const std::vector<int16_t>& samples, double hz, int rate);
// Mono 16-bit samples of tones one after the other, each `seconds_each` long at `level`.
std::vector<int16_t> tones(const std::vector<double>& hz, double seconds_each, int rate,
                           double level = 8000);

class SoundServer {
public:
    enum class Kind { PulseAudio, PipeWire };

    // Starts the server with a null sink `microphone` (its monitor the default source) and a
    // null sink `output` (the default output). ready() tells whether it came up; why() says
    // what went wrong when not.
    SoundServer(Kind kind, const std::string& microphone, const std::string& output);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // The tools the kind needs, the first missing one; empty when all are there.
    static std::string missing_tool(Kind kind);

    bool ready() const { return m_ready; }
    const std::string& why() const { return m_why; }
    // The folder of the server's sockets and files.
    const std::string& folder() const { return m_folder; }
    // What a client of this server needs in its environment.
    const Environment& client_environment() const { return m_client; }
    // Plays a WAV file into a sink; ended with end().
    pid_t play(const std::string& wav, const std::string& sink);
    // Runs pactl against this server; true when it succeeded. `output` receives what it wrote.
    bool pactl(const std::string& arguments, std::string* output = nullptr);

private:
    bool wait_until_up();

    Kind m_kind;
    std::string m_folder;
    Environment m_client;
    std::vector<pid_t> m_processes; // in start order
    bool m_ready{false};
    std::string m_why;
};

} // namespace testing_support
