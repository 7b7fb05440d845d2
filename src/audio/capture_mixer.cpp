#include "audio/capture_mixer.h"

#include <algorithm>
#include <cstring>

namespace audio {

CaptureMixer::CaptureMixer(const platform::WaveFormat& format, uint32_t hold_frames,
                           uint32_t tolerance_frames)
    : m_channels(std::max<uint32_t>(1, format.channels)),
      m_sample_bytes(format.bits_per_sample == 8 ? 1 : 2), m_hold(hold_frames),
      m_tolerance(tolerance_frames),
      m_jump(int64_t(std::max<uint32_t>(1, format.samples_per_sec))) {}

CaptureMixer CaptureMixer::for_devices(const platform::WaveFormat& format) {
    return CaptureMixer(format, format.samples_per_sec * 150 / 1000,
                        format.samples_per_sec * 60 / 1000);
}

int32_t CaptureMixer::sample_of(const uint8_t* bytes) const {
    if (m_sample_bytes == 1)
        return int32_t(bytes[0]) - 128;
    int16_t sample;
    std::memcpy(&sample, bytes, 2);
    return sample;
}

void CaptureMixer::put_sample(int32_t value, std::vector<uint8_t>& out) const {
    if (m_sample_bytes == 1) {
        out.push_back(uint8_t(std::clamp(value, -128, 127) + 128));
        return;
    }
    const int16_t sample = int16_t(std::clamp(value, -32768, 32767));
    uint8_t bytes[2];
    std::memcpy(bytes, &sample, 2);
    out.insert(out.end(), bytes, bytes + 2);
}

void CaptureMixer::add_primary(const uint8_t* bytes, size_t size, std::vector<uint8_t>& ready) {
    const size_t frame = size_t(m_channels) * m_sample_bytes;
    const size_t frames = size / frame;
    std::lock_guard guard(m_mutex);
    for (size_t i = 0; i < frames * m_channels; ++i)
        m_primary.push_back(sample_of(bytes + i * m_sample_bytes));
    const size_t held = m_primary.size() / m_channels;
    if (held > m_hold)
        emit(held - m_hold, ready);
}

void CaptureMixer::add_secondary(const uint8_t* bytes, size_t size) {
    const size_t frame = size_t(m_channels) * m_sample_bytes;
    const int64_t frames = int64_t(size / frame);
    std::lock_guard guard(m_mutex);
    const int64_t now = m_emitted + int64_t(m_primary.size() / m_channels);
    // Before the microphone delivers there is nothing to align to.
    if (frames == 0 || now == 0)
        return;
    const int64_t ideal = now - frames;
    const int64_t end = m_secondary_end;
    bool place = !m_placed;
    if (m_placed) {
        const int64_t off = ideal > end ? ideal - end : end - ideal;
        // Following on would put the whole chunk where it can no longer be mixed.
        if (off > m_jump || end + frames <= m_emitted) {
            place = true;
        } else if (off > int64_t(m_tolerance)) {
            m_misplaced += frames;
            place = m_misplaced >= m_jump;
        } else {
            m_misplaced = 0;
        }
    }
    if (place) {
        if (m_placed)
            ++m_replacements;
        m_placed = true;
        m_misplaced = 0;
        // What was placed beyond the new place goes; a gap before it stays silent.
        if (end > ideal) {
            const int64_t keep = std::max<int64_t>(0, ideal - m_secondary_start);
            m_secondary.resize(std::min(m_secondary.size(), size_t(keep) * m_channels));
        }
        const int64_t kept_end = m_secondary_start + int64_t(m_secondary.size() / m_channels);
        if (m_secondary.empty() || kept_end < m_emitted) {
            m_secondary.clear();
            m_secondary_start = ideal;
        } else {
            m_secondary.insert(m_secondary.end(), size_t(ideal - kept_end) * m_channels, 0);
        }
        m_secondary_end = ideal;
    } else if (m_secondary.empty()) {
        // Everything placed so far has been mixed or dropped: this follows on from its end.
        m_secondary_start = end;
    }
    m_secondary_end += frames;
    for (int64_t i = 0; i < frames * int64_t(m_channels); ++i)
        m_secondary.push_back(sample_of(bytes + size_t(i) * m_sample_bytes));
    drop_secondary_before(m_emitted);
}

void CaptureMixer::flush(std::vector<uint8_t>& ready) {
    std::lock_guard guard(m_mutex);
    emit(m_primary.size() / m_channels, ready);
}

void CaptureMixer::clear() {
    std::lock_guard guard(m_mutex);
    m_primary.clear();
    m_secondary.clear();
    m_emitted = 0;
    m_secondary_start = 0;
    m_secondary_end = 0;
    m_placed = false;
    m_misplaced = 0;
}

size_t CaptureMixer::held_bytes() const {
    std::lock_guard guard(m_mutex);
    return m_primary.size() * m_sample_bytes;
}

uint64_t CaptureMixer::replacements() const {
    std::lock_guard guard(m_mutex);
    return m_replacements;
}

// Called with m_mutex held.
void CaptureMixer::emit(size_t frames, std::vector<uint8_t>& ready) {
    ready.reserve(ready.size() + frames * m_channels * m_sample_bytes);
    const int64_t secondary_frames = int64_t(m_secondary.size() / m_channels);
    for (size_t f = 0; f < frames; ++f) {
        const int64_t at = m_emitted + int64_t(f) - m_secondary_start;
        const bool mixed = at >= 0 && at < secondary_frames;
        for (uint32_t c = 0; c < m_channels; ++c) {
            int32_t value = m_primary[f * m_channels + c];
            if (mixed)
                value += m_secondary[size_t(at) * m_channels + c];
            put_sample(value, ready);
        }
    }
    m_primary.erase(m_primary.begin(), m_primary.begin() + long(frames * m_channels));
    m_emitted += int64_t(frames);
    drop_secondary_before(m_emitted);
}

// Called with m_mutex held: what belongs before `position` can no longer be mixed.
void CaptureMixer::drop_secondary_before(int64_t position) {
    if (position <= m_secondary_start)
        return;
    const int64_t frames = int64_t(m_secondary.size() / m_channels);
    const int64_t dropped = std::min(frames, position - m_secondary_start);
    m_secondary.erase(m_secondary.begin(), m_secondary.begin() + long(dropped * m_channels));
    m_secondary_start = m_secondary.empty() ? position : m_secondary_start + dropped;
}

} // namespace audio
