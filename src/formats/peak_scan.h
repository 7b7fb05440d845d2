#pragma once

// Builds a record's waveform by decoding it from start to end (MP3 the cheap way).

#include "audio/peaks.h"

#include <atomic>
#include <functional>
#include <string>

namespace formats {

struct PeakScan {
    bool opened{false};    // a reader accepted the file
    bool cancelled{false}; // stopped early on request
    double duration{0.0};  // seconds, as the reader tells it before decoding
};

// Decodes the file into `peaks` until its end, the first block that cannot be decoded (a
// damaged file keeps the waveform of what was read), or `cancel` turning true. `progress`, when
// given, sees the waveform now and then while it grows (on the calling thread).
PeakScan scan_peaks(const std::u16string& path, audio::Peaks& peaks,
                    const std::atomic<bool>* cancel = nullptr,
                    const std::function<void(const audio::Peaks&)>& progress = {});

} // namespace formats
