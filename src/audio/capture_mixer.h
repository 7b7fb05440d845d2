#pragma once

// Mixes a second capture source into the microphone's stream: the call's downlink, taken from
// the monitor of the output, into the one stream a call recording holds.
//
// The microphone is the clock. Its frames are numbered as they arrive; a chunk of the second
// source is placed so that it ends where the microphone stands when it arrives, and later chunks
// follow it without a gap, so that the jitter between two devices does not tear the sound. Only
// when the second source stays out of place for a second (its clock drifts), jumps by more than
// a second, or would follow on where it can no longer be heard (it stalled) is it placed afresh.
// The microphone is handed on `hold` frames late, so that a chunk of the second source arrives
// before the frames it belongs to leave; the two stay aligned within `tolerance` plus one chunk of
// the second source.
//
// Samples are summed and clipped to the sample range: each side of a call keeps the level it was
// spoken at, where an average would halve both; the two rarely peak at the same moment.
//
// Thread-safe: the microphone and the second source deliver on their own threads.

#include "platform/wave_in_device.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace audio {

class CaptureMixer final : public platform::CaptureMix {
public:
    // Only 8-bit (unsigned) and 16-bit (signed, native order) PCM.
    CaptureMixer(const platform::WaveFormat& format, uint32_t hold_frames,
                 uint32_t tolerance_frames);

    // The hold and tolerance used for real devices: 150 ms and 60 ms.
    static CaptureMixer for_devices(const platform::WaveFormat& format);

    // Microphone bytes in (whole frames); the mixed bytes that are ready are appended to `ready`.
    void add_primary(const uint8_t* bytes, size_t size, std::vector<uint8_t>& ready) override;
    // Bytes of the second source (whole frames).
    void add_secondary(const uint8_t* bytes, size_t size) override;
    // Everything of the microphone still held back, mixed with what the second source has.
    void flush(std::vector<uint8_t>& ready) override;
    // Drops what is held on both sides; frames are numbered afresh.
    void clear() override;

    // Microphone bytes held back.
    size_t held_bytes() const override;
    // How often the second source was placed afresh after it had been placed once.
    uint64_t replacements() const;

private:
    void emit(size_t frames, std::vector<uint8_t>& ready);
    void drop_secondary_before(int64_t position);
    int32_t sample_of(const uint8_t* bytes) const;
    void put_sample(int32_t value, std::vector<uint8_t>& out) const;

    const uint32_t m_channels;
    const uint32_t m_sample_bytes;
    const uint32_t m_hold;
    const uint32_t m_tolerance;
    const int64_t m_jump; // a second: further out of place is placed afresh at once

    mutable std::mutex m_mutex;
    std::deque<int32_t> m_primary; // samples not yet handed on, from frame m_emitted
    int64_t m_emitted{0};          // microphone frames handed on
    std::deque<int32_t> m_secondary;
    int64_t m_secondary_start{0}; // frame of m_secondary's first sample
    int64_t m_secondary_end{0};   // frame after the last one placed, mixed or dropped since
    bool m_placed{false};
    int64_t m_misplaced{0}; // frames of the second source that arrived out of place in a row
    uint64_t m_replacements{0};
};

} // namespace audio
