#pragma once

// Playback through the output device the environment chooses (wave_device.h).

#include "platform/wave_device.h"

#include <cstdint>
#include <memory>

namespace platform {

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
