#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the phone's tick count.
// Reads the monotonic clock, or the fake clock once a test has switched it on.
uint32_t tick_count();

// Blocks the calling thread for the given milliseconds.
void sleep_ms(uint32_t milliseconds);

// Test seam: a process-wide clock that moves only when told. Switching it on starts it at `start`.
void use_fake_clock(bool on, uint32_t start = 0);
void advance_fake_clock(uint32_t milliseconds);
bool fake_clock_in_use();

} // namespace platform
