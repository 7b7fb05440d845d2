#pragma once

// Stages that watch the sound of a recording go by, unchanged:
// PeakTap builds the waveform of what goes into the file, so that a new record never needs a
// decoding pass for its waveform; LiveWave keeps the last seconds of the input in short
// columns for the recording screen.
//
// Threads: blocks arrive on the capture thread under the stage's lock; the other operations
// come from the user-interface thread and take the same lock.

#include "audio/link.h"
#include "audio/peaks.h"

#include <vector>

namespace audio {

class PeakTap : public Stage {
public:
    // Starts again from `start` (empty, or the waveform of a record being continued).
    void reset(const Peaks& start);
    Peaks peaks() const;

protected:
    void process(AudioBlock& out, const AudioBlock& in) override;

private:
    Peaks m_peaks;
};

class LiveWave : public Stage {
public:
    static constexpr int kColumnsPerSecond = 40;
    static constexpr size_t kColumns = 240; // six seconds

    // The columns of the last six seconds, oldest first (fewer at the start).
    std::vector<PeakColumn> recent() const;
    // Columns finished since construction: tells whether recent() changed.
    uint64_t finished() const;
    void clear();

protected:
    void process(AudioBlock& out, const AudioBlock& in) override;

private:
    std::vector<PeakColumn> m_ring; // kColumns once full
    size_t m_next{0};               // where the next finished column goes once full
    Peaks m_current;                // the column being filled
    uint64_t m_finished{0};
};

} // namespace audio
