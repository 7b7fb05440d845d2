#pragma once

// The streams of the file and null devices: a thread moves a chunk of audio at the pace of real
// time (times the devices' speed). Capture reads a source (silence without one) only as far as
// queued buffers can take it, so a slow owner slows it down instead of losing input. Playback
// holds the last 40 ms in a buffer of its own, as a sound server does, so what is closed
// before it has drained is lost. For tests of devices that come and go, both take these
// switches, read at the open:
//   QUILLORY_AUDIO_REMOVE_AFTER_MS=N  the device goes away after N ms of its audio;
//   QUILLORY_AUDIO_STALL_AFTER_MS=N   the device stops moving after N ms, without a word;
//   QUILLORY_AUDIO_CAPTURE_START_AFTER_MS=N  capture delivers nothing for its first N ms, as a
//                      sound server slow to start;
//   QUILLORY_AUDIO_DROP_MS=AT:LENGTH[,...] capture leaves out LENGTH ms of its input at AT ms of
//                      device time and counts them lost (a discontinuity), as a server that
//                      dropped audio would; AT:LENGTH:unsaid leaves them out without a word, as
//                      a server that lost audio unawares, and the device's check of the source's
//                      clock has to find them (a gap).

#include "platform/wave_backend.h"
#include "platform/wave_files.h"

#include <cstdint>
#include <memory>

namespace platform {

// Capture at `speed` times real time from `source` (silence after its end, or without one).
std::unique_ptr<WaveStream> open_paced_capture(const WaveFormat& format, CaptureTarget& target,
                                               double speed,
                                               std::unique_ptr<WaveFileSource> source);

// A call's downlink from `source` (then silence), in 30 ms chunks: its time runs while capture
// is started; it begins `delay_ms` after the start and goes away `remove_ms` after it began
// (0: never).
std::unique_ptr<WaveStream> open_paced_downlink(const WaveFormat& format, CaptureTarget& target,
                                                double speed,
                                                std::unique_ptr<WaveFileSource> source,
                                                uint64_t delay_ms, uint64_t remove_ms);

// Playback at `speed` times real time; what is heard goes into `sink` where there is one.
std::unique_ptr<WaveStream> open_paced_playback(const WaveFormat& format, PlaybackTarget& target,
                                                double speed, std::unique_ptr<WaveFileSink> sink);

// A whole positive number of milliseconds from the environment; 0 when unset or anything else.
uint64_t environment_ms(const char* name);

} // namespace platform
