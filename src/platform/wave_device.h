#pragma once

// Wave input and output as the recorder and the player expect them from the phone: buffers
// (headers) are queued into an open device and handed back, in the order they were queued, with
// WHDR_DONE set in their flags; the device's open, data/done and close messages are posted to a
// window of the owning thread (wparam: the device handle, lparam: the header for data/done).
//
// The devices are chosen at every open by the environment:
//   QUILLORY_AUDIO=file  capture reads the WAV file QUILLORY_AUDIO_IN (then silence); playback
//                        writes the WAV file QUILLORY_AUDIO_OUT (or nothing); both paced at
//                        QUILLORY_AUDIO_SPEED times real time (default 1).
//   QUILLORY_AUDIO=null  silent devices paced in real time.
//   The file and null capture devices read their input only as far as queued buffers can
//   take it, so a slow owner slows them down instead of losing input. Their output holds the
//   last 40 ms in a buffer of its own, as a sound server does, so what is closed before it has
//   drained is lost. For tests of devices that come and go, both take these switches:
//     QUILLORY_AUDIO_REMOVE_AFTER_MS=N  the device goes away after N ms of its audio;
//     QUILLORY_AUDIO_STALL_AFTER_MS=N   the device stops moving after N ms, without a word;
//     QUILLORY_AUDIO_CAPTURED=FILE      capture also writes what it handed on into a WAV file.
//     QUILLORY_AUDIO_DROP_MS=AT:LENGTH[,...] capture leaves out LENGTH ms of its input at AT ms of
//                        device time and counts them lost (a discontinuity), as a server that
//                        dropped audio would; AT:LENGTH:unsaid leaves them out without a word,
//                        as a server that lost audio unawares, and the device's check of the
//                        source's clock has to find them (a gap).
//   otherwise            capture through the sound server's own library where a PulseAudio
//                        server (PulseAudio itself, or PipeWire's) answers and SDL's driver is
//                        not another (SDL_AUDIODRIVER unset, pulseaudio or pipewire;
//                        QUILLORY_AUDIO_CAPTURE=sdl turns this off): long fragments, a real-time
//                        thread, losses reported by the server, and losses it did not report
//                        found from its timing reports. Otherwise, and for playback, SDL2 (ALSA
//                        where nothing else runs) with 100 ms capture periods; there capture
//                        that falls behind this machine's clock for good counts as lost. When
//                        QUILLORY_AUDIO_CAPTURE=sdl would meet SDL's pipewire driver, which
//                        loses audio under load, SDL's pulseaudio driver is taken where a
//                        PulseAudio service answers (see sdl_audio_driver.h). The
//                        streams are named for the sound server: "Quillory Vozir", "Recording",
//                        "Playback" or "Call downlink", roles production and music.
//
// Capture opened with WAVE_CALL_MAPPER mixes the call's downlink into the microphone: the monitor
// of the default output (PulseAudio, or PipeWire through its PulseAudio service, whichever SDL
// driver plays) opened as a second capture device; for the file devices the WAV file
// QUILLORY_AUDIO_IN_MONITOR (then silence), in 30 ms chunks of its own, starting
// QUILLORY_AUDIO_MONITOR_DELAY_MS after capture starts and going away
// QUILLORY_AUDIO_MONITOR_REMOVE_AFTER_MS after that. Without a monitor, or once it has gone away,
// the microphone alone is captured; wave_in_downlink tells which.
//
// All functions may be called from any thread; a handle is used by one owner at a time and is
// invalid after close. Between add/write and the moment WHDR_DONE is seen, a header belongs to
// the device: its owner reads only `flags` (atomically).

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

class WaveInDevice;
class WaveOutDevice;
using WaveIn = WaveInDevice*;
using WaveOut = WaveOutDevice*;

// How many times real time the audio devices run: QUILLORY_AUDIO_SPEED (above 0, at most 1000,
// default 1) for the file devices, 1 for every other device.
double audio_device_speed();

// Capture. Only 8- and 16-bit PCM is accepted. Messages MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_CLOSE go
// to `window` (0: no messages). Buffers are filled only while started; stop returns the buffer
// being filled (partly filled) as done; reset stops and returns every queued buffer.
WaveResult wave_in_open(WaveIn* device, uint32_t device_id, const WaveFormat& format,
                        WindowHandle window);
