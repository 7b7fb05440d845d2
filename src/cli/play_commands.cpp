// quillory-cli play FILE [--speed S] [--skip-silence]: plays an audio file through the
// listening stage, the player and the output device until its end or Ctrl-C.

#include "audio/player_pcm.h"
#include "audio/speed_stage.h"
#include "cli/command.h"
#include "controller/settings.h"
#include "formats/factory.h"
#include "foundation/number.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/power.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<bool> g_interrupted{false};

// Short device buffers, so that what is heard follows the listening stage closely.
constexpr int kListeningBufferMs = 15;

extern "C" void on_interrupt(int) {
    g_interrupted.store(true);
}

int play(const cli::Arguments& all) {
    cli::Arguments args;
    double speed = 1.0;
    bool skip = false;
    bool usage_error = false;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == "--speed" && i + 1 < all.size()) {
            speed = foundation::parse_number<double>(all[++i]).value_or(0);
            if (!(speed >= 0.5 && speed <= 3.0))
                usage_error = true;
        } else if (all[i] == "--skip-silence") {
            skip = true;
        } else {
            args.push_back(all[i]);
        }
    }
    if (usage_error || args.size() != 1) {
        std::fprintf(stderr, "usage: quillory-cli play FILE [--speed 0.5..3] [--skip-silence]\n");
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
    audio::SpeedStage listening;
    listening.set_speed(speed);
    controller::Settings settings;
    settings.load_first();
    listening.set_skip_silence(skip, controller::skip_silence_threshold(settings.vas_level));
    const bool plain = speed == 1.0 && !skip;
    if (!plain)
        player.set_buffer_ms(kListeningBufferMs);
    audio::connect(reader->output(), &listening);
    audio::connect(listening.output(), &player);
    g_interrupted.store(false);
    auto previous = std::signal(SIGINT, on_interrupt);
    bool started = player.play();
    while (started && !player.is_finished() && !g_interrupted.load())
        platform::sleep_ms(50);
    player.stop();
    audio::connect(listening.output(), nullptr);
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

QV_CLI_COMMAND("play",
               "play FILE [--speed 0.5..3] [--skip-silence]  (play an audio file until its end or "
               "Ctrl-C, faster or slower with the pitch kept, long pauses cut short)",
               play);
