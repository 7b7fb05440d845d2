#pragma once

// Running quillory-cli and the independent tools (ffprobe, sox, mutagen) the controller tests
// judge files with.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    Result result;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            result.out.append(buffer, got);
        int status = pclose(pipe);
        result.status = status >= 0 && (status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1;
    }
    return result;
}

// The text as one word for the shell.
inline std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
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
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Seconds of audio as ffprobe finds them; -1 when it finds none.
inline double duration_of(const std::filesystem::path& path) {
    const std::string text = run("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                                 quoted(path) + " 2>/dev/null")
                                 .out;
    return text.empty() ? -1 : std::atof(text.c_str());
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
        if (std::system("command -v " tools " >/dev/null 2>&1") != 0) {                            \
            if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")               \
                FAIL() << tools " needed";                                                         \
            GTEST_SKIP() << tools " missing";                                                      \
        }                                                                                          \
    } while (false)

} // namespace controller_test
