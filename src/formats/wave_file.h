#pragma once

// PCM WAV files for the file sound devices and the sound player, through the program's one WAV
// coding (wav_reader.h, wav_writer.h): the platform layer's file devices read and write their
// WAV files through what use_wave_files() hands them.

#include "platform/wave_files.h"

#include <memory>
#include <string>

namespace formats {

// The PCM of a WAV file (`path` in UTF-8) converted to `format`, or as stored without one
// (8-bit unsigned, 16, 24 or 32-bit signed). Null when it is not a PCM WAV file or cannot be
// converted.
std::unique_ptr<platform::WaveFileSource> open_wave_file(const std::string& path,
                                                         const platform::WaveFormat* format);
// A new PCM WAV file; null when the file cannot be made.
std::unique_ptr<platform::WaveFileSink> create_wave_file(const std::string& path,
                                                         const platform::WaveFormat& format);

// Hands the two above to the platform layer; at start-up, before any device opens. Once is
// enough; more calls change nothing.
void use_wave_files();

} // namespace formats
