#pragma once

// Microsoft ADPCM: 4 bits per sample in blocks that start with a small header per channel
// (predictor index, step size, the last two samples), seven fixed predictor coefficient pairs.
// Mono and stereo, 16-bit samples.

#include <array>
#include <cstddef>
#include <cstdint>

namespace formats::adpcm {

inline constexpr int kCoefficientCount = 7;
extern const std::array<std::array<int16_t, 2>, kCoefficientCount> kCoefficients;

// Block size in bytes for a sample rate and channel count (1 or 2).
int block_align_for(int rate, int channels);
// Frames a block of block_align bytes holds.
int samples_per_block(int block_align, int channels);

// Decodes one block of `size` bytes (at most block_align; a shorter last block yields the
// frames its bytes hold) into interleaved 16-bit samples, at most max_frames frames. Returns
// the frames written; 0 for a block whose header is incomplete or names a predictor index of 7
// or more.
int decode_block(const uint8_t* block, size_t size, int channels, int max_frames, int16_t* out);

// Encodes `frames` interleaved frames (frames == samples_per_block(block_align, channels))
// into block_align bytes, choosing the predictor with the smallest largest error.
void encode_block(const int16_t* in, int frames, int channels, int block_align, uint8_t* out);

} // namespace formats::adpcm
