#include "audio/duration_counter.h"

#include <mutex>

namespace audio {

double DurationCounter::seconds() const {
    std::lock_guard guard(lock());
    return m_seconds;
}

void DurationCounter::reset() {
    std::lock_guard guard(lock());
    m_seconds = 0.0;
}

void DurationCounter::process(AudioBlock& out, const AudioBlock& in) {
    out = in;
    if (in.sample_rate != 0)
        m_seconds += double(in.frames()) / in.sample_rate;
}

} // namespace audio
