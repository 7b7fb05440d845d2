#pragma once

// What the writer and reader factories hand to the controller, which owns them.

#include "audio/link.h"

#include <functional>
#include <string>

namespace audio {

// A writer keeps what it was given safe against a killed process: its buffered output reaches
// the file (and a WAV header its current sizes) at least every half second of audio or of time.
// An empty block pushed into input() carries no data; it only gives the writer the chance to
// write out what is due by time (the recording buffer sends one while it waits).
//
// Destroying a writer completes its file (encoder flushed, final header, closed).
class FileWriter {
public:
    virtual ~FileWriter() = default;
    // Where PCM blocks are pushed.
    virtual Inlet& input() = 0;
    // False once a write to the file has failed or the writer had to give up (a block it cannot
    // take, a file that would grow past what its format can describe); every byte written
    // before stays in the file.
    [[nodiscard]] virtual bool is_valid() const = 0;
    // Completes the file now: encoder flushed, buffers written, final header, closed. True only
    // when the writer stayed valid and all of it reached the file. Later calls give the same
    // answer; input() takes nothing more.
    [[nodiscard]] virtual bool complete() = 0;
    // Whether coded audio from this writer reached the file (a file that was only appended to
    // does not count what it held before).
    [[nodiscard]] virtual bool has_audio() const = 0;
    // Runs `work` (which may write the file anew under its name, as a tag that outgrows its
    // room is written) while the writer holds the file closed, with everything given to it so
    // far in the file; writing then goes on at the end of what is under the name. Returns what
    // `work` returned; false without running it for writers that cannot close their file.
    [[nodiscard]] virtual bool while_closed(const std::function<bool()>& work) {
        (void)work;
        return false;
    }
};

// Facts about an open audio file.
class AudioInfo {
public:
    virtual ~AudioInfo() = default;
    [[nodiscard]] virtual bool is_valid() const = 0;
    virtual int channels() const = 0;
    virtual int bits_per_sample() const = 0;
    virtual int sample_rate() const = 0;
    virtual int bit_rate() const = 0;
    virtual double duration() const = 0; // seconds
    // Moves the read position to the given time in seconds.
    [[nodiscard]] virtual bool seek(double position) = 0;
};

// Destroying a reader closes its file.
class FileReader : public AudioInfo {
public:
    // Where the player pulls decoded 16-bit PCM from.
    virtual Outlet& output() = 0;
    virtual std::u16string codec_name() const = 0;
};

} // namespace audio
