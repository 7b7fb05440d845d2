#pragma once

// Wave input and output as the recorder and the player expect them from the phone: what both
// directions share. The devices are wave_in_device.h and wave_out_device.h: buffers (headers)
// are queued into an open device and handed back, in the order they were queued, with
// WHDR_DONE set in their flags; the device's open, data/done and close messages are posted to a
// window of the owning thread (wparam: the device, lparam: the header for data/done).
//
// One interface for every backend (wave_backend.h); the backend is chosen at every open by the
// environment:
//   QUILLORY_AUDIO=file  the file devices (wave_backend_file.h): WAV files in and out, paced.
//   QUILLORY_AUDIO=null  silent devices paced in real time (wave_backend_null.h).
//   otherwise            the sound server through SDL2 or its own library (wave_backend_sdl.h).
//
// A device is used by one owner at a time; its operations may be called from any thread.
// Between add_buffer/write and the moment WHDR_DONE is seen, a header belongs to the device: its
// owner reads only `flags` (atomically).

#include "platform/messages.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using WaveResult = uint32_t;
enum : WaveResult {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_INVALPARAM = 11,
    WAVERR_BADFORMAT = 32,
    WAVERR_STILLPLAYING = 33,
    WAVERR_UNPREPARED = 34,
};

inline constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;
// Capture only: the default microphone with the call's downlink mixed in.
inline constexpr uint32_t WAVE_CALL_MAPPER = 0xFFFFFFFEu;
inline constexpr uint16_t WAVE_FORMAT_PCM = 1;

enum : uint32_t {
    WHDR_DONE = 0x01,
    WHDR_PREPARED = 0x02,
    WHDR_INQUEUE = 0x10,
};

struct WaveFormat {
    uint16_t format_tag{WAVE_FORMAT_PCM};
    uint16_t channels{0};
    uint32_t samples_per_sec{0};
    uint32_t avg_bytes_per_sec{0};
    uint16_t block_align{0};
    uint16_t bits_per_sample{0};
    uint16_t extra_size{0};
};

struct WaveHeader {
    uint8_t* data{nullptr};
    uint32_t buffer_length{0};
    uint32_t bytes_recorded{0}; // capture: bytes the device filled in
    uintptr_t user{0};          // the owner's own use
    std::atomic<uint32_t> flags{0};
};

// Bytes of one frame of a PCM format.
inline uint32_t frame_bytes(const WaveFormat& format) {
    return uint32_t(format.channels) * (format.bits_per_sample / 8u);
}

// What the devices take: PCM of 8 or 16 bits, one or two channels, 1000 to 192000 frames a
// second.
[[nodiscard]] bool acceptable(const WaveFormat& format);

// How many times real time the audio devices run: QUILLORY_AUDIO_SPEED (above 0, at most 1000,
// default 1) for the file devices, 1 for every other device.
double audio_device_speed();

// Audio the sound system lost, counted by kind: how often and how many frames.
enum class WaveLossKind : int {
    Overflow = 0,      // capture: the server's buffer for us overflowed (we took too long)
    Discontinuity = 1, // capture: a hole in the stream (no audio for a stretch of it)
    Underrun = 2,      // playback: the output ran dry between two buffers
    Gap = 3,           // capture: less audio came than the source's clock says it made, unreported
};
inline constexpr int kWaveLossKinds = 4;
struct WaveLoss {
    uint32_t events[kWaveLossKinds]{};
    uint64_t frames[kWaveLossKinds]{};
    uint64_t total_frames() const { return frames[0] + frames[1] + frames[2] + frames[3]; }
    uint32_t total_events() const { return events[0] + events[1] + events[2] + events[3]; }
};
// The name the log gives a kind: "overflow", "discontinuity", "underrun", "gap".
const char* wave_loss_name(WaveLossKind kind);

} // namespace platform
