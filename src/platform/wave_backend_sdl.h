#pragma once

// The sound server's devices. Capture goes through the server's own client library
// (pulse_capture.h) where a PulseAudio server (PulseAudio itself, or PipeWire's) answers and
// SDL's driver is not another (SDL_AUDIODRIVER unset, pulseaudio or pipewire;
// QUILLORY_AUDIO_CAPTURE=sdl turns this off): long fragments, a real-time thread, losses
// reported by the server, and losses it did not report found from its timing reports.
// Otherwise, and for playback, SDL2 (ALSA where nothing else runs) with 100 ms capture periods;
// there capture that falls behind this machine's clock for good counts as lost. When
// QUILLORY_AUDIO_CAPTURE=sdl would meet SDL's pipewire driver, which loses audio under load,
// SDL's pulseaudio driver is taken where a PulseAudio service answers (sdl_audio_driver.h). The
// streams are named for the sound server: "Quillory Vozir", "Recording", "Playback" or "Call
// downlink", roles production and music. A call's downlink is the monitor of the default output,
// opened as a second capture device.

#include "platform/wave_backend.h"

#include <memory>

namespace platform {

std::unique_ptr<WaveBackend> make_sdl_wave_backend();

} // namespace platform
