#pragma once

// Developer timing trace. With QUILLORY_TIMING=FILE the program appends one line per mark to
// FILE: "<microseconds> <what> <value>" (for durations also the calling thread's CPU
// microseconds spent in them: "<microseconds> <what> <wall> <cpu>"), the microseconds on the
// system's monotonic clock (the clock a benchmark script reads as well). Off (one flag test per
// mark) when the variable is unset. Marks come from the user-interface thread only.

#include <cstdint>
#include <string_view>

namespace platform {

// True when the trace is written; read once.
bool timing_on();
// Microseconds on the monotonic clock.
int64_t monotonic_us();
// CPU microseconds the calling thread has used.
int64_t thread_cpu_us();
// Writes "<now> what value". Nothing when the trace is off.
void timing_mark(std::string_view what, int64_t value = 0);
// Writes "<at> what value" for a moment taken earlier with monotonic_us(), and the CPU time
// when it is not negative.
void timing_mark_at(int64_t at, std::string_view what, int64_t value, int64_t cpu = -1);

} // namespace platform
