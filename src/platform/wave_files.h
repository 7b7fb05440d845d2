#pragma once

// The WAV files the file devices and the sound player read and write. The coding lives above
// this layer (formats/wave_file.h), which hands it in at start-up, before any device opens;
// until then no file opens.

#include "platform/wave_device.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The PCM of a WAV file, in the format it was opened for.
class WaveFileSource {
public:
    virtual ~WaveFileSource() = default;
    virtual const WaveFormat& format() const = 0;
    // Reads up to `size` bytes, whole frames; returns how many were read (0 at the end).
    virtual size_t read(uint8_t* bytes, size_t size) = 0;
};

// A WAV file being written; completed when destroyed.
class WaveFileSink {
public:
    virtual ~WaveFileSink() = default;
    virtual bool write(const uint8_t* bytes, size_t size) = 0;
};

class WaveFiles {
public:
    virtual ~WaveFiles() = default;
    // The PCM of the WAV file at `path` (UTF-8), converted to `format` where one is given and
    // as stored otherwise. Null when it cannot be read or converted.
    virtual std::unique_ptr<WaveFileSource> open(const std::string& path,
                                                 const WaveFormat* format) = 0;
    // A new PCM WAV file; null when it cannot be made.
    virtual std::unique_ptr<WaveFileSink> create(const std::string& path,
                                                 const WaveFormat& format) = 0;
};

// Called once at start-up, before any device opens.
void set_wave_files(std::unique_ptr<WaveFiles> files);
// Null until set.
WaveFiles* wave_files();

} // namespace platform
