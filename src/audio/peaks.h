#pragma once

// The waveform of a stream: the largest magnitude and the energy of its samples in short bins of
// equal length. Bins start at 10 ms; whenever their number would pass kMaxBins, neighbours are
// merged in pairs and the bin length doubles, so a waveform of any length stays small (an hour
// at 44.1 kHz ends with 1.28 s bins, 2813 of them) and can be built while a stream is still
// growing. Drawn as columns: each column takes the bins whose middle falls into its time span.
//
// Not locked: one thread builds it; whoever shares it with another thread copies it under a
// lock of their own.

#include "audio/audio_block.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

// One column of a drawn waveform, as fractions of full scale (0..1).
struct PeakColumn {
    float peak{0};
    float rms{0};
};

class Peaks {
public:
    static constexpr size_t kMaxBins = 4000;
    // The encoded form never grows past this (a bin takes four bytes).
    static constexpr size_t kMaxEncodedSize = 32 + kMaxBins * 4;

    // Starts again, empty, for a stream at `rate` frames per second (1000..192000; anything
    // else is taken as 8000).
    void reset(int rate);
    // Adds a block of 16-bit PCM (every channel counts; other widths are left out). A block of
    // another rate than the one reset() was given starts the waveform again at that rate.
    void add(const AudioBlock& block);
    void add_samples(const int16_t* samples, size_t frames, int channels);

    int rate() const { return m_rate; }
    uint64_t frames() const { return m_frames; }
    double seconds() const { return m_rate > 0 ? double(m_frames) / m_rate : 0.0; }
    uint64_t bin_frames() const { return m_bin_frames; }
    size_t bin_count() const { return m_bins.size(); }
    [[nodiscard]] bool empty() const { return m_frames == 0; }

    // The waveform in `width` columns spread over `span_frames` frames (0: frames()). Only the
    // columns that begin within what was added are returned, so a waveform still being built,
    // or cut short by a damaged file, gives fewer than `width`.
    std::vector<PeakColumn> columns(int width, uint64_t span_frames = 0) const;

    // A compact binary form (little-endian, at most kMaxEncodedSize bytes), and back. decode()
    // refuses anything inconsistent and then leaves this object unchanged.
    std::vector<uint8_t> encode() const;
    [[nodiscard]] bool decode(const uint8_t* data, size_t size);

private:
    struct Bin {
        uint32_t peak{0};    // largest |sample|, 0..32768
        double squares{0.0}; // sum of (sample / 32768)^2
    };
    uint64_t frames_in(size_t bin) const;
    void merge_pairs();

    int m_rate{0};
    uint64_t m_bin_frames{0};
    uint64_t m_frames{0};
    uint64_t m_in_last{0}; // frames in the last bin
    std::vector<Bin> m_bins;
};

} // namespace audio
