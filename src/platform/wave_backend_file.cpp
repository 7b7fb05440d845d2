#include "platform/wave_backend_file.h"

#include "platform/paced_stream.h"
#include "platform/wave_files.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

WaveFiles* files_for(const std::string& path) {
    WaveFiles* files = wave_files();
    if (!files && !path.empty())
        std::fprintf(stderr, "audio file %s: no WAV coding at hand\n", path.c_str());
    return files;
}

// The file at `path` in the device's format; null (silence) when there is none.
std::unique_ptr<WaveFileSource> source(const std::string& path, const WaveFormat& format) {
    WaveFiles* files = files_for(path);
    return files && !path.empty() ? files->open(path, &format) : nullptr;
}

class FileBackend final : public WaveBackend {
public:
    std::unique_ptr<WaveStream> open_capture(const WaveFormat& format, CaptureTarget& target,
                                             bool) override {
        const std::string captured = environment("QUILLORY_AUDIO_CAPTURED");
        if (!captured.empty()) {
            WaveFiles* files = files_for(captured);
            std::unique_ptr<WaveFileSink> tap = files ? files->create(captured, format) : nullptr;
            if (!tap)
                return nullptr;
            target.set_tap(std::move(tap));
        }
        return open_paced_capture(format, target, audio_device_speed(),
                                  source(environment("QUILLORY_AUDIO_IN"), format));
    }

    std::unique_ptr<WaveStream> open_downlink(const WaveFormat& format,
                                              CaptureTarget& target) override {
        const std::string path = environment("QUILLORY_AUDIO_IN_MONITOR");
        if (path.empty())
            return nullptr;
        return open_paced_downlink(format, target, audio_device_speed(), source(path, format),
                                   environment_ms("QUILLORY_AUDIO_MONITOR_DELAY_MS"),
                                   environment_ms("QUILLORY_AUDIO_MONITOR_REMOVE_AFTER_MS"));
    }

    std::unique_ptr<WaveStream> open_playback(const WaveFormat& format,
                                              PlaybackTarget& target) override {
        const std::string path = environment("QUILLORY_AUDIO_OUT");
        std::unique_ptr<WaveFileSink> sink;
        if (!path.empty()) {
            // An output file that cannot be made is a device that is not there.
            WaveFiles* files = files_for(path);
            sink = files ? files->create(path, format) : nullptr;
            if (!sink)
                return nullptr;
        }
        return open_paced_playback(format, target, audio_device_speed(), std::move(sink));
    }
};

} // namespace

std::unique_ptr<WaveBackend> make_file_wave_backend() {
    return std::make_unique<FileBackend>();
}

} // namespace platform
