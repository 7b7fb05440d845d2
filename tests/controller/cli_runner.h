#pragma once

// Running quillory-cli and the tools the controller tests judge files with.

#include "support/audio_data.h"
#include "support/process.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace controller_test {

using testing_support::ffprobe_duration;
using testing_support::quote;
using testing_support::read_whole_file;

inline const std::string cli = std::string(QV_BUILD_DIR) + "/bin/quillory-cli";
inline const std::string data_dir = std::string(QV_TEST_DATA) + "/controller/";

struct Result {
    int status{-1};
    std::string out;
};

// A shell command line: its standard output, and its exit status (-1 after a signal).
inline Result run(const std::string& command) {
    const auto result =
        testing_support::run_command({"/bin/sh", "-c", command}, {}, std::chrono::minutes(5));
    return {result.status >= 0 && result.status < 128 ? result.status : -1, result.output};
}

// quillory-cli with the arguments (already quoted where needed), standard error included.
inline Result cli_run(const std::string& arguments) {
    return run(quote(cli) + " " + arguments + " 2>&1");
}

inline std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// Skips the test where a tool it needs is missing; in CI that is a failure.
#define QV_REQUIRE_TOOLS(...) QV_SKIP_IF_MISSING(testing_support::missing_program({__VA_ARGS__}))

} // namespace controller_test
