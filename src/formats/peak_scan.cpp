#include "formats/peak_scan.h"

#include "formats/factory.h"

namespace formats {

namespace {
constexpr int kPullBytes = 16384;
// Blocks between two progress reports (about three seconds of a 22 kHz preview each).
constexpr int kProgressBlocks = 64;
} // namespace

PeakScan scan_peaks(const std::u16string& path, audio::Peaks& peaks,
                    const std::atomic<bool>* cancel,
                    const std::function<void(const audio::Peaks&)>& progress) {
    PeakScan scan;
    std::unique_ptr<audio::FileReader> reader = open_reader(path, ReaderUse::Waveform);
    if (!reader)
        return scan;
    scan.opened = true;
    scan.duration = reader->duration();
    peaks.reset(reader->sample_rate());
    int blocks = 0;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            scan.cancelled = true;
            break;
        }
        audio::AudioBlock block;
        reader->output().get_data(block, kPullBytes);
        if (block.empty())
            break;
        peaks.add(block);
        if (progress && ++blocks % kProgressBlocks == 0)
            progress(peaks);
    }
    if (progress)
        progress(peaks);
    return scan;
}

} // namespace formats
