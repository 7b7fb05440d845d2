#pragma once

// The start and end beeps and the marker tick: short PCM WAV files played through the output
// device (the one chosen for every device, wave_device.h), read through the WAV coding handed
// in at start-up (wave_files.h).

#include "platform/wave_out_device.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Plays a PCM WAV file and returns once it has been heard. False when the file cannot be read,
// no device opens, or the device goes away or freezes (given up two seconds after the sound's
// end).
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
    std::unique_ptr<WaveOutDevice> m_device;
    WaveHeader m_header;
};

} // namespace platform
