#pragma once

#include <cstdint>

namespace platform {

// Physical memory the kernel can hand out now without swapping (MemAvailable), in bytes;
// 0 when it cannot be read.
uint64_t available_physical_memory();

} // namespace platform
