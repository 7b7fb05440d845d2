#pragma once

// The writer and reader factories: the one way the controller and the tools open record files.

#include "audio/file_io.h"

#include <memory>
#include <string>

namespace formats {

// A writer for the codec name ("PCM", "mp3", "ADPCM", "GSM"), or null for any other name.
// The WAV writers take their format from the first block pushed into them (or, appending, from
// the file); channels, bits and rate are what the caller means to push, and the format of the
// empty file written when nothing is pushed. bit_rate (bits per second) sets the MP3 encoder.
// With append, the existing file is written at its end (it already holds the ID3 tag);
// otherwise the file is created.
std::unique_ptr<audio::FileWriter> create_writer(const std::u16string& path,
                                                 const std::u16string& codec, int channels,
                                                 int bits, int rate, int bit_rate, bool append);

// What a reader is opened for: playing, or drawing the waveform (where MP3 is decoded the
// cheap way, mono at half the rate).
enum class ReaderUse { Play, Waveform };

// Tries the readers in this order and returns the first that accepts the file: PCM WAV,
// ADPCM WAV, GSM WAV, Vorbis, MPC, mp3. Null when none does.
std::unique_ptr<audio::FileReader> open_reader(const std::u16string& path,
                                               ReaderUse use = ReaderUse::Play);

} // namespace formats
