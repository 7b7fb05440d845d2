#pragma once

// Converts interleaved PCM between sample layouts: 8-bit unsigned, 16-, 24- and 32-bit signed
// little-endian or 32-bit float samples, 1 to 8 channels, any rate. Used where audio reaches a
// device that cannot take it as it is.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace platform {
class PcmStream;
}

namespace audio {

struct PcmLayout {
    int channels{0};
    int bits{0};
    int rate{0};
    bool is_float{false};
    bool operator==(const PcmLayout&) const = default;
};

class PcmConverter {
public:
    // Null when the layouts are outside the ones above or cannot be converted.
    static std::unique_ptr<PcmConverter> create(const PcmLayout& from, const PcmLayout& to);
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    // Takes input bytes; a partial frame waits for its rest. False when out of memory.
    bool put(const uint8_t* bytes, size_t size);
    // The input has ended: what the converter still holds becomes available, all of it (as
    // many frames as the input makes at the new rate). Nothing is put after it.
    void flush();
    // Takes up to `size` converted bytes, whole frames only; returns how many.
    size_t get(uint8_t* bytes, size_t size);

private:
    PcmConverter(const PcmLayout& from, const PcmLayout& to,
                 std::unique_ptr<platform::PcmStream> stream);

    PcmLayout m_from;
    PcmLayout m_to;
    std::unique_ptr<platform::PcmStream> m_stream;
    uint8_t m_partial[32]{}; // the start of an input frame not yet whole
    size_t m_partial_size{0};
    uint64_t m_frames_in{0};  // whole input frames put
    uint64_t m_frames_out{0}; // output frames taken
    bool m_flushed{false};
    std::optional<uint64_t> m_limit; // after a flush with resampling: the output frames due
};

} // namespace audio
