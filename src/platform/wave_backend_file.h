#pragma once

// The file devices, for tests and for runs without sound: capture reads the WAV file
// QUILLORY_AUDIO_IN (converted to the device's format, then silence); playback writes the WAV
// file QUILLORY_AUDIO_OUT (or nothing; an output file that cannot be made is a device that is
// not there); both paced at QUILLORY_AUDIO_SPEED times real time (default 1). They take the test
// switches of the paced devices (paced_stream.h), and
//   QUILLORY_AUDIO_CAPTURED=FILE  capture also writes what it handed on into a WAV file.
// A call's downlink is the WAV file QUILLORY_AUDIO_IN_MONITOR (then silence), in 30 ms chunks of
// its own, starting QUILLORY_AUDIO_MONITOR_DELAY_MS after capture starts and going away
// QUILLORY_AUDIO_MONITOR_REMOVE_AFTER_MS after that.
//
// The files are read and written through the WAV coding handed in at start-up (wave_files.h).

#include "platform/wave_backend.h"

#include <memory>

namespace platform {

std::unique_ptr<WaveBackend> make_file_wave_backend();

} // namespace platform
