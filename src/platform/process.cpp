#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// Where a child's standard output goes.
enum class Output { Discard, Pipe };
// Whether a child starts a session of its own (detached from our terminal and process group).
enum class Session { Ours, Own };

// Starts `words` with standard input and error on /dev/null and standard output on /dev/null
// or the write end `pipe_fd`. The child's process id, or -1 when it cannot be started
// (posix_spawnp reports a program that cannot be found or run as a failure).
pid_t start(const std::vector<std::string>& words, Output output, int pipe_fd, Session session) {
    if (words.empty() || words.front().empty())
        return -1;
    std::vector<std::string> args = words;
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output == Output::Pipe)
        posix_spawn_file_actions_adddup2(&actions, pipe_fd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (session == Session::Own)
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t child = -1;
    const bool started =
        posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ) == 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return started ? child : -1;
}

// Waits for the child to end; its exit status, or -1 when a signal ended it.
int wait_for(pid_t child) {
    int status = 0;
    pid_t waited = -1;
    while ((waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    return waited == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::shared_ptr<const ChildExit> spawn_watched(const std::vector<std::string>& words) {
    const pid_t child = start(words, Output::Discard, -1, Session::Own);
    if (child < 0)
        return nullptr;
    // The program outlives the call; a detached waiter collects its exit status so it leaves
    // no zombie while this process lives (after that, init adopts it).
    auto exit = std::make_shared<ChildExit>();
    std::thread([child, exit] { exit->set(wait_for(child)); }).detach();
    return exit;
}

bool spawn_detached(const std::vector<std::string>& words) {
    return spawn_watched(words) != nullptr;
}

std::string first_output_line(const std::vector<std::string>& words,
                              std::chrono::milliseconds deadline) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t child = start(words, Output::Pipe, fds[1], Session::Ours);
    ::close(fds[1]);
    std::string output;
    if (child >= 0) {
        pollfd wait_for_output{fds[0], POLLIN, 0};
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (output.size() < 4096 && output.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || ::poll(&wait_for_output, 1, int(left)) <= 0)
                break;
            char buffer[512];
            const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            output.append(buffer, size_t(got));
        }
        ::kill(child, SIGTERM);
        (void)wait_for(child);
    }
    ::close(fds[0]);
    return output.substr(0, output.find('\n'));
}

} // namespace platform
