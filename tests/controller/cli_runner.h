#pragma once

// Running quillory-cli and the independent tools (ffprobe, sox, mutagen) the controller tests
// judge files with.

#include "support/audio_data.h"
#include "support/process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace controller_test {

inline const std::string cli = std::string(QV_BUILD_DIR) + "/bin/quillory-cli";
inline const std::string data_dir = std::string(QV_TEST_DATA) + "/controller/";

struct Result {
    int status{-1};
    std::string out;
};

// Runs a shell command line; its standard output is captured, and its exit status kept (-1 when
// it did not exit normally).
inline Result run(const std::string& command) {
    const testing_support::CommandResult result =
        testing_support::run_command({"/bin/sh", "-c", command}, {}, std::chrono::minutes(5));
    return {result.status >= 0 && result.status < 128 ? result.status : -1, result.output};
}

// The text as one word for the shell.
inline std::string quoted(const std::string& text) {
    return testing_support::quote(text);
}
inline std::string quoted(const char* text) {
    return quoted(std::string(text));
}
inline std::string quoted(const std::filesystem::path& path) {
    return quoted(path.string());
}

// quillory-cli with the arguments (already quoted where needed), standard error included: for
// its status and what it says, not for output read line by line.
inline Result cli_run(const std::string& arguments) {
    return run(quoted(cli) + " " + arguments + " 2>&1");
}

inline std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

inline std::string read_all(const std::filesystem::path& path) {
    return testing_support::read_whole_file(path);
}

// Seconds of audio as ffprobe finds them; -1 when it finds none.
inline double duration_of(const std::filesystem::path& path) {
    return testing_support::ffprobe_duration(path);
}

// The peak sample (0..1) of the decoded file after the sox effects given; -1 without one.
inline double peak_of(const std::filesystem::path& path, const std::string& effects = "") {
    const std::string text =
        run("sox " + quoted(path) + " -n " + effects + " stat 2>&1 | grep 'Maximum amplitude'").out;
    const auto colon = text.find(':');
    return colon == std::string::npos ? -1 : std::atof(text.c_str() + colon + 1);
}

// Skips the test where a tool it needs is missing; in CI that is a failure.
#define QV_REQUIRE_TOOLS(tools)                                                                    \
    do {                                                                                           \
        if (run("command -v " tools " >/dev/null 2>&1").status != 0) {                             \
            if (testing_support::in_ci())                                                          \
                FAIL() << tools " needed";                                                         \
            GTEST_SKIP() << tools " missing";                                                      \
        }                                                                                          \
    } while (false)

} // namespace controller_test
