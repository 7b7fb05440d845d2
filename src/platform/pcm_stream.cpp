#include "platform/pcm_stream.h"

#include <SDL.h>

namespace platform {

namespace {

SDL_AudioFormat sdl_format(PcmSample sample) {
    switch (sample) {
    case PcmSample::U8:
        return AUDIO_U8;
    case PcmSample::S16:
        return AUDIO_S16LSB;
    case PcmSample::S32:
        return AUDIO_S32LSB;
    case PcmSample::F32:
        break;
    }
    return AUDIO_F32LSB;
}

} // namespace

std::unique_ptr<PcmStream> PcmStream::create(PcmSample from, int from_channels, int from_rate,
                                             PcmSample to, int to_channels, int to_rate) {
    SDL_AudioStream* stream =
        SDL_NewAudioStream(sdl_format(from), uint8_t(from_channels), from_rate, sdl_format(to),
                           uint8_t(to_channels), to_rate);
    if (!stream)
        return nullptr;
    return std::unique_ptr<PcmStream>(new PcmStream(stream));
}

PcmStream::~PcmStream() {
    SDL_FreeAudioStream(m_stream);
}

bool PcmStream::put(const uint8_t* bytes, size_t size) {
    return SDL_AudioStreamPut(m_stream, bytes, int(size)) == 0;
}

void PcmStream::flush() {
    SDL_AudioStreamFlush(m_stream);
}

size_t PcmStream::get(uint8_t* bytes, size_t size) {
    const int got = SDL_AudioStreamGet(m_stream, bytes, int(size));
    return got > 0 ? size_t(got) : 0;
}

} // namespace platform
