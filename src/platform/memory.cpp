#include "platform/memory.h"

#include <cstdio>
#include <cstring>

namespace platform {

uint64_t available_physical_memory() {
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file)
        return 0;
    char line[256];
    uint64_t result = 0;
    while (std::fgets(line, sizeof line, file)) {
        unsigned long long kilobytes = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) {
            result = uint64_t(kilobytes) * 1024;
            break;
        }
    }
    std::fclose(file);
    return result;
}

} // namespace platform
