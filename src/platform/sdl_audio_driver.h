#pragma once

// SDL's audio subsystem, started with the driver capture needs. SDL's pipewire driver takes
// the server's audio on its own thread in the graph's periods (a few dozen milliseconds), with
// a few periods of slack and no word when they run out: on a busy machine it loses much of the
// audio, even with that thread real-time, and the server cannot be told to keep more. So where
// capture goes through SDL (QUILLORY_AUDIO_CAPTURE=sdl) and SDL would take its pipewire driver
// (SDL_AUDIODRIVER unset or pipewire), its pulseaudio driver is taken when a PulseAudio service
// answers (PulseAudio itself, or PipeWire's): the server keeps the stream's audio until it is
// read. Otherwise SDL chooses as it is told.

namespace platform {

// As SDL_InitSubSystem(SDL_INIT_AUDIO), counted the same way (SDL_QuitSubSystem ends it); the
// driver is chosen when the subsystem starts. Any thread.
[[nodiscard]] bool start_sdl_audio();

} // namespace platform
