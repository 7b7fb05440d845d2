#pragma once

// Sample format, channel and rate conversion of interleaved PCM through the system's audio
// library: the engine under audio::PcmConverter, which is the program's one PCM converter.
// Bytes go in and come out whole frames at a time.

#include <cstddef>
#include <cstdint>
#include <memory>

struct _SDL_AudioStream;

namespace platform {

enum class PcmSample { U8, S16, S32, F32 }; // little-endian where wider than a byte

class PcmStream {
public:
    // Null when the library cannot convert between these.
    static std::unique_ptr<PcmStream> create(PcmSample from, int from_channels, int from_rate,
                                             PcmSample to, int to_channels, int to_rate);
    ~PcmStream();
    PcmStream(const PcmStream&) = delete;
    PcmStream& operator=(const PcmStream&) = delete;

    // False when out of memory.
    bool put(const uint8_t* bytes, size_t size);
    // The input has ended: what the stream holds becomes available.
    void flush();
    // Takes up to `size` converted bytes; returns how many.
    size_t get(uint8_t* bytes, size_t size);

private:
    explicit PcmStream(_SDL_AudioStream* stream) : m_stream(stream) {}
    _SDL_AudioStream* m_stream;
};

} // namespace platform
