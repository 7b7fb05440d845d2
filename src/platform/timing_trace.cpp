#include "platform/timing_trace.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace platform {

namespace {

std::FILE* open_trace() {
    const char* path = std::getenv("QUILLORY_TIMING");
    if (!path || !*path)
        return nullptr;
    std::FILE* file = std::fopen(path, "a");
    if (file) // a reader follows the file while the program runs
        std::setvbuf(file, nullptr, _IOLBF, 4096);
    return file;
}

std::FILE* trace() {
    static std::FILE* const file = open_trace();
    return file;
}

} // namespace

bool timing_on() {
    static const bool on = trace() != nullptr;
    return on;
}

int64_t monotonic_us() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t thread_cpu_us() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void timing_mark_at(int64_t at, std::string_view what, int64_t value, int64_t cpu) {
    if (!timing_on())
        return;
    if (cpu >= 0)
        std::fprintf(trace(), "%lld %.*s %lld %lld\n", static_cast<long long>(at), int(what.size()),
                     what.data(), static_cast<long long>(value), static_cast<long long>(cpu));
    else
        std::fprintf(trace(), "%lld %.*s %lld\n", static_cast<long long>(at), int(what.size()),
                     what.data(), static_cast<long long>(value));
}

void timing_mark(std::string_view what, int64_t value) {
    if (timing_on())
        timing_mark_at(monotonic_us(), what, value);
}

} // namespace platform
