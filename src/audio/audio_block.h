#pragma once

#include "audio/shared_bytes.h"

#include <cstdint>
#include <string>

namespace audio {

// Codec names, compared exactly.
inline constexpr char16_t kCodecPcm[] = u"PCM";
inline constexpr char16_t kCodecAdpcm[] = u"ADPCM";
inline constexpr char16_t kCodecGsm[] = u"GSM";
inline constexpr char16_t kCodecMp3[] = u"mp3";
inline constexpr char16_t kCodecVorbis[] = u"Vorbis";
inline constexpr char16_t kCodecMpc[] = u"MPC";

// A slice of audio bytes with the PCM format it holds or, for coded bytes, the PCM that was coded.
// A block of length 0 carries no data.
struct AudioBlock {
    ByteSlice bytes;
    int32_t channels{0};
    int32_t bits_per_sample{0};
    int32_t sample_rate{0};

    size_t size() const { return bytes.size(); }
    [[nodiscard]] bool empty() const { return bytes.empty(); }
    int32_t bytes_per_frame() const { return channels * ((bits_per_sample + 7) / 8); }
    // Whole PCM frames held; 0 when empty or the format is unset.
    size_t frames() const {
        int32_t frame = bytes_per_frame();
        return frame > 0 ? bytes.size() / size_t(frame) : 0;
    }
    [[nodiscard]] bool same_format(const AudioBlock& other) const {
        return channels == other.channels && bits_per_sample == other.bits_per_sample &&
               sample_rate == other.sample_rate;
    }
};

struct AudioFormat {
    std::u16string codec;
    int32_t channels{0};
    int32_t sample_rate{0};
    int32_t bits_per_sample{0};
    int32_t bit_rate{0}; // bits per second
    double duration{0};  // seconds, where a reader knows it
};

} // namespace audio
