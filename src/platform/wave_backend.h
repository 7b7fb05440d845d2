#pragma once

// The contract between the sound devices (wave_device.cpp, which keeps the queues of headers,
// the messages and the loss counts) and their backends, which only move audio: a backend opens
// streams that call their device's target on the backend's own threads.

#include "platform/wave_device.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class WaveFileSink;

// What a capture stream calls on its device, from the stream's thread.
class CaptureTarget {
public:
    // Captured bytes (whole frames); taken only while started.
    virtual void deliver(const uint8_t* bytes, size_t size) = 0;
    // Bytes the queued buffers can still take, less what the mixer holds back; 0 while not
    // started.
    virtual size_t room() = 0;
    virtual bool started() = 0;
    virtual void add_loss(WaveLossKind kind, uint64_t frames) = 0;
    // The device went away.
    virtual void mark_lost() = 0;
    // Also writes what the device hands on into `tap`; set before the stream runs.
    virtual void set_tap(std::unique_ptr<WaveFileSink> tap) = 0;
    // The second source of a call: its bytes, mixed in while it is wanted.
    virtual void deliver_downlink(const uint8_t* bytes, size_t size) = 0;
    virtual bool downlink_wanted() const = 0;
    virtual void downlink_removed() = 0;

protected:
    ~CaptureTarget() = default;
};

// What a playback stream calls on its device, from the stream's thread.
class PlaybackTarget {
public:
    // Fills `size` bytes from the queued headers, silence where there are none; returns how
    // many came from headers. `resets`, when given, receives the count of resets the bytes
    // were taken after.
    virtual size_t consume(uint8_t* bytes, size_t size, uint64_t* resets = nullptr) = 0;
    // Resets so far.
    virtual uint64_t resets() = 0;
    // Bytes between going out and being heard; set before the stream runs.
    virtual void set_latency(size_t bytes) = 0;
    // The output took `frames` later than the clock says, for good: an underrun where audio
    // was playing.
    virtual void fell_behind(uint64_t frames) = 0;
    virtual void mark_lost() = 0;

protected:
    ~PlaybackTarget() = default;
};

// Moves audio between a device and the system, from its open to its destruction.
class WaveStream {
public:
    virtual ~WaveStream() = default;
    // Capture streams that can be paused at the source deliver only while running.
    virtual void set_running(bool) {}
    // Waits until what the source has captured up to now has been delivered.
    virtual void drain() {}
    // What moves the audio, for the log.
    virtual std::string describe() const { return "paced"; }
};

class WaveBackend {
public:
    virtual ~WaveBackend() = default;
    // Null when no device opens. `call`: the capture is one side of a call.
    virtual std::unique_ptr<WaveStream> open_capture(const WaveFormat& format,
                                                     CaptureTarget& target, bool call) = 0;
    // The call's downlink, delivered through deliver_downlink(); null where there is none.
    virtual std::unique_ptr<WaveStream> open_downlink(const WaveFormat& format,
                                                      CaptureTarget& target) = 0;
    virtual std::unique_ptr<WaveStream> open_playback(const WaveFormat& format,
                                                      PlaybackTarget& target) = 0;
};

// The backend QUILLORY_AUDIO chooses now (wave_device.h).
std::unique_ptr<WaveBackend> chosen_wave_backend();

} // namespace platform
