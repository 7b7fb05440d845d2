#pragma once

#include "audio/link.h"

namespace audio {

// Measures the peak level of the first channel of every block passing through and runs the
// voice-operated switch: with a threshold above 0 the input counts as silent once more than
// silence_limit seconds have passed without a sample at or above the threshold. Blocks pass
// unchanged.
//
// Threads: blocks arrive on the capture thread under the stage's lock; the queries and
// set_threshold() are called from the user-interface thread and take the same lock.
class LevelMeter : public Stage {
public:
    // Peak of the last block as a fraction of full scale, 0..1.
    double level() const;
    double threshold() const;
    // Fraction of full scale; 0 switches the voice-operated switch off.
    void set_threshold(double threshold);
    [[nodiscard]] bool is_silent() const;

protected:
    void process(AudioBlock& out, const AudioBlock& in) override;

private:
    double m_level{0.0};
    double m_threshold{0.0};
    double m_silence_time{2.0};
    double m_silence_limit{2.0};
};

} // namespace audio
