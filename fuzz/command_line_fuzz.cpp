// Command lines (registry notifications, handlers' Exec lines) from arbitrary bytes: the words
// never hold more than the line did, and quoting each word and joining them splits back into
// the same words.

#include "fuzz_support.h"
#include "platform/command_line.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string command(reinterpret_cast<const char*>(data), size);
    const auto words = platform::split_command_line(command);
    if (!words)
        return 0;
    size_t kept = 0;
    for (const std::string& word : *words)
        kept += word.size();
    if (kept > command.size())
        __builtin_trap();
    std::string joined;
    for (const std::string& word : *words)
        joined += (joined.empty() ? "" : " ") + platform::quote_command_word(word);
    if (platform::split_command_line(joined) != words)
        __builtin_trap();
    return 0;
}
