#include "audio/level_meter.h"

#include <cstring>
#include <mutex>

namespace audio {

double LevelMeter::level() const {
    std::lock_guard guard(lock());
    return m_level;
}

double LevelMeter::threshold() const {
    std::lock_guard guard(lock());
    return m_threshold;
}

void LevelMeter::set_threshold(double threshold) {
    std::lock_guard guard(lock());
    m_threshold = threshold;
}

bool LevelMeter::is_silent() const {
    std::lock_guard guard(lock());
    return m_silence_time > m_silence_limit;
}

void LevelMeter::process(AudioBlock& out, const AudioBlock& in) {
    out = in;
    size_t frames = in.frames();
    if (frames == 0)
        return;
    const uint8_t* bytes = in.bytes.data();
    size_t stride = size_t(in.bytes_per_frame());
    int largest = 0;
    long long last_loud = -1;
    if (in.bits_per_sample == 16) {
        int limit = int(m_threshold * 32768);
        for (size_t i = 0; i < frames; ++i) {
            int16_t sample;
            std::memcpy(&sample, bytes + i * stride, 2);
            int magnitude = sample < 0 ? -int(sample) : int(sample);
            if (magnitude > largest)
                largest = magnitude;
            if (magnitude >= limit)
                last_loud = (long long)i;
        }
        m_level = largest / 32768.0;
    } else {
        int limit = int(m_threshold * 128);
        for (size_t i = 0; i < frames; ++i) {
            int magnitude = int(bytes[i * stride]) - 128;
            if (magnitude < 0)
                magnitude = -magnitude;
            if (magnitude > largest)
                largest = magnitude;
            if (magnitude >= limit)
                last_loud = (long long)i;
        }
        m_level = largest / 128.0;
    }
    if (in.sample_rate == 0)
        return;
    if (m_threshold <= 0)
        m_silence_time = 0;
    else if (last_loud < 0)
        m_silence_time += double(frames) / in.sample_rate;
    else
        m_silence_time = double((long long)frames - last_loud - 1) / in.sample_rate;
}

} // namespace audio
