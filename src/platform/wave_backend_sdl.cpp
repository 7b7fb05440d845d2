#include "platform/wave_backend_sdl.h"

#include "platform/pulse_capture.h"
#include "platform/sdl_audio_driver.h"
#include "platform/stream_gaps.h"
#include "platform/thread_priority.h"

#include <SDL.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

namespace {

using Transfer = std::function<void(uint8_t*, size_t)>;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

SDL_AudioFormat sdl_format(const WaveFormat& format) {
    return format.bits_per_sample == 8 ? AUDIO_U8 : AUDIO_S16SYS;
}

// SDL's capture periods: long for a recording; short when a call's two sides are mixed, as the
// two devices' periods do not line up.
constexpr uint32_t kSdlNoteCaptureMs = 100;
constexpr uint32_t kSdlCallCaptureMs = 20;

// The stream hints are read by the open; devices open on several threads.
std::mutex g_sdl_open_mutex;

class SdlPump : public WaveStream {
public:
    enum class Target { Default, OutputMonitor };

    // `removed` is called (on any thread) when the device goes away. Capture from the output's
    // monitor fails when the sound server has none.
    // `capture_ms`: the capture period asked for. `gap` is told (on SDL's thread) how many
    // frames the device has handed over or taken less than the clock of this machine says it
    // should have, for good: SDL reports no loss of its own.
    static std::unique_ptr<SdlPump>
    open(const WaveFormat& format, bool capture, Transfer transfer, std::function<void()> removed,
         Target target = Target::Default, uint32_t capture_ms = kSdlNoteCaptureMs,
         std::function<void(uint64_t)> gap = {}, std::function<void(size_t)> latency = {}) {
        // The sound server shows and remembers streams by these names. SDL's PulseAudio driver
        // gives its streams no role; libpulse adds the one in the environment to its clients.
        static std::once_flag role_once;
        std::call_once(role_once, [] { setenv("PULSE_PROP_media.role", "music", 0); });
        SDL_SetHint(SDL_HINT_APP_NAME, "Quillory Vozir");
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Quillory Vozir");
        // Monitors are listed only when this is set before the audio subsystem starts, and it
        // may be started already by any device.
        SDL_SetHint(SDL_HINT_AUDIO_INCLUDE_MONITORS, "1");
        if (!start_sdl_audio())
            return nullptr;
        std::unique_ptr<SdlPump> pump(new SdlPump(std::move(transfer), std::move(removed)));
        pump->m_capture = capture;
        pump->m_gap = std::move(gap);
        pump->m_rate = format.samples_per_sec;
        pump->m_frame_bytes = frame_bytes(format);
        // A server may move its hand-overs by up to a period of its own for good when it changes
        // its period: less than that is not taken for a loss.
        pump->m_gaps.set_rate(format.samples_per_sec, 3000, 50);
        const bool monitor = target == Target::OutputMonitor;
        SDL_AudioSpec wanted{};
        wanted.freq = int(format.samples_per_sec);
        wanted.format = sdl_format(format);
        wanted.channels = uint8_t(format.channels);
        // A recording needs no low latency: capture asks for long periods, which the server (or
        // the sound card) fills without waking us often, and a busy machine has that much time
        // to take each one.
        wanted.samples = capture ? uint16_t(std::clamp<uint32_t>(
                                       format.samples_per_sec * capture_ms / 1000, 64, 16384))
                                 : 1024;
        wanted.callback = &SdlPump::callback;
        wanted.userdata = pump.get();
        SDL_AudioSpec obtained{};
        {
            std::lock_guard guard(g_sdl_open_mutex);
            std::string name;
            if (monitor) {
                name = output_monitor_name();
                if (name.empty())
                    return nullptr;
            }
            SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, monitor   ? "Call downlink"
                                                           : capture ? "Recording"
                                                                     : "Playback");
            SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_ROLE, capture ? "Production" : "Music");
            pump->m_device = SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(),
                                                 capture ? 1 : 0, &wanted, &obtained, 0);
        }
        if (pump->m_device == 0)
            return nullptr; // the destructor gives the subsystem back
        // Drivers that only pace themselves by sleeping have no clock to check.
        const std::string driver = SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "";
        if (driver == "dummy" || driver == "disk")
            pump->m_gap = {};
        SDL_AddEventWatch(&SdlPump::on_event, pump.get());
        // Played data sits in SDL's buffer and the server's behind it before it is heard.
        if (latency)
            latency(size_t(obtained.size) * 2 +
                    frame_bytes(format) * (format.samples_per_sec / 50));
        pump->m_watcher = std::thread([raw = pump.get()] { raw->watch(); });
        SDL_PauseAudioDevice(pump->m_device, 0);
        return pump;
    }
    ~SdlPump() override {
        {
            std::lock_guard guard(m_watch_mutex);
            m_stop = true;
        }
        m_watch_changed.notify_all();
        if (m_watcher.joinable())
            m_watcher.join();
        if (m_device != 0) {
            // Once the watch is gone no event handler runs for this pump any more.
            SDL_DelEventWatch(&SdlPump::on_event, this);
            SDL_CloseAudioDevice(m_device);
        }
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    std::string describe() const override {
        const char* driver = SDL_GetCurrentAudioDriver();
        std::lock_guard guard(m_watch_mutex);
        return std::string("SDL ") + (driver ? driver : "?") + ", thread " + m_scheduling;
    }

private:
    // The capture device that listens to the default output: the sound server lists it as
    // "Monitor of " and the output's name (translated on some servers, so a single capture device
    // whose name holds the output's name and more will do). Empty when there is none.
    static std::string output_monitor_name() {
        std::string output;
        char* default_name = nullptr;
        SDL_AudioSpec spec{};
        if (SDL_GetDefaultAudioInfo(&default_name, &spec, 0) == 0 && default_name)
            output = default_name;
        SDL_free(default_name);
        std::vector<std::string> names;
        const int count = SDL_GetNumAudioDevices(1);
        for (int i = 0; i < count; ++i)
            if (const char* name = SDL_GetAudioDeviceName(i, 1))
                names.emplace_back(name);
        const std::string prefix = "Monitor of ";
        std::vector<std::string> found;
        for (const std::string& name : names) {
            if (!output.empty() && name == prefix + output)
                return name;
            const bool candidate = output.empty()
                                       ? name.rfind(prefix, 0) == 0
                                       : name != output && name.find(output) != name.npos;
            if (candidate)
                found.push_back(name);
        }
        return found.size() == 1 ? found.front() : std::string();
    }

    SdlPump(Transfer transfer, std::function<void()> removed)
        : m_transfer(std::move(transfer)), m_removed(std::move(removed)) {}
    static void callback(void* user, Uint8* stream, int length) {
        auto* pump = static_cast<SdlPump*>(user);
        // The thread SDL captures on (its own, or the sound server library's) must never miss
        // the device: a sound thread's scheduling, once, from within it.
        if (pump->m_capture && !pump->m_raised.exchange(true)) {
            const std::string how = make_current_thread_realtime();
            std::lock_guard guard(pump->m_watch_mutex);
            pump->m_scheduling = how;
        }
        pump->m_transfer(stream, size_t(length));
        if (pump->m_gap)
            pump->check_clock(size_t(length));
    }
    // SDL's thread: the frames handed over (or taken) so far against the time since the clock
    // started. The first second is left out: a device fills its own buffer at once as it starts.
    void check_clock(size_t bytes) {
        const auto now = std::chrono::steady_clock::now();
        if (!m_clock_running) {
            if (m_first_call == std::chrono::steady_clock::time_point{})
                m_first_call = now;
            if (now - m_first_call >= std::chrono::seconds(1)) {
                m_clock_running = true;
                m_clock_start = now;
            }
            return;
        }
        m_handed_frames += bytes / m_frame_bytes;
        const double seconds = std::chrono::duration<double>(now - m_clock_start).count();
        if (const uint64_t lost = m_gaps.look(int64_t(seconds * m_rate), int64_t(m_handed_frames)))
            m_gap(lost);
    }
    static int SDLCALL on_event(void* user, SDL_Event* event) {
        auto* pump = static_cast<SdlPump*>(user);
        if (event->type == SDL_AUDIODEVICEREMOVED && event->adevice.which == pump->m_device)
            pump->m_removed();
        return 1;
    }
    // Not every backend sends the removal event; a device SDL has stopped means the same.
    void watch() {
        std::unique_lock lock(m_watch_mutex);
        while (!m_watch_changed.wait_for(lock, std::chrono::milliseconds(100),
                                         [this] { return m_stop; })) {
            if (SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED) {
                m_removed();
                return;
            }
        }
    }

    Transfer m_transfer;
    std::function<void()> m_removed;
    SDL_AudioDeviceID m_device{0};
    bool m_capture{false};
    std::function<void(uint64_t)> m_gap;
    uint32_t m_rate{0};
    uint32_t m_frame_bytes{1};
    // SDL's thread only.
    std::chrono::steady_clock::time_point m_first_call;
    std::chrono::steady_clock::time_point m_clock_start;
    bool m_clock_running{false};
    uint64_t m_handed_frames{0};
    StreamGaps m_gaps;
    std::atomic<bool> m_raised{false};
    mutable std::mutex m_watch_mutex;
    std::string m_scheduling; // under m_watch_mutex
    std::condition_variable m_watch_changed;
    bool m_stop{false};
    std::thread m_watcher;
};

