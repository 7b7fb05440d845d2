#pragma once

// A test's own sound server on a private runtime folder: PipeWire with WirePlumber and its
// PulseAudio service on a private session bus.

#include "support/process.h"

#include <cstdint>
#include <utility>

namespace testing_support {

using Environment = std::vector<std::pair<std::string, std::string>>;

// Starts a program, its output in a fresh file, `environment` set; end() stops and reaps it.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& output,
            const Environment& environment = {});
void end(pid_t pid);

// Amplitude (0..1) of the `hz` component of 16-bit samples at `rate` (Goertzel).
double tone_amplitude(const std::vector<int16_t>& samples, double hz, int rate);
// Mono 16-bit samples of tones one after the other, each `seconds_each` long at `level`.
std::vector<int16_t> tones(const std::vector<double>& hz, double seconds_each, int rate,
                           double level = 8000);

class SoundServer {
public:
    enum class Kind { PipeWire };

    // Starts the server with a null sink `microphone` (its monitor the default source) and a
    // null sink `output` (the default output); why() says what went wrong when not ready().
    SoundServer(Kind kind, const std::string& microphone, const std::string& output);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // The first tool the kind needs that is missing; empty when all are there.
    static std::string missing_tool(Kind kind);

    bool ready() const { return m_ready; }
    const std::string& why() const { return m_why; }
    const std::string& folder() const { return m_folder; }
    // What a client of this server needs in its environment.
    const Environment& client_environment() const { return m_client; }
    // Plays a WAV file into a sink; ended with end().
    pid_t play(const std::string& wav, const std::string& sink);
    // Runs pactl against this server; whether it succeeded, what it wrote in `output`.
    bool pactl(const std::string& arguments, std::string* output = nullptr);

private:
    std::string m_folder;
    Environment m_client;
    std::vector<pid_t> m_processes; // in start order
    bool m_ready{false};
    std::string m_why;
};

} // namespace testing_support
