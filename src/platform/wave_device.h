#pragma once

// Wave input and output as the recorder and the player expect them from the phone: buffers
// (headers) are queued into an open device and handed back, in the order they were queued, with
// WHDR_DONE set in their flags; the device's open, data/done and close messages are posted to a
// window of the owning thread (wparam: the device, lparam: the header for data/done).
//
// One interface for every backend (wave_backend.h); the backend is chosen at every open by the
// environment:
//   QUILLORY_AUDIO=file  the file devices (wave_backend_file.h): WAV files in and out, paced.
//   QUILLORY_AUDIO=null  silent devices paced in real time (wave_backend_null.h).
//   otherwise            the sound server through SDL2 or its own library (wave_backend_sdl.h).
//
// Capture opened with WAVE_CALL_MAPPER mixes the call's downlink (the monitor of the default
// output, or the file backend's QUILLORY_AUDIO_IN_MONITOR) into the microphone, through the
// mixer its owner hands in. Without a monitor or a mixer, or once the monitor has gone away, the
// microphone alone is captured; downlink() tells which.
//
// A device is used by one owner at a time; its operations may be called from any thread.
// Between add_buffer/write and the moment WHDR_DONE is seen, a header belongs to the device: its
// owner reads only `flags` (atomically).

#include "platform/messages.h"

#include <atomic>
#include <cstdint>
#include <memory>
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

enum class WaveDownlink {
    None,        // not asked for (opened without WAVE_CALL_MAPPER)
    Mixed,       // the call's downlink is mixed into the captured stream
    Unavailable, // no monitor of the output could be opened: the microphone alone
    Lost,        // the monitor went away while capturing: the microphone alone from then on
};

// Mixes a second capture source into the microphone's stream; the capture device feeds it from
// both sources' threads (under its own lock) and hands on what it makes ready. The mixing
// itself lives above this layer (audio::CaptureMixer).
class CaptureMix {
public:
    virtual ~CaptureMix() = default;
    // Microphone bytes in (whole frames); the mixed bytes that are ready are appended to `ready`.
    virtual void add_primary(const uint8_t* bytes, size_t size, std::vector<uint8_t>& ready) = 0;
    // Bytes of the second source (whole frames).
    virtual void add_secondary(const uint8_t* bytes, size_t size) = 0;
    // Everything of the microphone still held back, mixed with what the second source has.
    virtual void flush(std::vector<uint8_t>& ready) = 0;
    // Drops what is held on both sides.
    virtual void clear() = 0;
    // Microphone bytes held back.
    virtual size_t held_bytes() const = 0;
};

// Capture. Messages MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_CLOSE go to `window` (0: no messages).
// Buffers are filled only while started; stop returns the buffer being filled (partly filled)
// as done; reset stops and returns every queued buffer. Destroying the device closes it.
class WaveInDevice {
public:
    // Only 8- and 16-bit PCM. `mix` mixes the downlink in when `device_id` is WAVE_CALL_MAPPER.
    [[nodiscard]] static WaveResult open(std::unique_ptr<WaveInDevice>& device, uint32_t device_id,
                                         const WaveFormat& format, WindowHandle window,
                                         std::unique_ptr<CaptureMix> mix = nullptr);
    virtual ~WaveInDevice() = default;

    WaveResult prepare_header(WaveHeader* header);
    WaveResult unprepare_header(WaveHeader* header);
    virtual WaveResult add_buffer(WaveHeader* header) = 0;
    virtual WaveResult start() = 0;
    virtual WaveResult stop() = 0;
    virtual WaveResult reset() = 0;
    // Refused with WAVERR_STILLPLAYING while buffers are queued; posts MM_WIM_CLOSE.
    virtual WaveResult close() = 0;
    // True once the device has gone away (unplugged, its sound server ended). A lost device
    // fills nothing more and takes no new buffers (MMSYSERR_NODRIVER); reset hands back what it
    // holds, and it is closed as usual. The owner's window gets a data message with no header
    // when it happens.
    virtual bool lost() const = 0;
    virtual WaveDownlink downlink() const = 0;
    // Since the device was opened.
    virtual WaveLoss loss() = 0;
    // How capture runs, for the log: the library and source, how its thread is scheduled.
    virtual std::string description() const = 0;
};

// Playback. Messages MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_CLOSE go to `window` (0: none). Headers
// play in the order written and are done once they have been heard: the device's own buffer
// behind them has drained too, so closing after the last one cuts nothing. Pause holds the
// output, restart continues it, reset returns every queued header as done at once and drops
// what the device still holds; the device stays open. Destroying the device closes it.
class WaveOutDevice {
public:
    [[nodiscard]] static WaveResult open(std::unique_ptr<WaveOutDevice>& device, uint32_t device_id,
                                         const WaveFormat& format, WindowHandle window);
    virtual ~WaveOutDevice() = default;

    WaveResult prepare_header(WaveHeader* header);
    WaveResult unprepare_header(WaveHeader* header);
    virtual WaveResult write(WaveHeader* header) = 0;
    virtual WaveResult pause() = 0;
    virtual WaveResult restart() = 0;
    virtual WaveResult reset() = 0;
    // Bytes of the written headers that have been heard since the open or the last reset: what
    // went out, less what the device's own buffer and the sound server behind it still hold.
    virtual uint64_t position() = 0;
    // Low word: left volume, high word: right volume, 0..0xFFFF.
    virtual void set_volume(uint32_t volume) = 0;
    virtual uint32_t volume() = 0;
    // Refused with WAVERR_STILLPLAYING while headers are queued; posts MM_WOM_CLOSE.
    virtual WaveResult close() = 0;
    virtual bool lost() const = 0;
    // Since the device was opened.
    virtual WaveLoss loss() = 0;
};

} // namespace platform