// Capture through the sound server's own library (PulseAudio, or PipeWire's PulseAudio service),
// where one answers and SDL would go to such a server anyway.
class PulsePump : public WaveStream {
public:
    explicit PulsePump(std::unique_ptr<PulseCapture> capture) : m_capture(std::move(capture)) {}
    void set_running(bool running) override { m_capture->set_running(running); }
    void drain() override { m_capture->drain(); }
    std::string describe() const override {
        return "libpulse " + m_capture->source_name() + ", thread " + m_capture->scheduling();
    }

private:
    std::unique_ptr<PulseCapture> m_capture;
};

bool pulse_capture_wanted() {
    const std::string forced = environment("QUILLORY_AUDIO_CAPTURE");
    if (forced == "sdl")
        return false;
    const std::string driver = environment("SDL_AUDIODRIVER");
    return driver.empty() || driver == "pulseaudio" || driver == "pulse" || driver == "pipewire";
}

// How long each capture fragment is: long for a recording (few wake-ups, much slack), shorter
// when a call's two sides are mixed, so that they stay close together.
constexpr uint32_t kNoteFragmentMs = 500;
constexpr uint32_t kCallFragmentMs = 100;

class SdlBackend final : public WaveBackend {
public:
    std::unique_ptr<WaveStream> open_capture(const WaveFormat& format, CaptureTarget& target,
                                             bool call) override {
        if (pulse_capture_wanted()) {
            auto capture = PulseCapture::open(
                format, PulseCapture::Source::Default, "Recording",
                call ? kCallFragmentMs : kNoteFragmentMs,
                [&target](const uint8_t* bytes, size_t size) { target.deliver(bytes, size); },
                [&target] { target.mark_lost(); },
                [&target](PulseCapture::Loss kind, uint64_t frames) {
                    target.add_loss(kind == PulseCapture::Loss::Overflow ? WaveLossKind::Overflow
                                    : kind == PulseCapture::Loss::Gap    ? WaveLossKind::Gap
                                                                      : WaveLossKind::Discontinuity,
                                    frames);
                });
            if (capture)
                return std::make_unique<PulsePump>(std::move(capture));
        }
        return SdlPump::open(
            format, true, [&target](uint8_t* bytes, size_t size) { target.deliver(bytes, size); },
            [&target] { target.mark_lost(); }, SdlPump::Target::Default,
            call ? kSdlCallCaptureMs : kSdlNoteCaptureMs,
            [&target](uint64_t frames) {
                if (target.started())
                    target.add_loss(WaveLossKind::Gap, frames);
            });
    }

