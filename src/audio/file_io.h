#pragma once

// What the writer and reader factories hand to the controller, which owns them.

#include "audio/link.h"

#include <string>

namespace audio {

// Destroying a writer completes its file (encoder flushed, final header, closed).
class FileWriter {
public:
    virtual ~FileWriter() = default;
    // Where PCM blocks are pushed.
    virtual Inlet& input() = 0;
    // False once a write to the file has failed; every byte written before stays in the file.
    virtual bool is_valid() const = 0;
};

// Facts about an open audio file.
class AudioInfo {
public:
    virtual ~AudioInfo() = default;
    virtual bool is_valid() const = 0;
    virtual int channels() const = 0;
    virtual int bits_per_sample() const = 0;
    virtual int sample_rate() const = 0;
    virtual int bit_rate() const = 0;
    virtual double duration() const = 0; // seconds
    // Moves the read position to the given time in seconds.
    virtual bool seek(double position) = 0;
};

// Destroying a reader closes its file.
class FileReader : public AudioInfo {
public:
    // Where the player pulls decoded 16-bit PCM from.
    virtual Outlet& output() = 0;
    virtual std::u16string codec_name() const = 0;
};

} // namespace audio