WaveResult wave_in_prepare_header(WaveIn device, WaveHeader* header);
WaveResult wave_in_unprepare_header(WaveIn device, WaveHeader* header);
WaveResult wave_in_add_buffer(WaveIn device, WaveHeader* header);
WaveResult wave_in_start(WaveIn device);
WaveResult wave_in_stop(WaveIn device);
WaveResult wave_in_reset(WaveIn device);
// Refused with WAVERR_STILLPLAYING while buffers are queued.
WaveResult wave_in_close(WaveIn device);
// True once the device has gone away (unplugged, its sound server ended). A lost device
// fills and plays nothing more and takes no new buffers (MMSYSERR_NODRIVER); reset hands back
// what it holds, and it is closed as usual. The owner's window gets a data/done message with
// no header when it happens.
bool wave_in_lost(WaveIn device);

enum class WaveDownlink {
    None,        // not asked for (opened without WAVE_CALL_MAPPER), or not a device
    Mixed,       // the call's downlink is mixed into the captured stream
    Unavailable, // no monitor of the output could be opened: the microphone alone
    Lost,        // the monitor went away while capturing: the microphone alone from then on
};
WaveDownlink wave_in_downlink(WaveIn device);

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
// Since the device was opened.
WaveLoss wave_in_loss(WaveIn device);
// How capture runs, for the log: the library and source, how its thread is scheduled.
std::string wave_in_description(WaveIn device);
WaveLoss wave_out_loss(WaveOut device);

// Playback. Messages MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_CLOSE go to `window` (0: none). Headers
// play in the order written and are done once they have been heard: the device's own buffer
// behind them has drained too, so closing after the last one cuts nothing. Pause holds the
// output, restart continues it, reset returns every queued header as done at once and drops
// what the device still holds; the device stays open.
WaveResult wave_out_open(WaveOut* device, uint32_t device_id, const WaveFormat& format,
                         WindowHandle window);
WaveResult wave_out_prepare_header(WaveOut device, WaveHeader* header);
WaveResult wave_out_unprepare_header(WaveOut device, WaveHeader* header);
WaveResult wave_out_write(WaveOut device, WaveHeader* header);
WaveResult wave_out_pause(WaveOut device);
WaveResult wave_out_restart(WaveOut device);
WaveResult wave_out_reset(WaveOut device);
// Bytes of the written headers that have been heard since the open or the last reset: what
// went out, less what the device's own buffer and the sound server behind it still hold.
WaveResult wave_out_get_position(WaveOut device, uint64_t* bytes);
// Low word: left volume, high word: right volume, 0..0xFFFF.
WaveResult wave_out_set_volume(WaveOut device, uint32_t volume);
WaveResult wave_out_get_volume(WaveOut device, uint32_t* volume);
WaveResult wave_out_close(WaveOut device);
bool wave_out_lost(WaveOut device);

// Plays a PCM WAV file through the output device and returns once it has been heard. False when
// the file cannot be read, no device opens, or the device goes away or freezes (given up two
// seconds after the sound's end).
bool play_sound_and_wait(const std::u16string& path);

// A short cue played without waiting for it, through the same output as play_sound_and_wait.
// start() reads the file (once) and queues it; the device is closed by the next poll() after the
// sound has been heard, by the next start() (which cuts a cue still playing) or by destruction.
// For one owner thread.
class SoundCue {
public:
    explicit SoundCue(std::u16string path);
    ~SoundCue();
    SoundCue(const SoundCue&) = delete;
    SoundCue& operator=(const SoundCue&) = delete;
    // False when the file cannot be read or no device opens.
    bool start();
    // Closes the device of a heard (or lost) cue; true while the cue still plays.
    bool poll();

private:
    void close();

    std::u16string m_path;
    bool m_loaded{false};
    WaveFormat m_format{};
    std::vector<uint8_t> m_bytes;
    WaveOut m_device{nullptr};
    WaveHeader m_header;
};

} // namespace platform
