#include "support/sound_server.h"

#include "support/process.h"

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

pid_t spawn(const std::vector<std::string>& arguments, const std::string& output,
            const Environment& environment) {
    // A fresh log; never a device such as /dev/null, which root could otherwise remove.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(output, ignored))
        std::filesystem::remove(output, ignored);
    return spawn_process(arguments, EnvChanges(environment.begin(), environment.end()), output);
}

void end(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

double tone_amplitude(const std::vector<int16_t>& samples, double hz, int rate) {
    if (samples.empty())
        return 0.0;
    const double w = 2 * M_PI * hz / rate;
    double s1 = 0, s2 = 0;
    for (int16_t sample : samples) {
        const double s0 = sample / 32768.0 + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return 2 * std::sqrt(std::max(0.0, power)) / double(samples.size());
}

std::vector<int16_t> tones(const std::vector<double>& hz, double seconds_each, int rate,
                           double level) {
    const size_t each = size_t(seconds_each * rate);
    std::vector<int16_t> samples(each * hz.size());
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(level * std::sin(2 * M_PI * hz[i / each] * double(i) / rate));
    return samples;
}

std::string SoundServer::missing_tool(Kind) {
    for (const char* tool :
         {"pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon", "pactl", "paplay"})
        if (!have_program(tool))
            return tool;
    return {};
}

SoundServer::SoundServer(Kind, const std::string& microphone, const std::string& output) {
    // A short folder: the sockets' paths have a small limit.
    char folder[] = "/tmp/qv-sound-XXXXXX";
    if (!mkdtemp(folder)) {
        m_why = "no temporary folder";
        return;
    }
    m_folder = folder;
    const std::string socket = m_folder + "/pulse/native";
    std::filesystem::create_directories(m_folder + "/pulse");
    std::ofstream(m_folder + "/client.conf") << "autospawn = no\n";
    const std::string bus = "unix:path=" + m_folder + "/bus";
    m_client = Environment({{"PULSE_SERVER", "unix:" + socket},
                            {"PULSE_CLIENTCONFIG", m_folder + "/client.conf"},
                            {"PIPEWIRE_RUNTIME_DIR", m_folder},
                            {"XDG_RUNTIME_DIR", m_folder}});
    const Environment server({{"HOME", m_folder},
                              {"XDG_RUNTIME_DIR", m_folder},
                              {"XDG_CONFIG_HOME", m_folder + "/config"},
                              {"XDG_STATE_HOME", m_folder + "/state"},
                              {"PULSE_RUNTIME_PATH", m_folder + "/pulse"},
                              {"PULSE_STATE_PATH", m_folder + "/state"},
                              {"PULSE_CLIENTCONFIG", m_folder + "/client.conf"},
                              {"DBUS_SESSION_BUS_ADDRESS", bus},
                              {"PIPEWIRE_RUNTIME_DIR", m_folder},
                              {"DISABLE_RTKIT", "1"}});
    m_processes.push_back(spawn({"dbus-daemon", "--session", "--nofork", "--address=" + bus},
                                m_folder + "/bus.log", server));
    if (!wait_for([&] { return std::filesystem::exists(m_folder + "/bus"); }, 5000)) {
        m_why = "the session bus did not start:\n" + read_whole_file(m_folder + "/bus.log");
        return;
    }
    m_processes.push_back(spawn({"pipewire"}, m_folder + "/server.log", server));
    if (!wait_for([&] { return std::filesystem::exists(m_folder + "/pipewire-0"); }, 5000)) {
        m_why = "pipewire did not start:\n" + read_whole_file(m_folder + "/server.log");
        return;
    }
    m_processes.push_back(spawn({"wireplumber"}, m_folder + "/session.log", server));
    m_processes.push_back(spawn({"pipewire-pulse"}, m_folder + "/pulse.log", server));
    if (!wait_for([&] { return pactl("info"); }, 10000)) {
        m_why = "the server did not answer:\n" + read_whole_file(m_folder + "/server.log") +
                read_whole_file(m_folder + "/pulse.log");
        return;
    }
    for (const std::string& sink : {microphone, output}) {
        if (!pactl("load-module module-null-sink channel_map=mono sink_name=" + sink +
                   " sink_properties=device.description=" + sink)) {
            m_why = "no null sink " + sink;
            return;
        }
    }
    // The session manager of PipeWire takes a moment to see the new sinks.
    std::string info;
    wait_for(
        [&] {
            return pactl("set-default-source " + microphone + ".monitor") &&
                   pactl("set-default-sink " + output) && pactl("info", &info) &&
                   info.find("Default Source: " + microphone + ".monitor") != std::string::npos;
        },
        5000);
    m_ready = true;
}

SoundServer::~SoundServer() {
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
        end(*it);
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

bool SoundServer::pactl(const std::string& arguments, std::string* output) {
    const CommandResult result =
        run_command({"sh", "-c", "pactl " + arguments + " 2>&1"},
                    EnvChanges(m_client.begin(), m_client.end()), std::chrono::seconds(30));
    if (output)
        *output = result.output;
    return result.status == 0;
}

pid_t SoundServer::play(const std::string& wav, const std::string& sink) {
    return spawn({"paplay", "--device=" + sink, wav}, wav + ".log", m_client);
}

} // namespace testing_support
