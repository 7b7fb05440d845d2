#include "platform/wave_files.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<WaveFiles*> g_files{nullptr};
} // namespace

void set_wave_files(std::unique_ptr<WaveFiles> files) {
    // Kept to the end of the process: devices may use it up to then.
    delete g_files.exchange(files.release());
}

WaveFiles* wave_files() {
    return g_files.load();
}

} // namespace platform
