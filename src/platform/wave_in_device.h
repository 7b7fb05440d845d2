#pragma once

// Capture: the microphone, or with WAVE_CALL_MAPPER the microphone with the call's downlink (the
// monitor of the default output, or the file backend's QUILLORY_AUDIO_IN_MONITOR) mixed in
// through the mixer its owner hands in. Without a monitor or a mixer, or once the monitor has
// gone away, the microphone alone is captured; downlink() tells which.

#include "platform/wave_device.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

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

} // namespace platform
