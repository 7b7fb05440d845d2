#pragma once

// quillory-cli sub-commands. Each file in this folder registers its words with
// QV_CLI_COMMAND; main() picks the one named by the first argument.

#include <string>
#include <vector>

namespace cli {

using Arguments = std::vector<std::string>;
// Returns the process exit code. args excludes the program name and the command word.
using CommandFunction = int (*)(const Arguments& args);

struct CommandRegistration {
    CommandRegistration(const char* word, const char* usage, CommandFunction function);
};

} // namespace cli

#define QV_CLI_CONCAT2(a, b) a##b
#define QV_CLI_CONCAT(a, b) QV_CLI_CONCAT2(a, b)
#define QV_CLI_COMMAND(word, usage, function)                                                      \
    static const ::cli::CommandRegistration QV_CLI_CONCAT(cli_registration_,                       \
                                                          __LINE__)(word, usage, function)
