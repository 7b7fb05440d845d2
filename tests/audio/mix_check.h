#pragma once

// Loud signals whose sum often leaves the sample range, the check that a stream is their exact
// clipped mix, and the format of a mono stream.

#include "platform/wave_device.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace audio_test {

inline platform::WaveFormat mono(uint32_t rate, uint16_t bits) {
    platform::WaveFormat format;
    format.channels = 1;
    format.samples_per_sec = rate;
    format.bits_per_sample = bits;
    format.block_align = uint16_t(bits / 8);
    format.avg_bytes_per_sec = rate * format.block_align;
    return format;
}

inline std::vector<int16_t> signal(size_t count, uint32_t seed) {
    std::vector<int16_t> samples(count);
    uint32_t state = seed;
    for (int16_t& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = int16_t(int32_t(state >> 16) - 32768);
    }
    return samples;
}

// Whether out[from, to) is `first` with `second` mixed in `offset` samples late, summed and
// clipped; each is silent beyond its end.
inline bool mixed_at(const std::vector<int16_t>& out, const std::vector<int16_t>& first,
                     const std::vector<int16_t>& second, long offset, size_t from, size_t to) {
    for (size_t n = from; n < to; ++n) {
        const long j = long(n) - offset;
        const int32_t a = n < first.size() ? first[n] : 0;
        const int32_t b = j >= 0 && j < long(second.size()) ? second[size_t(j)] : 0;
        if (out[n] != int16_t(std::clamp(a + b, -32768, 32767)))
            return false;
    }
    return true;
}

// The one offset within `range` at which out[from, to) is the exact mix; first tried on a
// stretch in the middle, where the second signal is heard.
inline std::optional<long> offset_of(const std::vector<int16_t>& out,
                                     const std::vector<int16_t>& first,
                                     const std::vector<int16_t>& second, size_t from, size_t to,
                                     long range) {
    const size_t middle = from + (to - from) / 2;
    for (long offset = -range; offset <= range; ++offset)
        if (mixed_at(out, first, second, offset, middle, std::min(middle + 64, to)) &&
            mixed_at(out, first, second, offset, from, to))
            return offset;
    return std::nullopt;
}

} // namespace audio_test
