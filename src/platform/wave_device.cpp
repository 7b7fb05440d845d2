#include "platform/wave_device.h"

#include "platform/number.h"
#include "platform/wave_backend.h"
#include "platform/wave_backend_file.h"
#include "platform/wave_backend_null.h"
#include "platform/wave_backend_sdl.h"
#include "platform/wave_queue.h"

#include <cstdlib>
#include <optional>
#include <string_view>

namespace platform {

namespace {

enum class Backend { Sdl, File, Null };

Backend chosen_backend() {
    const char* value = std::getenv("QUILLORY_AUDIO");
    const std::string_view name = value ? value : "";
    if (name == "file")
        return Backend::File;
    if (name == "null")
        return Backend::Null;
    return Backend::Sdl;
}

} // namespace

std::unique_ptr<WaveBackend> chosen_wave_backend() {
    switch (chosen_backend()) {
    case Backend::File:
        return make_file_wave_backend();
    case Backend::Null:
        return make_null_wave_backend();
    case Backend::Sdl:
        break;
    }
    return make_sdl_wave_backend();
}

WaveResult prepare_wave_header(WaveHeader* header) {
    if (!header || !header->data)
        return MMSYSERR_INVALPARAM;
    header->flags.fetch_or(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

WaveResult unprepare_wave_header(WaveHeader* header) {
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (header->flags.load() & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->flags.fetch_and(~uint32_t(WHDR_PREPARED));
    return MMSYSERR_NOERROR;
}

bool acceptable(const WaveFormat& format) {
    return format.format_tag == WAVE_FORMAT_PCM && format.channels >= 1 && format.channels <= 2 &&
           (format.bits_per_sample == 8 || format.bits_per_sample == 16) &&
           format.samples_per_sec >= 1000 && format.samples_per_sec <= 192000;
}

double audio_device_speed() {
    if (chosen_backend() != Backend::File)
        return 1.0;
    const char* text = std::getenv("QUILLORY_AUDIO_SPEED");
    const std::optional<double> speed = parse_number<double>(text ? text : "");
    if (!speed || !(*speed > 0.0 && *speed <= 1000.0))
        return 1.0;
    return *speed;
}

const char* wave_loss_name(WaveLossKind kind) {
    switch (kind) {
    case WaveLossKind::Overflow:
        return "overflow";
    case WaveLossKind::Discontinuity:
        return "discontinuity";
    case WaveLossKind::Underrun:
        return "underrun";
    case WaveLossKind::Gap:
        return "gap";
    }
    return "loss";
}

} // namespace platform
