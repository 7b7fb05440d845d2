#include "platform/wave_backend_null.h"

#include "platform/paced_stream.h"

namespace platform {

namespace {

class NullBackend final : public WaveBackend {
public:
    std::unique_ptr<WaveStream> open_capture(const WaveFormat& format, CaptureTarget& target,
                                             bool) override {
        return open_paced_capture(format, target, 1.0, nullptr);
    }
    std::unique_ptr<WaveStream> open_downlink(const WaveFormat&, CaptureTarget&) override {
        return nullptr;
    }
    std::unique_ptr<WaveStream> open_playback(const WaveFormat& format,
                                              PlaybackTarget& target) override {
        return open_paced_playback(format, target, 1.0, nullptr);
    }
};

} // namespace

std::unique_ptr<WaveBackend> make_null_wave_backend() {
    return std::make_unique<NullBackend>();
}

} // namespace platform
