#include "platform/pcm_converter.h"

#include <SDL.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {

namespace {

bool valid(const PcmLayout& layout) {
    if (layout.channels < 1 || layout.channels > 8 || layout.rate < 1 || layout.rate > 1000000)
        return false;
    if (layout.is_float)
        return layout.bits == 32;
    return layout.bits == 8 || layout.bits == 16 || layout.bits == 24 || layout.bits == 32;
}

// What SDL is given: 24-bit samples are widened to 32 bits first.
SDL_AudioFormat sdl_format(const PcmLayout& layout) {
    if (layout.is_float)
        return AUDIO_F32LSB;
    switch (layout.bits) {
    case 8:
        return AUDIO_U8;
    case 16:
        return AUDIO_S16LSB;
    default:
        return AUDIO_S32LSB;
    }
}

size_t frame_bytes(const PcmLayout& layout) {
    return size_t(layout.channels) * size_t((layout.bits + 7) / 8);
}

} // namespace

std::unique_ptr<PcmConverter> PcmConverter::create(const PcmLayout& from, const PcmLayout& to) {
    if (!valid(from) || !valid(to) || to.bits == 24)
        return nullptr;
    SDL_AudioStream* stream =
        SDL_NewAudioStream(sdl_format(from), uint8_t(from.channels), from.rate, sdl_format(to),
                           uint8_t(to.channels), to.rate);
    if (!stream)
        return nullptr;
    return std::unique_ptr<PcmConverter>(new PcmConverter(from, to, stream));
}

PcmConverter::PcmConverter(const PcmLayout& from, const PcmLayout& to, SDL_AudioStream* stream)
    : m_from(from), m_to(to), m_stream(stream) {}

PcmConverter::~PcmConverter() {
    SDL_FreeAudioStream(m_stream);
}

bool PcmConverter::put(const uint8_t* bytes, size_t size) {
    const size_t frame = frame_bytes(m_from);
    // Complete a frame begun by the last call.
    if (m_partial_size > 0) {
        const size_t taken = std::min(frame - m_partial_size, size);
        std::memcpy(m_partial + m_partial_size, bytes, taken);
        m_partial_size += taken;
        bytes += taken;
        size -= taken;
        if (m_partial_size < frame)
            return true;
        m_partial_size = 0;
        if (!put(m_partial, frame))
            return false;
    }
    const size_t whole = size - size % frame;
    std::memcpy(m_partial, bytes + whole, size - whole);
    m_partial_size = size - whole;
    if (whole == 0)
        return true;
    m_frames_in += whole / frame;
    if (m_from.bits != 24 || m_from.is_float)
        return SDL_AudioStreamPut(m_stream, bytes, int(whole)) == 0;
    // 24-bit samples go in as the top three bytes of 32-bit ones.
    std::vector<uint8_t> wide(whole / 3 * 4);
    for (size_t in = 0, out = 0; in < whole; in += 3, out += 4) {
        wide[out] = 0;
        wide[out + 1] = bytes[in];
        wide[out + 2] = bytes[in + 1];
        wide[out + 3] = bytes[in + 2];
    }
    return SDL_AudioStreamPut(m_stream, wide.data(), int(wide.size())) == 0;
}

void PcmConverter::flush() {
    m_partial_size = 0;
    if (m_from.rate != m_to.rate && !m_flushed) {
        // SDL's resampler keeps back the last few hundred frames at a flush: silence after the
        // input pushes them out, and only as many frames as the input makes are handed out.
        const size_t frames = size_t(m_from.rate / 10) + 1;
        const uint64_t input = m_frames_in;
        std::vector<uint8_t> silence(frames * frame_bytes(m_from),
                                     m_from.bits == 8 && !m_from.is_float ? 0x80 : 0);
        put(silence.data(), silence.size());
        m_frames_in = input;
        m_limit = (input * uint64_t(m_to.rate) + uint64_t(m_from.rate) / 2) / uint64_t(m_from.rate);
    }
    m_flushed = true;
    SDL_AudioStreamFlush(m_stream);
}

size_t PcmConverter::get(uint8_t* bytes, size_t size) {
    const size_t frame = frame_bytes(m_to);
    if (m_limit)
        size = size_t(std::min<uint64_t>(size / frame, *m_limit - m_frames_out)) * frame;
    size -= size % frame;
    if (size == 0)
        return 0;
    const int got = SDL_AudioStreamGet(m_stream, bytes, int(size));
    if (got <= 0)
        return 0;
    m_frames_out += uint64_t(got) / frame;
    return size_t(got);
}

} // namespace platform
