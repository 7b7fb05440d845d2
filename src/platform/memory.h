#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// Physical memory the kernel can hand out now without swapping (MemAvailable), in bytes;
// empty when it cannot be read (no /proc, an older kernel without the line, a sandbox).
std::optional<uint64_t> available_physical_memory();

// The same figure from a meminfo-style file; for tests.
std::optional<uint64_t> available_physical_memory_from(const char* path);

} // namespace platform
