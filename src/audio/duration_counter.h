#pragma once

#include "audio/link.h"

namespace audio {

// Counts the seconds of audio passing through; blocks pass unchanged.
// Threads: blocks arrive on the capture thread under the stage's lock; seconds() and reset()
// are called from the user-interface thread and take the same lock.
class DurationCounter : public Stage {
public:
    double seconds() const;
    void reset();

protected:
    void process(AudioBlock& out, const AudioBlock& in) override;

private:
    double m_seconds{0.0};
};

} // namespace audio
