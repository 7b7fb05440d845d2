#pragma once

// Running quillory-cli and other commands from the command-line tests.

#include <cstdio>
#include <string>

namespace controller_test {

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

inline std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

} // namespace controller_test