    std::unique_ptr<WaveStream> open_downlink(const WaveFormat& format,
                                              CaptureTarget& target) override {
        auto transfer = [&target](const uint8_t* bytes, size_t size) {
            target.deliver_downlink(bytes, size);
        };
        auto removed = [&target] { target.downlink_removed(); };
        if (pulse_capture_wanted()) {
            auto capture = PulseCapture::open(format, PulseCapture::Source::OutputMonitor,
                                              "Call downlink", kCallFragmentMs, transfer, removed,
                                              [](PulseCapture::Loss, uint64_t) {});
            if (capture)
                return std::make_unique<PulsePump>(std::move(capture));
        }
        return SdlPump::open(format, true, transfer, removed, SdlPump::Target::OutputMonitor,
                             kSdlCallCaptureMs);
    }

    std::unique_ptr<WaveStream> open_playback(const WaveFormat& format,
                                              PlaybackTarget& target) override {
        // Taken by the device later than its clock says, for good: the sound server ran dry in
        // between and played silence (a server's underrun), while audio was playing.
        return SdlPump::open(
            format, false, [&target](uint8_t* bytes, size_t size) { target.consume(bytes, size); },
            [&target] { target.mark_lost(); }, SdlPump::Target::Default, kSdlNoteCaptureMs,
            [&target](uint64_t frames) { target.fell_behind(frames); },
            [&target](size_t latency) { target.set_latency(latency); });
    }
};

} // namespace

std::unique_ptr<WaveBackend> make_sdl_wave_backend() {
    return std::make_unique<SdlBackend>();
}

} // namespace platform
