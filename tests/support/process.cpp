#include "support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace testing_support {

namespace {

// fork + exec with the environment changed; the child's standard output goes to stdout_fd when
// it is not negative, its standard error (and output otherwise) to the file when one is named.
pid_t start(const std::vector<std::string>& argv, const EnvChanges& env, int stdout_fd,
            const fs::path& output) {
    EnvChanges all = env; // the changes win over what this process has
    for (char** e = environ; *e; ++e)
        if (const char* eq = std::strchr(*e, '='))
            all.emplace(std::string(*e, size_t(eq - *e)), eq + 1);
    std::vector<std::string> entries;
    for (const auto& [name, value] : all)
        entries.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : entries)
        envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0); // the test's terminal signals stay with the test
        dup2(open("/dev/null", O_RDWR), 0);
        const int log =
            output.empty() ? -1 : open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0)
            dup2(log, 2);
        if (stdout_fd >= 0 || log >= 0)
            dup2(stdout_fd >= 0 ? stdout_fd : log, 1);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int decode(int status) {
    return WIFEXITED(status)     ? WEXITSTATUS(status)
           : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                 : -1;
}

} // namespace

pid_t spawn_process(const std::vector<std::string>& argv, const EnvChanges& env,
                    const fs::path& output) {
    return start(argv, env, -1, output);
}

Process::Process(const std::vector<std::string>& argv, const EnvChanges& env,
                 const fs::path& output)
    : m_pid(start(argv, env, -1, output)) {}

Process::~Process() {
    if (running()) {
        ::kill(m_pid, SIGKILL);
        wait_exit(10s);
    }
}

bool Process::running() {
    if (m_pid <= 0 || m_status)
        return false;
    int status = 0;
    const pid_t done = waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid)
        m_status = decode(status);
    return done == 0;
}

void Process::signal(int number) {
    if (running())
        ::kill(m_pid, number);
}

std::optional<int> Process::wait_exit(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(5ms);
    return m_status;
}

std::optional<int> Process::terminate(std::chrono::milliseconds grace) {
    signal(SIGTERM);
    if (auto status = wait_exit(grace))
        return status;
    signal(SIGKILL);
    wait_exit(10s);
    return std::nullopt;
}

CommandResult run_command(const std::vector<std::string>& argv, const EnvChanges& env,
                          std::chrono::milliseconds deadline) {
    CommandResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return result;
    const pid_t pid = start(argv, env, fds[1], {});
    close(fds[1]);
    const auto end = std::chrono::steady_clock::now() + deadline;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || (poll(&p, 1, int(left.count())) < 0 && errno != EINTR))
            break;
        const ssize_t n = p.revents ? read(fds[0], buffer, sizeof buffer) : 1;
        if (n <= 0)
            break;
        if (p.revents)
            result.output.append(buffer, size_t(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return result;
        }
        std::this_thread::sleep_for(5ms);
    }
    result.status = decode(status);
    return result;
}

bool have_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && access((fs::path(folder) / name).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string missing_program(const std::vector<std::string>& names) {
    for (const auto& name : names)
        if (!have_program(name))
            return name + " (scripts/install-deps installs it)";
    return {};
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

bool wait_for(const std::function<bool()>& done, int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string read_whole_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_script(const fs::path& file, const std::string& body) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "#!/bin/sh\n" << body;
    fs::permissions(file, fs::perms::owner_all);
}

std::string percent_decoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool escape = text[i] == '%' && i + 2 < text.size();
        out += escape ? char(std::stoi(text.substr(i + 1, 2), nullptr, 16)) : text[i];
        i += escape ? 2 : 0;
    }
    return out;
}

} // namespace testing_support
