// Command lines of registry notifications from arbitrary bytes: the words never hold a quote or
// an unquoted blank, and quoting each word and joining them splits back into the same words.

#include "fuzz_support.h"
#include "platform/registry_store.h"

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
    std::vector<std::string> words = platform::split_command_line(command);
    size_t kept = 0;
    for (const std::string& word : words) {
        if (word.find('"') != std::string::npos)
            __builtin_trap();
        kept += word.size();
    }
    if (kept > command.size())
        __builtin_trap();
    std::string joined;
    for (const std::string& word : words)
        joined += (joined.empty() ? "\"" : " \"") + word + "\"";
    if (platform::split_command_line(joined) != words)
        __builtin_trap();
    return 0;
}
