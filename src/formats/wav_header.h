#pragma once

// RIFF WAVE headers for the three codings this program writes: PCM (format tag 1), Microsoft
// ADPCM (2) and GSM 06.10 (49), and the header parser shared by their readers, which also
// reads what other programs write: floating-point PCM (3), WAVE_FORMAT_EXTENSIBLE, and chunks
// of any kind before "fmt ".

#include <array>
#include <cstdint>
#include <vector>

namespace foundation {
class File;
}

namespace formats {

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatAdpcm = 2;
inline constexpr uint16_t kWaveFormatGsm = 49;
inline constexpr uint16_t kWaveFormatFloat = 3;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

struct WavHeader {
    uint16_t format_tag{0};
    uint16_t channels{0};
    uint32_t rate{0};
    uint32_t average_bytes_per_second{0};
    uint16_t block_align{0};
    uint16_t bits{0};
    uint32_t riff_size{0};
    uint32_t fmt_size{0};
    uint32_t data_size{0};
    // Bytes before the data: 44 for PCM, 60 for GSM, 90 for ADPCM as written; as found when read.
    uint32_t header_size{0};

    // Coding extensions (GSM and ADPCM).
    uint16_t samples_per_block{0};
    std::vector<std::array<int16_t, 2>> coefficients;
    bool has_fact{false};
    uint32_t fact_samples{0};

    // WAVE_FORMAT_EXTENSIBLE: format_tag then holds the coding its sub-format names (PCM or
    // floating point), with the bits that are significant in each sample and the speaker mask.
    bool extensible{false};
    uint16_t valid_bits{0};
    uint32_t channel_mask{0};

    // The header as this program writes it, with the current sizes; header_size is set.
    std::vector<uint8_t> serialize();

    // Reads a header from the file's start and leaves the file at the first data byte.
    // header_size becomes that byte's offset; data_size is clamped to the bytes the file holds.
    // False when the header is incomplete or malformed (any coding is accepted here, but an
    // extensible header must name a sub-format of the standard GUID family).
    [[nodiscard]] bool parse(foundation::File& file);
};

} // namespace formats
