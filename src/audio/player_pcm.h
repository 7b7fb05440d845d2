#pragma once

#include "audio/link.h"

#include <memory>

namespace audio {

class PlayerPCMImpl;

// Plays PCM pulled from the reader connected to it (its peer) through the wave output device.
// Its own thread (above normal priority) pulls at most 16384 bytes at a time, keeps up to six
// 200 ms buffers queued in the device, and measures the peak level of every buffer played.
// A change of format in the stream closes the device and opens it again for the new format.
// Streams the device cannot take as they are (24- or 32-bit samples, more than two channels,
// rates outside 1000..192000 Hz) are converted on the way to 16 bits and at most two channels;
// what cannot be converted ends the playback with Fault::Format. A playback is finished once
// its last buffer has been heard, not merely handed to the device.
//
// Threads: play(), stop(), pause(), set_volume() and the queries from the user-interface
// thread; they only set requests that the player thread carries out. Every change to the
// device and the buffers happens on the player thread under this inlet's lock, which connect()
// takes too, so a reader can be attached or removed at any time (call stop() first).
class PlayerPCM : public Inlet {
public:
    PlayerPCM();
    ~PlayerPCM() override;

    // Starts playing from the reader, or resumes after pause(). False if the request could not
    // be posted.
    bool play();
    // Ends playback: the device is reset and closed, and is_finished() turns true.
    bool stop();
    // Holds the output where it is; play() continues from there.
    bool pause();
    // True before the first play() and once playback has ended.
    [[nodiscard]] bool is_finished() const;

    // Why the last playback ended early, if it did; cleared by play().
    enum class Fault {
        None,
        NoDevice,   // no output device could be opened
        DeviceLost, // the device went away while playing
        Format,     // the stream's format can be neither played nor converted
    };
    Fault fault() const;
    // Whether a stream of this format is played (as it is or converted).
    [[nodiscard]] static bool can_play(int channels, int bits, int rate);
    // 0..1, clamped; applied to both channels.
    void set_volume(double volume);
    double volume() const;
    // Peak of the last buffer played on channel 0 (channel <= 0) or 1, 0..1.
    double level(int channel) const;
    // Frames pulled from the reader since the device was last opened.
    int32_t frames_pulled() const;
    // Of those, the frames that have been heard: what the buffers and the device still hold
    // is not counted. After the device has closed, the count it had last.
    int32_t frames_heard() const;
    // The length of each of the six buffers from the next opening of the device on: 200 ms
    // (the default) keeps 1.2 s queued; a listening stage in front that must change what is
    // heard within 0.1 s asks for 15 ms.
    void set_buffer_ms(int milliseconds);

    // Not supported: a player only pulls.
    void on_data(const AudioBlock& block) override;

private:
    std::unique_ptr<PlayerPCMImpl> m_impl;
};

} // namespace audio
