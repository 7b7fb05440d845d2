#include "mix_check.h"
#include "platform/memory.h"
#include "platform/wave_in_device.h"
#include "platform/wave_out_device.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <SDL.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

using namespace platform;
using testing_support::ScopedEnv;
using testing_support::wait_for;
using testing_support::Watchdog;

TEST(WaveDevice, SdlStreamsAreNamedForTheSoundServer) {
    Watchdog watchdog(30);
    ScopedEnv audio_env("QUILLORY_AUDIO", "sdl");
    ScopedEnv driver_env("SDL_AUDIODRIVER", "dummy");
    auto hint = [](const char* name) {
        const char* value = SDL_GetHint(name);
        return std::string(value ? value : "");
    };
    std::unique_ptr<WaveOutDevice> out;
    ASSERT_EQ(WaveOutDevice::open(out, WAVE_MAPPER, audio_test::mono(22050, 16), 0),
              MMSYSERR_NOERROR);
    EXPECT_EQ(hint(SDL_HINT_AUDIO_DEVICE_APP_NAME), "Quillory Vozir");
    EXPECT_EQ(hint(SDL_HINT_APP_NAME), "Quillory Vozir");
    EXPECT_EQ(hint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME), "Playback");
    const std::string playback_role = hint(SDL_HINT_AUDIO_DEVICE_STREAM_ROLE);
    EXPECT_FALSE(playback_role.empty() || playback_role == "Game" || playback_role == "game");
    // Through SDL's own thread: a written buffer comes back done once the device moved past it.
    std::vector<uint8_t> samples(4410, 0);
    WaveHeader header;
    header.data = samples.data();
    header.buffer_length = uint32_t(samples.size());
    ASSERT_EQ(out->prepare_header(&header), MMSYSERR_NOERROR);
    ASSERT_EQ(out->write(&header), MMSYSERR_NOERROR);
    ASSERT_TRUE(wait_for([&] { return header.flags.load() & WHDR_DONE; }));
    EXPECT_EQ(out->unprepare_header(&header), MMSYSERR_NOERROR);
    EXPECT_FALSE(out->lost());
    EXPECT_EQ(out->close(), MMSYSERR_NOERROR);
    std::unique_ptr<WaveInDevice> in;
    ASSERT_EQ(WaveInDevice::open(in, WAVE_MAPPER, audio_test::mono(22050, 16), 0),
              MMSYSERR_NOERROR);
    EXPECT_EQ(hint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME), "Recording");
    const std::string recording_role = hint(SDL_HINT_AUDIO_DEVICE_STREAM_ROLE);
    EXPECT_FALSE(recording_role.empty() || recording_role == "Game" || recording_role == "game");
    EXPECT_EQ(in->close(), MMSYSERR_NOERROR);
}

TEST(Memory, UnreadableFigureIsUnknownNotZero) {
    testing_support::TempDir dir;
    EXPECT_FALSE(available_physical_memory_from((dir / "missing").c_str()).has_value());
    auto write = [&](const std::string& text) {
        std::ofstream((dir / "meminfo").string()) << text;
        return available_physical_memory_from((dir / "meminfo").c_str());
    };
    EXPECT_FALSE(write("MemTotal: 1000 kB\n").has_value());
    EXPECT_FALSE(write("MemAvailable: kB\n").has_value());
    EXPECT_FALSE(write("MemAvailable: 99999999999999999999999 kB\n").has_value());
    EXPECT_EQ(write("MemTotal: 9 kB\nMemAvailable:    2048 kB\n"), uint64_t(2048) * 1024);
}

} // namespace
