#pragma once

// Capture through the sound server's own client library (libpulse), which PulseAudio and
// PipeWire (through its PulseAudio service) both answer. A recording needs no low latency, so
// the server is asked for long fragments: it keeps the audio in its own buffer (seconds of it)
// and hands it over a few times a second, and a busy machine delays the hand-over instead of
// losing audio. The library's thread runs at real-time priority where the system allows it
// (else as high as allowed) and only copies what arrives on to `data`.
//
// What the server reports as lost reaches `lost`: an overflow of its buffer for the stream
// (the audio missing is estimated from the clock: what should have arrived since the previous
// look and did not), and holes in the stream (exact). So does what it loses without a word
// (a gap): the stream's position, as the server's timing reports tell it, falling behind the
// clock for good. The stream carries the application's
// name, its own name and the role "production", so that the server shows and routes it.
//
// Callbacks run on the library's thread. All operations are for the owner's thread.

#include "platform/wave_device.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class PulseCapture {
public:
    enum class Source {
        Default,       // the default source: the microphone
        OutputMonitor, // the monitor of the default output: what is played, a call's downlink
    };
    enum class Loss { Overflow, Hole, Gap };
    using Data = std::function<void(const uint8_t* bytes, size_t size)>;
    using Lost = std::function<void(Loss kind, uint64_t frames)>;

    // Null when no server answers within a second or two, or the source cannot be captured.
    // `fragment_ms`: how much audio each hand-over carries. The stream starts paused.
    static std::unique_ptr<PulseCapture> open(const WaveFormat& format, Source source,
                                              const char* stream_name, uint32_t fragment_ms,
                                              Data data, std::function<void()> removed, Lost lost);
    ~PulseCapture();
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    // Resumes or pauses the stream; a resumed stream delivers what is captured from then on.
    void set_running(bool running);
    // Waits (at most a fragment and a little more) until everything the server has captured up
    // to now has been handed to `data`.
    void drain();
    // The name of the source captured, and how the library's thread is scheduled.
    std::string source_name() const;
    std::string scheduling() const;

    struct State;

private:
    explicit PulseCapture(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

} // namespace platform
