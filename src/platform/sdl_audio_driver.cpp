#include "platform/sdl_audio_driver.h"

#include <SDL.h>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace platform {

namespace {

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::mutex g_start_mutex;

} // namespace

bool start_sdl_audio() {
    std::lock_guard guard(g_start_mutex);
    const std::string_view driver = environment("SDL_AUDIODRIVER");
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0 && environment("QUILLORY_AUDIO_CAPTURE") == "sdl" &&
        (driver.empty() || driver == "pipewire")) {
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "pulseaudio", SDL_HINT_OVERRIDE);
        const bool started = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
        if (started)
            return true;
    }
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

} // namespace platform
