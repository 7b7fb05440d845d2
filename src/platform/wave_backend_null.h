#pragma once

// Silent devices paced in real time: capture hands on silence, playback plays into nothing.
// They take the test switches of the paced devices (paced_stream.h).

#include "platform/wave_backend.h"

#include <memory>

namespace platform {

std::unique_ptr<WaveBackend> make_null_wave_backend();

} // namespace platform
