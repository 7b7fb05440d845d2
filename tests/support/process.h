#pragma once

// Child processes and commands for tests, what a test needs from the machine, and polling.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

using namespace std::chrono_literals;
using EnvChanges = std::map<std::string, std::string>;

// A child in a process group of its own, the environment changed by `env`, its standard error
// and output appended to `output` when one is named; killed at destruction.
class Process {
public:
    Process(const std::vector<std::string>& argv, const EnvChanges& env = {},
            const std::filesystem::path& output = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return m_pid; }
    bool running();
    void signal(int number);
    // The exit status (128 + the signal after one) once it ended; nullopt while it runs.
    std::optional<int> wait_exit(std::chrono::milliseconds deadline);
    // SIGTERM, then SIGKILL after the grace time; the exit status as wait_exit gives it.
    std::optional<int> terminate(std::chrono::milliseconds grace);

private:
    pid_t m_pid{-1};
    std::optional<int> m_status;
};

// Starts a program as Process does, leaving it to the caller to end and reap.
pid_t spawn_process(const std::vector<std::string>& argv, const EnvChanges& env,
                    const std::filesystem::path& output);

// A command run to its end (killed at the deadline, status -1 then): its status and output.
struct CommandResult {
    int status{-1};
    std::string output;
};
CommandResult run_command(const std::vector<std::string>& argv, const EnvChanges& env = {},
                          std::chrono::milliseconds deadline = 60s);

bool have_program(const std::string& name);
// Empty when every program is on PATH; otherwise which is not.
std::string missing_program(const std::vector<std::string>& names);
bool in_ci();
// Polls `done` until it holds or the time is up.
bool wait_for(const std::function<bool()>& done, int milliseconds = 30000);
// The text as one word for /bin/sh, whatever quotes it holds.
std::string quote(const std::string& text);
inline std::string quote(const std::filesystem::path& path) {
    return quote(path.string());
}
// A whole file's bytes ("" when there is none).
std::string read_whole_file(const std::filesystem::path& path);
// The text with its %XX escapes undone.
std::string percent_decoded(const std::string& text);
// An executable shell script of that body (after its "#!/bin/sh" line), its folder made.
void write_script(const std::filesystem::path& file, const std::string& body);
// A script body writing its arguments, one a line, to the script's path + ".args".
inline const std::string arguments_recorder =
    "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n";

} // namespace testing_support

// Skips the test when `missing` names something it needs; fails it under CI=true.
#define QV_SKIP_IF_MISSING(missing)                                                                \
    do {                                                                                           \
        if (const std::string what_is_missing = (missing); !what_is_missing.empty()) {             \
            if (testing_support::in_ci())                                                          \
                FAIL() << "needed for this test: " << what_is_missing;                             \
            GTEST_SKIP() << "needed for this test: " << what_is_missing;                           \
        }                                                                                          \
    } while (false)
