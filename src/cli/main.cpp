#include "cli/command.h"
#include "formats/wave_file.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace cli {

namespace {
struct Entry {
    const char* usage;
    CommandFunction function;
};

std::map<std::string, Entry>& commands() {
    static std::map<std::string, Entry> table;
    return table;
}

void print_usage() {
    std::fprintf(stderr, "usage: quillory-cli COMMAND [ARGUMENTS]\n\ncommands:\n");
    for (const auto& [word, entry] : commands())
        std::fprintf(stderr, "  %s\n", entry.usage);
}
} // namespace

CommandRegistration::CommandRegistration(const char* word, const char* usage,
                                         CommandFunction function) {
    commands()[word] = Entry{usage, function};
}

} // namespace cli

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        cli::print_usage();
        return argc < 2 ? 2 : 0;
    }
    auto it = cli::commands().find(argv[1]);
    if (it == cli::commands().end()) {
        std::fprintf(stderr, "quillory-cli: unknown command '%s'\n", argv[1]);
        cli::print_usage();
        return 2;
    }
    // The file sound devices read and write WAV through the one WAV coding.
    formats::use_wave_files();
    cli::Arguments args(argv + 2, argv + argc);
    return it->second.function(args);
}
