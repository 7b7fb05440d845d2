#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/wave_in_device.h"
#include "platform/wave_out_device.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <SDL.h>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace platform;
using testing_support::ScopedEnv;
using testing_support::wait_for;
using testing_support::Watchdog;

WaveFormat mono16(uint32_t rate) {
    WaveFormat format;
    format.channels = 1;
    format.samples_per_sec = rate;
    format.bits_per_sample = 16;
    format.block_align = 2;
    format.avg_bytes_per_sec = rate * 2;
    return format;
}

std::vector<Message> take_messages(WindowHandle window, size_t count) {
    std::vector<Message> taken;
    Message message;
    while (taken.size() < count && get_message(message, window))
        taken.push_back(message);
    return taken;
}

TEST(WaveDevice, CaptureHandsBuffersBackInOrderWithMessages) {
    Watchdog watchdog(30);
    ScopedEnv audio_env("QUILLORY_AUDIO", "null");
    WindowHandle window =
        create_window([](WindowHandle, uint32_t, WParam, LParam) -> LResult { return 0; });
    std::unique_ptr<WaveInDevice> device;
    ASSERT_EQ(WaveInDevice::open(device, WAVE_MAPPER, mono16(8000), window), MMSYSERR_NOERROR);
    std::vector<uint8_t> storage[3];
    WaveHeader headers[3];
    for (int i = 0; i < 3; ++i) {
        storage[i].assign(320, 0xAB);
        headers[i].data = storage[i].data();
        headers[i].buffer_length = 320;
        EXPECT_EQ(device->add_buffer(&headers[i]), WAVERR_UNPREPARED);
        ASSERT_EQ(device->prepare_header(&headers[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(device->add_buffer(&headers[i]), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    std::vector<Message> messages = take_messages(window, 4);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].message, MM_WIM_OPEN);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[size_t(i) + 1].message, MM_WIM_DATA);
        EXPECT_EQ(messages[size_t(i) + 1].lparam, LParam(&headers[i]));
        EXPECT_TRUE(headers[i].flags.load() & WHDR_DONE);
        EXPECT_EQ(headers[i].bytes_recorded, 320u);
        EXPECT_EQ(storage[i][100], 0); // the null device records silence
    }
    // A queued header keeps the device from closing until it is reset.
    ASSERT_EQ(device->add_buffer(&headers[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(device->unprepare_header(&headers[0]), WAVERR_STILLPLAYING);
    EXPECT_EQ(device->close(), WAVERR_STILLPLAYING);
    EXPECT_EQ(device->reset(), MMSYSERR_NOERROR);
    EXPECT_EQ(device->close(), MMSYSERR_NOERROR);
    destroy_window(window);
}

TEST(WaveDevice, SdlStreamsAreNamedForTheSoundServer) {
    Watchdog watchdog(30);
    ScopedEnv audio_env("QUILLORY_AUDIO", "sdl");
    ScopedEnv driver_env("SDL_AUDIODRIVER", "dummy");
    auto hint = [](const char* name) {
        const char* value = SDL_GetHint(name);
        return std::string(value ? value : "");
    };
    std::unique_ptr<WaveOutDevice> out;
    ASSERT_EQ(WaveOutDevice::open(out, WAVE_MAPPER, mono16(22050), 0), MMSYSERR_NOERROR);
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
    ASSERT_EQ(WaveInDevice::open(in, WAVE_MAPPER, mono16(22050), 0), MMSYSERR_NOERROR);
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
