#pragma once

// How long written audio may wait in a writer before it reaches the file. A killed recording
// loses what waits, so a writer writes out once half a second of audio is held back or half a
// second has passed since its last write, whichever comes first. Together with the block being
// captured and the encoder's own delay that keeps the loss of a killed recording under a second.

#include "platform/clock.h"

#include <cstdint>

namespace formats {

inline constexpr uint32_t kWriteOutMilliseconds = 500;

// Time since the last write to the file.
class WriteOutClock {
public:
    WriteOutClock() : m_last(platform::tick_count()) {}
    void restart() { m_last = platform::tick_count(); }
    [[nodiscard]] bool due() const {
        return platform::tick_count() - m_last >= kWriteOutMilliseconds;
    }

private:
    uint32_t m_last;
};

// Bytes in kWriteOutMilliseconds of a stream of the given bytes per second; at least 1.
constexpr uint64_t write_out_bytes(uint64_t bytes_per_second) {
    const uint64_t bytes = bytes_per_second * kWriteOutMilliseconds / 1000;
    return bytes > 0 ? bytes : 1;
}

} // namespace formats
