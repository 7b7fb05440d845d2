// quillory-cli peaks FILE --width N: the waveform of a record in N columns, one line each
// ("peak rms" as fractions of full scale), from the waveform cache or decoded and then cached.

#include "cli/command.h"
#include "controller/peak_cache.h"
#include "foundation/number.h"
#include "foundation/text.h"

#include <cstdio>
#include <cstdlib>

namespace {

int peaks(const cli::Arguments& args) {
    std::string file;
    long width = 0;
    bool usage_error = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--width" && i + 1 < args.size()) {
            width = foundation::parse_number<long>(args[++i]).value_or(0);
            if (width < 1 || width > 100000)
                usage_error = true;
        } else if (file.empty() && !args[i].starts_with("--")) {
            file = args[i];
        } else {
            usage_error = true;
        }
    }
    if (usage_error || file.empty() || width == 0) {
        std::fprintf(stderr, "usage: quillory-cli peaks FILE --width N  (N from 1 to 100000)\n");
        return 2;
    }
    const std::u16string path = foundation::from_utf8(file);
    audio::Peaks peaks;
    controller::PeakCache cache;
    double duration = 0;
    if (!controller::record_peaks(path, peaks, cache, &duration)) {
        std::fprintf(stderr, "quillory-cli: %s: not an audio file this program reads\n",
                     file.c_str());
        return 1;
    }
    const uint64_t span = controller::span_frames(peaks, duration);
    const auto columns = peaks.columns(int(width), span);
    for (const audio::PeakColumn& column : columns)
        std::printf("%.5f\t%.5f\n", column.peak, column.rms);
    if (span > peaks.frames())
        std::fprintf(stderr,
                     "quillory-cli: %s: only the first %.1f s of %.1f s could be decoded (%zu of "
                     "%ld columns)\n",
                     file.c_str(), peaks.seconds(), duration, columns.size(), width);
    return 0;
}

} // namespace

QV_CLI_COMMAND("peaks", "peaks FILE --width N  (the waveform: peak and RMS of N columns)", peaks);
