#pragma once

// Cutting a record to a stretch of its time without coding it again. MP3 records keep whole
// frames from the one that holds the start to the one that holds the end; the bytes the first
// kept frames take from the bit reservoir of frames left out travel in a silent frame in front
// of them, and an information frame ("Info" with an encoder delay and padding, as LAME writes
// it) tells gapless decoders which samples to leave out, so the sound starts and ends at the
// times asked for. The tag is kept; markers inside the stretch move with it, the others are
// dropped. WAV records are cut at whole blocks.

#include <cstdint>
#include <string>

namespace formats {

struct TrimResult {
    bool ok{false};
    std::string reason;  // why not, in a few English words
    uint32_t kept_ms{0}; // length of the trimmed record
    uint32_t markers{0}; // markers kept
};

// Writes the stretch [start_ms, end_ms) of `source` into the new file `target`. The end is
// clamped to the record's length. Fails (and leaves no `target`) when start >= end, the
// stretch is shorter than one frame or block, the source cannot be read or is not a record
// this can cut, or writing fails.
[[nodiscard]] TrimResult trim_to(const std::u16string& source, const std::u16string& target,
                                 uint32_t start_ms, uint32_t end_ms);

// Trims the record in place: the trimmed file is written beside it and synced, the original
// is given a second name ("NAME (untrimmed).EXT") that goes to the desktop's trash, and the
// trimmed file takes the original's name in one step, keeping its date. At every moment the
// record's name holds the old or the new file whole; on failure the original is untouched.
[[nodiscard]] TrimResult trim_record(const std::u16string& path, uint32_t start_ms,
                                     uint32_t end_ms);

} // namespace formats
