#include "platform/memory.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

std::optional<uint64_t> available_physical_memory_from(const char* path) {
    // Called for every recorded block: one read of the file's head, no stdio.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[512];
    ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return std::nullopt;
    text[got] = '\0';
    const char* line = std::strstr(text, "MemAvailable:");
    if (!line)
        return std::nullopt;
    line += std::strlen("MemAvailable:");
    while (*line == ' ')
        ++line;
    if (*line < '0' || *line > '9')
        return std::nullopt;
    uint64_t kilobytes = 0;
    for (int digits = 0; *line >= '0' && *line <= '9'; ++digits) {
        if (digits >= 18)
            return std::nullopt;
        kilobytes = kilobytes * 10 + uint64_t(*line++ - '0');
    }
    return kilobytes * 1024;
}

std::optional<uint64_t> available_physical_memory() {
    return available_physical_memory_from("/proc/meminfo");
}

} // namespace platform
