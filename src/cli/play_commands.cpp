// quillory-cli play FILE: plays an audio file through the player and the output device until
// its end or Ctrl-C.

#include "audio/player_pcm.h"
#include "cli/command.h"
#include "formats/factory.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/power.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void on_interrupt(int) {
    g_interrupted.store(true);
}

int play(const cli::Arguments& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: quillory-cli play FILE\n");
        return 2;
    }
    std::unique_ptr<audio::FileReader> reader =
        formats::open_reader(foundation::from_utf8(args[0]));
    if (!reader) {
        std::fprintf(stderr, "quillory-cli: %s: not an audio file this program reads\n",
                     args[0].c_str());
        return 1;
    }
    if (!audio::PlayerPCM::can_play(reader->channels(), reader->bits_per_sample(),
                                    reader->sample_rate())) {
        std::fprintf(stderr, "quillory-cli: %s: cannot play sound of %d channels, %d bits, %d Hz\n",
                     args[0].c_str(), reader->channels(), reader->bits_per_sample(),
                     reader->sample_rate());
        return 1;
    }
    platform::AwakeInhibitor awake("Playing a recording");
    audio::PlayerPCM player;
    audio::connect(reader->output(), &player);
    g_interrupted.store(false);
    auto previous = std::signal(SIGINT, on_interrupt);
    bool started = player.play();
    while (started && !player.is_finished() && !g_interrupted.load())
        platform::sleep_ms(50);
    player.stop();
    audio::connect(reader->output(), nullptr);
    std::signal(SIGINT, previous);
    if (!started) {
        std::fprintf(stderr, "quillory-cli: the player could not start\n");
        return 1;
    }
    switch (player.fault()) {
    case audio::PlayerPCM::Fault::NoDevice:
        std::fprintf(stderr, "quillory-cli: no sound output device could be opened\n");
        return 1;
    case audio::PlayerPCM::Fault::DeviceLost:
        std::fprintf(stderr, "quillory-cli: the sound output device went away while playing\n");
        return 1;
    case audio::PlayerPCM::Fault::Format:
        std::fprintf(stderr, "quillory-cli: %s: the sound device cannot play its format\n",
                     args[0].c_str());
        return 1;
    case audio::PlayerPCM::Fault::None:
        break;
    }
    return g_interrupted.load() ? 130 : 0;
}

} // namespace

QV_CLI_COMMAND("play", "play FILE  (play an audio file until its end or Ctrl-C)", play);
