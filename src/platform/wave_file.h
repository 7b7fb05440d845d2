#pragma once

// The small WAV reader and writer the file-backed audio devices and the sound player use.
// PCM only; everything else is refused.

#include "platform/wave_device.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

class WaveFileReader {
public:
    WaveFileReader() = default;
    ~WaveFileReader();
    WaveFileReader(const WaveFileReader&) = delete;
    WaveFileReader& operator=(const WaveFileReader&) = delete;

    // False for a missing file or anything but an 8- or 16-bit PCM WAV with a data chunk.
    bool open(const std::string& path);
    const WaveFormat& format() const { return m_format; }
    uint32_t data_size() const { return m_data_size; }
    // Reads up to `size` bytes of the data chunk; returns how many were read (0 at its end).
    size_t read(uint8_t* bytes, size_t size);

private:
    std::FILE* m_file{nullptr};
    WaveFormat m_format;
    uint32_t m_data_size{0};
    uint32_t m_remaining{0};
};

class WaveFileWriter {
public:
    WaveFileWriter() = default;
    ~WaveFileWriter(); // completes the header
    WaveFileWriter(const WaveFileWriter&) = delete;
    WaveFileWriter& operator=(const WaveFileWriter&) = delete;

    bool create(const std::string& path, const WaveFormat& format);
    bool write(const uint8_t* bytes, size_t size);
    void close();

private:
    std::FILE* m_file{nullptr};
    uint64_t m_data_size{0};
};

} // namespace platform
