#include "support/session_mocks.h"

#include "support/glib_tsan.h"
#include "support/private_bus.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

namespace {

constexpr const char* python_program = "/usr/bin/python3";

std::string run_output(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, got);
    const int result = ::pclose(pipe);
    if (status)
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return out;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

void stop(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) != 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

MockSessionBus::MockSessionBus() {
    use_glib_tsan_suppressions();
    if (::access("/usr/bin/dbus-daemon", X_OK) != 0) {
        m_missing = "dbus-daemon";
        return;
    }
    int status = 0;
    run_output(std::string(python_program) + " -c 'import dbusmock, dbus' 2>/dev/null", &status);
    if (status != 0) {
        m_missing = "python3-dbusmock";
        return;
    }
    const std::string out = run_output(
        "dbus-daemon --config-file='" +
            write_bus_config(m_dir.path().string(), "unix:dir=" + m_dir.path().string()) +
            "' --fork --print-address=1 --print-pid=1",
        &status);
    std::istringstream lines(out);
    std::string pid;
    std::getline(lines, m_address);
    std::getline(lines, pid);
    if (status != 0 || m_address.empty() || pid.empty()) {
        m_missing = "a private dbus-daemon";
        return;
    }
    m_daemon = pid_t(std::atoi(pid.c_str()));
    m_env = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", m_address);
}

MockSessionBus::~MockSessionBus() {
    for (pid_t pid : m_mocks)
        stop(pid);
    // The daemon forked away from us: it is not our child to wait for.
    if (m_daemon > 0)
        ::kill(m_daemon, SIGTERM);
}

bool MockSessionBus::start_mock(const std::vector<std::string>& arguments, const std::string& name,
                                const std::string& log) {
    if (!m_missing.empty())
        return false;
    std::vector<std::string> words{python_program, "-m", "dbusmock", "-l", log};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (auto& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execv(python_program, argv.data());
        ::_exit(127);
    }
    if (child < 0)
        return false;
    m_mocks.push_back(child);
    for (int i = 0; i < 500; ++i) {
        if (has_owner(name))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool MockSessionBus::has_owner(const std::string& name) const {
    const std::string out =
        run_output("dbus-send --bus=" + quoted(m_address) +
                   " --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                   "org.freedesktop.DBus.NameHasOwner string:" +
                   quoted(name) + " 2>/dev/null");
    return out.find("boolean true") != std::string::npos;
}

std::string MockSessionBus::python(const std::string& code, bool* ok) const {
    int status = 0;
    const std::string program =
        "import dbus\nbus = dbus.bus.BusConnection(" + quoted(m_address) + ")\n" + code;
    std::string out = run_output(std::string(python_program) + " -c " + quoted(program), &status);
    if (ok)
        *ok = status == 0;
    return out;
}

} // namespace testing_support
