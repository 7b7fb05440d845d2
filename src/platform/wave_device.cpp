#include "platform/wave_device.h"

#include "foundation/unicode.h"
#include "platform/capture_mixer.h"
#include "platform/pulse_capture.h"
#include "platform/sdl_audio_driver.h"
#include "platform/stream_gaps.h"
#include "platform/thread_priority.h"
#include "platform/wave_file.h"

#include <SDL.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

namespace platform {

namespace {

enum class Backend { Sdl, File, Null };

Backend chosen_backend() {
    const char* value = std::getenv("QUILLORY_AUDIO");
    if (value && std::strcmp(value, "file") == 0)
        return Backend::File;
    if (value && std::strcmp(value, "null") == 0)
        return Backend::Null;
    return Backend::Sdl;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A whole positive number of milliseconds; 0 when unset or anything else.
uint64_t environment_ms(const char* name) {
    const std::string text = environment(name);
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != text.npos)
        return 0;
    return std::strtoull(text.c_str(), nullptr, 10);
}

// The test switches of the file and null devices.
struct PacedOptions {
    double speed{1.0};
    uint64_t remove_after_ms{0};
    uint64_t stall_after_ms{0};
    uint64_t capture_start_after_ms{0};
    std::string captured;

    static PacedOptions read(Backend backend) {
        PacedOptions options;
        options.speed = backend == Backend::File ? audio_device_speed() : 1.0;
        options.remove_after_ms = environment_ms("QUILLORY_AUDIO_REMOVE_AFTER_MS");
        options.stall_after_ms = environment_ms("QUILLORY_AUDIO_STALL_AFTER_MS");
        options.capture_start_after_ms = environment_ms("QUILLORY_AUDIO_CAPTURE_START_AFTER_MS");
        if (backend == Backend::File)
            options.captured = environment("QUILLORY_AUDIO_CAPTURED");
        return options;
    }
};

// The paced output holds this many 20 ms chunks before they count as heard.
constexpr size_t kPacedOutputChunks = 2;

bool acceptable(const WaveFormat& format) {
    return format.format_tag == WAVE_FORMAT_PCM && format.channels >= 1 && format.channels <= 2 &&
           (format.bits_per_sample == 8 || format.bits_per_sample == 16) &&
           format.samples_per_sec >= 1000 && format.samples_per_sec <= 192000;
}

uint32_t frame_bytes(const WaveFormat& format) {
    return uint32_t(format.channels) * (format.bits_per_sample / 8u);
}

SDL_AudioFormat sdl_format(const WaveFormat& format) {
    return format.bits_per_sample == 8 ? AUDIO_U8 : AUDIO_S16SYS;
}

// Moves audio between a device and its backend: an SDL device whose callback calls transfer(),
// or a thread that calls it at the pace of real time (times the chosen speed).
class Pump {
public:
    virtual ~Pump() = default;
    // Capture pumps that can be paused at the source deliver only while running.
    virtual void set_running(bool) {}
    // Waits until what the source has captured up to now has been delivered.
    virtual void drain() {}
    // What moves the audio, for the log.
    virtual std::string describe() const { return "paced"; }
};

using Transfer = std::function<void(uint8_t*, size_t)>;

class PacedPump : public Pump {
public:
    // `ms` of audio (20 by default), at least one frame.
    static size_t chunk_bytes(const WaveFormat& format, uint32_t ms = 20) {
        return std::max<size_t>(frame_bytes(format),
                                (format.samples_per_sec * ms / 1000) * size_t(frame_bytes(format)));
    }

    PacedPump(const WaveFormat& format, double speed, Transfer transfer, uint32_t chunk_ms = 20)
        : m_transfer(std::move(transfer)) {
        m_chunk.resize(chunk_bytes(format, chunk_ms));
        m_period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(chunk_ms / 1000.0 / speed));
        m_thread = std::thread([this] { run(); });
    }
    ~PacedPump() override {
        {
            std::lock_guard guard(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

private:
    void run() {
        auto due = std::chrono::steady_clock::now();
        std::unique_lock lock(m_mutex);
        for (;;) {
            due += m_period;
            if (m_changed.wait_until(lock, due, [this] { return m_stop; }))
                return;
            lock.unlock();
            m_transfer(m_chunk.data(), m_chunk.size());
            lock.lock();
        }
    }

    Transfer m_transfer;
    std::vector<uint8_t> m_chunk;
    std::chrono::steady_clock::duration m_period{};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop{false};
    std::thread m_thread;
};

// SDL's capture periods: long for a recording; short when a call's two sides are mixed, as the
// two devices' periods do not line up.
constexpr uint32_t kSdlNoteCaptureMs = 100;
constexpr uint32_t kSdlCallCaptureMs = 20;

// The stream hints are read by the open; devices open on several threads.
std::mutex g_sdl_open_mutex;

class SdlPump : public Pump {
public:
    enum class Target { Default, OutputMonitor };

    // `removed` is called (on any thread) when the device goes away. Capture from the output's
    // monitor fails when the sound server has none.
    // `capture_ms`: the capture period asked for. `gap` is told (on SDL's thread) how many
    // frames the device has handed over or taken less than the clock of this machine says it
    // should have, for good: SDL reports no loss of its own.
    static std::unique_ptr<SdlPump> open(const WaveFormat& format, bool capture, Transfer transfer,
                                         std::function<void()> removed,
                                         Target target = Target::Default,
                                         uint32_t capture_ms = kSdlNoteCaptureMs,
                                         std::function<void(uint64_t)> gap = {}) {
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
        pump->m_latency_bytes =
            size_t(obtained.size) * 2 + frame_bytes(format) * (format.samples_per_sec / 50);
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

    size_t latency_bytes() const { return m_latency_bytes; }
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
    size_t m_latency_bytes{0};
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
class PulsePump : public Pump {
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

// Stretches of the file device's input it leaves out, as a server that dropped audio would:
// QUILLORY_AUDIO_DROP_MS=AT:LENGTH[:unsaid][,...], in milliseconds of device time.
struct Drop {
    uint64_t at_ms;
    uint64_t length_ms;
    bool said; // counted lost by the device itself, as a server reports a loss
    bool operator<(const Drop& other) const { return at_ms < other.at_ms; }
};

std::deque<Drop> environment_drops() {
    std::deque<Drop> drops;
    const std::string text = environment("QUILLORY_AUDIO_DROP_MS");
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(',', at);
        if (end == text.npos)
            end = text.size();
        std::string item = text.substr(at, end - at);
        const std::string unsaid = ":unsaid";
        const bool said = !(item.size() > unsaid.size() &&
                            item.compare(item.size() - unsaid.size(), unsaid.size(), unsaid) == 0);
        if (!said)
            item.resize(item.size() - unsaid.size());
        const size_t colon = item.find(':');
        const std::string start = item.substr(0, colon);
        const std::string length = colon == item.npos ? "" : item.substr(colon + 1);
        const auto number = [](const std::string& digits) {
            return !digits.empty() && digits.size() <= 9 &&
                   digits.find_first_not_of("0123456789") == digits.npos;
        };
        if (number(start) && number(length))
            drops.push_back({std::stoull(start), std::stoull(length), said});
        at = end + 1;
    }
    std::stable_sort(drops.begin(), drops.end());
    return drops;
}

// Where the file-backed capture device reads from: the WAV file converted to the device's format,
// then silence.
class CaptureSource {
public:
    CaptureSource(const std::string& path, const WaveFormat& format) : m_format(format) {
        if (path.empty() || !m_reader.open(path))
            return;
        const WaveFormat& in = m_reader.format();
        if (in.channels == format.channels && in.bits_per_sample == format.bits_per_sample &&
            in.samples_per_sec == format.samples_per_sec) {
            m_direct = true;
            return;
        }
        m_stream = SDL_NewAudioStream(sdl_format(in), uint8_t(in.channels), int(in.samples_per_sec),
                                      sdl_format(format), uint8_t(format.channels),
                                      int(format.samples_per_sec));
    }
    ~CaptureSource() {
        if (m_stream)
            SDL_FreeAudioStream(m_stream);
    }

    void fill(uint8_t* bytes, size_t size) {
        size_t got = 0;
        if (m_direct) {
            got = m_reader.read(bytes, size);
        } else if (m_stream) {
            while (got < size) {
                int available = SDL_AudioStreamAvailable(m_stream);
                if (available <= 0 && !m_flushed) {
                    uint8_t chunk[4096];
                    size_t read = m_reader.read(chunk, sizeof chunk);
                    if (read > 0) {
                        SDL_AudioStreamPut(m_stream, chunk, int(read));
                    } else {
                        SDL_AudioStreamFlush(m_stream);
                        m_flushed = true;
                    }
                    continue;
                }
                if (available <= 0)
                    break;
                int taken = SDL_AudioStreamGet(m_stream, bytes + got, int(size - got));
                if (taken <= 0)
                    break;
                got += size_t(taken);
            }
        }
        std::memset(bytes + got, m_format.bits_per_sample == 8 ? 0x80 : 0, size - got);
    }

private:
    WaveFormat m_format;
    WaveFileReader m_reader;
    bool m_direct{false};
    bool m_flushed{false};
    SDL_AudioStream* m_stream{nullptr};
};

std::mutex g_devices_mutex;
std::set<const void*> g_devices;

void register_device(const void* device) {
    std::lock_guard guard(g_devices_mutex);
    g_devices.insert(device);
}
void unregister_device(const void* device) {
    std::lock_guard guard(g_devices_mutex);
    g_devices.erase(device);
}
bool is_device(const void* device) {
    std::lock_guard guard(g_devices_mutex);
    return device && g_devices.count(device) != 0;
}

WaveResult prepare(WaveHeader* header) {
    if (!header || !header->data)
        return MMSYSERR_INVALPARAM;
    header->flags.fetch_or(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

WaveResult unprepare(WaveHeader* header) {
    if (!header)
        return MMSYSERR_INVALPARAM;
    if (header->flags.load() & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->flags.fetch_and(~uint32_t(WHDR_PREPARED));
    return MMSYSERR_NOERROR;
}

} // namespace

// The queue of headers and the state shared by both directions; `m_mutex` guards it all.
class WaveDeviceBase {
public:
    WaveDeviceBase(const WaveFormat& format, WindowHandle window, uint32_t wake_message)
        : m_format(format), m_window(window), m_wake_message(wake_message) {}

    bool lost() const { return m_lost.load(); }

    // Any thread.
    void add_loss(WaveLossKind kind, uint64_t frames) {
        std::lock_guard guard(m_mutex);
        ++m_loss.events[int(kind)];
        m_loss.frames[int(kind)] += frames;
    }
    WaveLoss loss() {
        std::lock_guard guard(m_mutex);
        return m_loss;
    }

    // Any thread: the device went away. The owner is woken with a message without a header.
    void mark_lost() {
        if (!m_lost.exchange(true) && m_window)
            post_message(m_window, m_wake_message, WParam(this), 0);
    }

protected:
    WaveResult enqueue(WaveHeader* header) {
        if (!header || !header->data)
            return MMSYSERR_INVALPARAM;
        if (!(header->flags.load() & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (header->flags.load() & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        if (lost())
            return MMSYSERR_NODRIVER;
        std::lock_guard guard(m_mutex);
        header->flags.store((header->flags.load() & ~uint32_t(WHDR_DONE)) | WHDR_INQUEUE);
        m_queue.push_back(header);
        return MMSYSERR_NOERROR;
    }

    // Hands a header back. Called with m_mutex held.
    void complete(WaveHeader* header, uint32_t message) {
        header->flags.store((header->flags.load() & ~uint32_t(WHDR_INQUEUE)) | WHDR_DONE,
                            std::memory_order_release);
        if (m_window)
            post_message(m_window, message, WParam(this), LParam(header));
    }

    // Hands the oldest header back. Called with m_mutex held.
    void complete_front(uint32_t message) {
        WaveHeader* header = m_queue.front();
        m_queue.pop_front();
        m_position = 0;
        complete(header, message);
    }

    void post(uint32_t message) {
        if (m_window)
            post_message(m_window, message, WParam(this), 0);
    }

    // Paced devices: counts 20 ms ticks of device time (only while `running`) and applies the
    // removal switch. True while the device is still there. Called on the pump thread.
    bool paced_tick(bool running) {
        if (running)
            ++m_ticks;
        if (m_options.remove_after_ms && m_ticks * 20 > m_options.remove_after_ms)
            mark_lost();
        return !lost();
    }

    WaveFormat m_format;
    WindowHandle m_window;
    uint32_t m_wake_message;
    PacedOptions m_options;
    uint64_t m_ticks{0}; // pump thread only
    std::atomic<bool> m_lost{false};
    std::mutex m_mutex;
    std::deque<WaveHeader*> m_queue;
    uint32_t m_position{0}; // bytes of the front header already played (output)
    WaveLoss m_loss;
    std::unique_ptr<Pump> m_pump;
};

class WaveInDevice : public WaveDeviceBase {
public:
    WaveInDevice(const WaveFormat& format, WindowHandle window)
        : WaveDeviceBase(format, window, MM_WIM_DATA) {}
    ~WaveInDevice() {
        m_pump.reset();
        m_downlink.reset();
    }

    // `call`: the call's downlink is mixed in where a monitor of the output opens.
    bool open(Backend backend, bool call) {
        if (!open_microphone(backend, call))
            return false;
        if (call)
            open_downlink(backend);
        return true;
    }

    WaveDownlink downlink() const { return m_downlink_state.load(); }
    std::string describe() const { return m_pump ? m_pump->describe() : std::string(); }

    bool started() {
        std::lock_guard guard(m_mutex);
        return m_started;
    }

    // Pump thread: captured bytes, mixed with the downlink where there is one, go into the
    // queued headers in order; full ones are handed back.
    void deliver(const uint8_t* bytes, size_t size) {
        std::lock_guard guard(m_mutex);
        if (!m_started || lost())
            return;
        if (m_mixer) {
            m_mixed.clear();
            m_mixer->add_primary(bytes, size, m_mixed);
            fill_headers(m_mixed.data(), m_mixed.size());
        } else {
            fill_headers(bytes, size);
        }
    }

    // Bytes the queued buffers can still take, less what the mixer holds back; 0 while not
    // started.
    size_t room() {
        std::lock_guard guard(m_mutex);
        if (!m_started)
            return 0;
        size_t free = 0;
        for (const WaveHeader* header : m_queue)
            free += header->buffer_length - header->bytes_recorded;
        const size_t held = m_mixer ? m_mixer->held_bytes() : 0;
        return free > held ? free - held : 0;
    }

    WaveResult add(WaveHeader* header) {
        if (header)
            header->bytes_recorded = 0;
        return enqueue(header);
    }

    WaveResult start() {
        if (lost())
            return MMSYSERR_NODRIVER;
        {
            std::lock_guard guard(m_mutex);
            m_started = true;
        }
        // Outside the lock: the pumps deliver under it.
        if (m_downlink)
            m_downlink->set_running(true);
        m_pump->set_running(true);
        return MMSYSERR_NOERROR;
    }

    WaveResult stop() {
        // What the source has captured up to now is still taken.
        if (started())
            m_pump->drain();
        stop_locked();
        m_pump->set_running(false);
        if (m_downlink)
            m_downlink->set_running(false);
        return MMSYSERR_NOERROR;
    }

    WaveResult reset() {
        {
            std::lock_guard guard(m_mutex);
            if (m_mixer)
                m_mixer->clear();
            m_started = false;
            while (!m_queue.empty())
                complete_front(MM_WIM_DATA);
        }
        m_pump->set_running(false);
        if (m_downlink)
            m_downlink->set_running(false);
        return MMSYSERR_NOERROR;
    }

private:
    void stop_locked() {
        std::lock_guard guard(m_mutex);
        if (m_mixer) {
            // What the mixer holds back was captured before the stop.
            if (m_started) {
                m_mixed.clear();
                m_mixer->flush(m_mixed);
                fill_headers(m_mixed.data(), m_mixed.size());
            }
            m_mixer->clear();
        }
        if (m_started && !m_queue.empty() && m_queue.front()->bytes_recorded > 0)
            complete_front(MM_WIM_DATA);
        m_started = false;
    }

public:
    // False while headers are still queued.
    bool close() {
        {
            std::lock_guard guard(m_mutex);
            if (!m_queue.empty())
                return false;
            m_started = false;
        }
        m_pump.reset();
        m_downlink.reset();
        m_captured.reset();
        post(MM_WIM_CLOSE);
        return true;
    }

    void opened() { post(MM_WIM_OPEN); }

private:
    bool open_microphone(Backend backend, bool call) {
        if (backend == Backend::Sdl && pulse_capture_wanted()) {
            auto capture = PulseCapture::open(
                m_format, PulseCapture::Source::Default, "Recording",
                call ? kCallFragmentMs : kNoteFragmentMs,
                [this](const uint8_t* bytes, size_t size) { deliver(bytes, size); },
                [this] { mark_lost(); },
                [this](PulseCapture::Loss kind, uint64_t frames) {
                    add_loss(kind == PulseCapture::Loss::Overflow ? WaveLossKind::Overflow
                             : kind == PulseCapture::Loss::Gap    ? WaveLossKind::Gap
                                                                  : WaveLossKind::Discontinuity,
                             frames);
                });
            if (capture) {
                m_pump = std::make_unique<PulsePump>(std::move(capture));
                return true;
            }
        }
        if (backend == Backend::Sdl) {
            m_pump = SdlPump::open(
                m_format, true, [this](uint8_t* bytes, size_t size) { deliver(bytes, size); },
                [this] { mark_lost(); }, SdlPump::Target::Default,
                call ? kSdlCallCaptureMs : kSdlNoteCaptureMs,
                [this](uint64_t frames) {
                    if (started())
                        add_loss(WaveLossKind::Gap, frames);
                });
            return m_pump != nullptr;
        }
        m_options = PacedOptions::read(backend);
        if (backend == Backend::File)
            m_source = std::make_unique<CaptureSource>(environment("QUILLORY_AUDIO_IN"), m_format);
        if (!m_options.captured.empty()) {
            m_captured = std::make_unique<WaveFileWriter>();
            if (!m_captured->create(m_options.captured, m_format))
                return false;
        }
        m_drops = environment_drops();
        m_gaps.set_rate(m_format.samples_per_sec, 1000);
        m_pump =
            std::make_unique<PacedPump>(m_format, m_options.speed, [this](uint8_t* bytes, size_t) {
                // Device time runs while capture is started.
                if (!paced_tick(room() > 0))
                    return;
                if (m_options.stall_after_ms && m_ticks * 20 > m_options.stall_after_ms)
                    return;
                // A sound server slow to start delivers nothing at first.
                if (m_ticks * 20 <= m_options.capture_start_after_ms)
                    return;
                // A file or silence is read only as far as queued buffers can take it: when the
                // owner falls behind, the pace slows instead of the input losing data.
                size_t size = std::min(PacedPump::chunk_bytes(m_format), room());
                if (size == 0)
                    return;
                drop_due(bytes, PacedPump::chunk_bytes(m_format));
                if (m_source)
                    m_source->fill(bytes, size);
                else
                    std::memset(bytes, m_format.bits_per_sample == 8 ? 0x80 : 0, size);
                deliver(bytes, size);
                // The file's position is this device's clock.
                m_source_frames += size / frame_bytes(m_format);
                m_produced_frames += size / frame_bytes(m_format);
                if (const uint64_t gap =
                        m_gaps.look(int64_t(m_source_frames), int64_t(m_produced_frames)))
                    add_loss(WaveLossKind::Gap, gap);
            });
        return true;
    }

    // Pump thread: leaves out the stretches of input due by now, `scratch` (of `size` bytes)
    // taking what is read past. Only the stretches said are counted here; the others are for
    // the check of the source's clock to find.
    void drop_due(uint8_t* scratch, size_t size) {
        while (!m_drops.empty() && m_ticks * 20 >= m_drops.front().at_ms) {
            const uint64_t frames = m_drops.front().length_ms * m_format.samples_per_sec / 1000;
            const bool said = m_drops.front().said;
            m_drops.pop_front();
            for (uint64_t left = frames * frame_bytes(m_format); left > 0;) {
                const size_t taken = size_t(std::min<uint64_t>(left, size));
                if (m_source)
                    m_source->fill(scratch, taken);
                left -= taken;
            }
            m_source_frames += frames;
            if (said) {
                add_loss(WaveLossKind::Discontinuity, frames);
                m_produced_frames += frames;
            }
        }
    }

    // The second capture device. Its failure, now or later, leaves the microphone alone.
    void open_downlink(Backend backend) {
        std::unique_ptr<CaptureMixer> mixer(new CaptureMixer(CaptureMixer::for_devices(m_format)));
        CaptureMixer* raw = mixer.get();
        auto transfer = [this, raw](const uint8_t* bytes, size_t size) {
            if (m_downlink_state.load() == WaveDownlink::Mixed)
                raw->add_secondary(bytes, size);
        };
        auto removed = [this] {
            WaveDownlink mixed = WaveDownlink::Mixed;
            m_downlink_state.compare_exchange_strong(mixed, WaveDownlink::Lost);
        };
        // Set before the pump runs, so that its first chunk is taken.
        m_downlink_state = WaveDownlink::Mixed;
        std::unique_ptr<Pump> pump;
        if (backend == Backend::Sdl && pulse_capture_wanted()) {
            auto capture = PulseCapture::open(m_format, PulseCapture::Source::OutputMonitor,
                                              "Call downlink", kCallFragmentMs, transfer, removed,
                                              [](PulseCapture::Loss, uint64_t) {});
            if (capture)
                pump = std::make_unique<PulsePump>(std::move(capture));
        }
        if (!pump && backend == Backend::Sdl) {
            pump = SdlPump::open(m_format, true, transfer, removed, SdlPump::Target::OutputMonitor,
                                 kSdlCallCaptureMs);
        } else if (backend == Backend::File) {
            const std::string path = environment("QUILLORY_AUDIO_IN_MONITOR");
            if (!path.empty())
                pump = paced_downlink(path, transfer, removed);
        }
        if (!pump) {
            m_downlink_state = WaveDownlink::Unavailable;
            return;
        }
        {
            std::lock_guard guard(m_mutex);
            m_mixer = std::move(mixer);
        }
        m_downlink = std::move(pump);
    }

    // The file backend's monitor: the file, then silence, in 30 ms chunks at the devices' pace.
    // Its time runs while capture is started: it begins QUILLORY_AUDIO_MONITOR_DELAY_MS after
    // the start and goes away QUILLORY_AUDIO_MONITOR_REMOVE_AFTER_MS after it began.
    std::unique_ptr<Pump> paced_downlink(const std::string& path, Transfer transfer,
                                         std::function<void()> removed) {
        constexpr uint32_t chunk_ms = 30;
        auto source = std::make_shared<CaptureSource>(path, m_format);
        const uint64_t delay_ms = environment_ms("QUILLORY_AUDIO_MONITOR_DELAY_MS");
        const uint64_t remove_ms = environment_ms("QUILLORY_AUDIO_MONITOR_REMOVE_AFTER_MS");
        auto ticks = std::make_shared<uint64_t>(0); // pump thread only
        return std::make_unique<PacedPump>(
            m_format, m_options.speed,
            [=, this](uint8_t* bytes, size_t size) {
                if (!started())
                    return;
                const uint64_t at_ms = ++*ticks * chunk_ms;
                if (remove_ms && at_ms > remove_ms + delay_ms) {
                    removed();
                    return;
                }
                if (at_ms <= delay_ms || m_downlink_state.load() != WaveDownlink::Mixed)
                    return;
                source->fill(bytes, size);
                transfer(bytes, size);
            },
            chunk_ms);
    }

    // Called with m_mutex held.
    void fill_headers(const uint8_t* bytes, size_t size) {
        while (size > 0 && !m_queue.empty()) {
            WaveHeader* header = m_queue.front();
            size_t room = header->buffer_length - header->bytes_recorded;
            size_t taken = std::min(room, size);
            std::memcpy(header->data + header->bytes_recorded, bytes, taken);
            if (m_captured)
                m_captured->write(bytes, taken);
            header->bytes_recorded += uint32_t(taken);
            bytes += taken;
            size -= taken;
            if (header->bytes_recorded >= header->buffer_length)
                complete_front(MM_WIM_DATA);
        }
        // No buffer to take it: the owner fell behind by the whole ring, and this is lost.
        if (size > 0) {
            ++m_loss.events[int(WaveLossKind::Overflow)];
            m_loss.frames[int(WaveLossKind::Overflow)] += size / frame_bytes(m_format);
        }
    }

    bool m_started{false};
    std::deque<Drop> m_drops; // pump thread only
    // The paced device's clock against what it handed on, and stretches it reported lost.
    uint64_t m_source_frames{0};   // pump thread only
    uint64_t m_produced_frames{0}; // pump thread only
    StreamGaps m_gaps;             // pump thread only
    std::unique_ptr<CaptureSource> m_source;
    std::unique_ptr<WaveFileWriter> m_captured; // written under m_mutex
    std::atomic<WaveDownlink> m_downlink_state{WaveDownlink::None};
    std::unique_ptr<CaptureMixer> m_mixer; // set under m_mutex before the downlink runs
    std::vector<uint8_t> m_mixed;          // under m_mutex
    std::unique_ptr<Pump> m_downlink;      // the second capture device, after m_mixer
};

class WaveOutDevice : public WaveDeviceBase {
public:
    WaveOutDevice(const WaveFormat& format, WindowHandle window)
        : WaveDeviceBase(format, window, MM_WOM_DONE) {}
    ~WaveOutDevice() { m_pump.reset(); }

    bool open(Backend backend) {
        if (backend == Backend::Sdl) {
            // Taken by the device later than its clock says, for good: the sound server ran
            // dry in between and played silence (a server's underrun), while audio was playing.
            auto pump = SdlPump::open(
                m_format, false, [this](uint8_t* bytes, size_t size) { consume(bytes, size); },
                [this] { mark_lost(); }, SdlPump::Target::Default, kSdlNoteCaptureMs,
                [this](uint64_t frames) {
                    std::lock_guard guard(m_mutex);
                    if (!m_paused && (!m_queue.empty() || !m_heard.empty())) {
                        ++m_loss.events[int(WaveLossKind::Underrun)];
                        m_loss.frames[int(WaveLossKind::Underrun)] += frames;
                    }
                });
            if (!pump)
                return false;
            {
                std::lock_guard guard(m_mutex);
                m_latency = pump->latency_bytes();
            }
            m_pump = std::move(pump);
            return true;
        }
        m_options = PacedOptions::read(backend);
        if (backend == Backend::File) {
            std::string path = environment("QUILLORY_AUDIO_OUT");
            if (!path.empty()) {
                // An output file that cannot be made is a device that is not there.
                m_sink = std::make_unique<WaveFileWriter>();
                if (!m_sink->create(path, m_format))
                    return false;
            }
        }
        m_latency = PacedPump::chunk_bytes(m_format) * kPacedOutputChunks;
        m_pump = std::make_unique<PacedPump>(
            m_format, m_options.speed, [this](uint8_t* bytes, size_t size) {
                if (!paced_tick(true))
                    return;
                if (m_options.stall_after_ms && m_ticks * 20 > m_options.stall_after_ms)
                    return;
                uint64_t resets = 0;
                size_t played = consume(bytes, size, &resets);
                // What was consumed reaches the output only after the device's own buffer. A
                // reset in between has emptied that buffer: what was taken before it is dropped.
                std::lock_guard guard(m_mutex);
                if (resets != m_resets)
                    played = 0;
                m_line.emplace_back(bytes, bytes + played);
                if (m_line.size() > kPacedOutputChunks) {
                    if (m_sink && !m_line.front().empty())
                        m_sink->write(m_line.front().data(), m_line.front().size());
                    m_line.pop_front();
                }
            });
        return true;
    }

    // Pump thread: fills `size` bytes from the queued headers, silence where there are none.
    // A header consumed whole is done once `m_latency` more bytes have gone out behind it.
    // Returns how many bytes came from headers.
    // `resets`, when given, receives the count of resets the bytes were taken after.
    size_t consume(uint8_t* bytes, size_t size, uint64_t* resets = nullptr) {
        std::lock_guard guard(m_mutex);
        if (resets)
            *resets = m_resets;
        size_t copied = 0;
        while (!m_paused && !lost() && copied < size && !m_queue.empty()) {
            WaveHeader* header = m_queue.front();
            size_t left = header->buffer_length - m_position;
            size_t taken = std::min(left, size - copied);
            std::memcpy(bytes + copied, header->data + m_position, taken);
            m_position += uint32_t(taken);
            copied += taken;
            if (m_position >= header->buffer_length) {
                m_queue.pop_front();
                m_position = 0;
                m_heard.push_back({header, m_total + copied});
            }
        }
        apply_volume(bytes, copied);
        std::memset(bytes + copied, m_format.bits_per_sample == 8 ? 0x80 : 0, size - copied);
        // Silence after audio: the end, or an underrun if more audio follows.
        if (copied > 0)
            m_played_any = true;
        if (m_played_any && copied < size && !m_paused && !lost())
            m_starved_bytes += size - copied;
        m_total += size;
        if (copied > 0)
            m_going_out.push_back({m_total, copied});
        while (!m_going_out.empty() && m_going_out.front().end + m_latency <= m_total) {
            m_played += m_going_out.front().bytes;
            m_going_out.pop_front();
        }
        while (!m_heard.empty() && m_heard.front().end + m_latency <= m_total) {
            complete(m_heard.front().header, MM_WOM_DONE);
            m_heard.pop_front();
        }
        return copied;
    }

    // Bytes of the written headers heard since the open or the last reset.
    uint64_t position() {
        std::lock_guard guard(m_mutex);
        return m_played;
    }

    WaveResult write(WaveHeader* header) {
        {
            std::lock_guard guard(m_mutex);
            // Audio after silence that was not the end: the output ran dry in between.
            if (m_starved_bytes > 0) {
                ++m_loss.events[int(WaveLossKind::Underrun)];
                m_loss.frames[int(WaveLossKind::Underrun)] +=
                    m_starved_bytes / frame_bytes(m_format);
                m_starved_bytes = 0;
            }
        }
        return enqueue(header);
    }

    WaveResult pause(bool paused) {
        std::lock_guard guard(m_mutex);
        m_paused = paused;
        return MMSYSERR_NOERROR;
    }

    WaveResult reset() {
        std::lock_guard guard(m_mutex);
        // In play order: first what is already in the device's buffer, then the queue.
        for (const Heard& heard : m_heard)
            complete(heard.header, MM_WOM_DONE);
        m_heard.clear();
        m_line.clear();
        m_going_out.clear();
        m_played = 0;
        ++m_resets;
        m_played_any = false;
        m_starved_bytes = 0;
        while (!m_queue.empty())
            complete_front(MM_WOM_DONE);
        return MMSYSERR_NOERROR;
    }

    void set_volume(uint32_t volume) {
        std::lock_guard guard(m_mutex);
        m_volume = volume;
    }
    uint32_t volume() {
        std::lock_guard guard(m_mutex);
        return m_volume;
    }

    bool close() {
        {
            std::lock_guard guard(m_mutex);
            if (!m_queue.empty() || !m_heard.empty())
                return false;
        }
        m_pump.reset();
        // Whatever the device's own buffer still held is not heard.
        m_line.clear();
        m_sink.reset();
        post(MM_WOM_CLOSE);
        return true;
    }

    void opened() { post(MM_WOM_OPEN); }

private:
    // Called with m_mutex held.
    void apply_volume(uint8_t* bytes, size_t size) {
        uint32_t left = m_volume & 0xFFFF;
        uint32_t right = m_volume >> 16;
        if (left == 0xFFFF && right == 0xFFFF)
            return;
        int channels = m_format.channels;
        if (m_format.bits_per_sample == 16) {
            for (size_t i = 0; i + 1 < size; i += 2) {
                int16_t sample;
                std::memcpy(&sample, bytes + i, 2);
                uint32_t gain = (channels == 2 && (i / 2) % 2 == 1) ? right : left;
                sample = int16_t(int32_t(sample) * int32_t(gain) / 65535);
                std::memcpy(bytes + i, &sample, 2);
            }
        } else {
            for (size_t i = 0; i < size; ++i) {
                uint32_t gain = (channels == 2 && i % 2 == 1) ? right : left;
                bytes[i] = uint8_t(128 + (int32_t(bytes[i]) - 128) * int32_t(gain) / 65535);
            }
        }
    }

    struct Heard {
        WaveHeader* header;
        uint64_t end; // m_total just after its last byte went out
    };
    // Header bytes that went out in one transfer, not heard yet.
    struct GoingOut {
        uint64_t end; // m_total just after the transfer
        size_t bytes;
    };

    bool m_paused{false};
    bool m_played_any{false};  // since the last reset, under m_mutex
    size_t m_starved_bytes{0}; // silence played since the last audio, under m_mutex
    uint32_t m_volume{0xFFFFFFFFu};
    std::deque<Heard> m_heard;
    std::deque<GoingOut> m_going_out;
    uint64_t m_played{0};                    // header bytes heard since the open or reset
    uint64_t m_total{0};                     // bytes gone out, silence included
    uint64_t m_resets{0};                    // resets so far, under m_mutex
    size_t m_latency{0};                     // bytes between going out and being heard
    std::deque<std::vector<uint8_t>> m_line; // the paced device's own buffer, under m_mutex
    std::unique_ptr<WaveFileWriter> m_sink;  // written by the pump thread under m_mutex
};

namespace {
template <typename Device>
WaveResult open_device(Device** device, uint32_t device_id, const WaveFormat& format,
                       WindowHandle window) {
    constexpr bool capture = std::is_same_v<Device, WaveInDevice>;
    const bool call = capture && device_id == WAVE_CALL_MAPPER;
    if (!device)
        return MMSYSERR_INVALPARAM;
    if (device_id != WAVE_MAPPER && device_id != 0 && !call)
        return MMSYSERR_BADDEVICEID;
    if (!acceptable(format))
        return WAVERR_BADFORMAT;
    auto opened = std::make_unique<Device>(format, window);
    bool ok = false;
    if constexpr (capture)
        ok = opened->open(chosen_backend(), call);
    else
        ok = opened->open(chosen_backend());
    if (!ok)
        return MMSYSERR_NODRIVER;
    register_device(opened.get());
    opened->opened();
    *device = opened.release();
    return MMSYSERR_NOERROR;
}
} // namespace

double audio_device_speed() {
    if (chosen_backend() != Backend::File)
        return 1.0;
    const std::string text = environment("QUILLORY_AUDIO_SPEED");
    char* end = nullptr;
    const double speed = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end != '\0' || !(speed > 0.0 && speed <= 1000.0))
        return 1.0;
    return speed;
}

bool wave_in_lost(WaveIn device) {
    return is_device(device) && device->lost();
}

bool wave_out_lost(WaveOut device) {
    return is_device(device) && device->lost();
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

std::string wave_in_description(WaveIn device) {
    return is_device(device) ? device->describe() : std::string();
}

WaveLoss wave_in_loss(WaveIn device) {
    return is_device(device) ? device->loss() : WaveLoss{};
}

WaveLoss wave_out_loss(WaveOut device) {
    return is_device(device) ? device->loss() : WaveLoss{};
}

WaveDownlink wave_in_downlink(WaveIn device) {
    return is_device(device) ? device->downlink() : WaveDownlink::None;
}

WaveResult wave_in_open(WaveIn* device, uint32_t device_id, const WaveFormat& format,
                        WindowHandle window) {
    return open_device(device, device_id, format, window);
}

WaveResult wave_in_prepare_header(WaveIn device, WaveHeader* header) {
    return is_device(device) ? prepare(header) : MMSYSERR_INVALHANDLE;
}

WaveResult wave_in_unprepare_header(WaveIn device, WaveHeader* header) {
    return is_device(device) ? unprepare(header) : MMSYSERR_INVALHANDLE;
}

WaveResult wave_in_add_buffer(WaveIn device, WaveHeader* header) {
    return is_device(device) ? device->add(header) : MMSYSERR_INVALHANDLE;
}

WaveResult wave_in_start(WaveIn device) {
    return is_device(device) ? device->start() : MMSYSERR_INVALHANDLE;
}

WaveResult wave_in_stop(WaveIn device) {
    return is_device(device) ? device->stop() : MMSYSERR_INVALHANDLE;
}

WaveResult wave_in_reset(WaveIn device) {
    return is_device(device) ? device->reset() : MMSYSERR_INVALHANDLE;
}

WaveResult wave_in_close(WaveIn device) {
    if (!is_device(device))
        return MMSYSERR_INVALHANDLE;
    if (!device->close())
        return WAVERR_STILLPLAYING;
    unregister_device(device);
    delete device;
    return MMSYSERR_NOERROR;
}

WaveResult wave_out_open(WaveOut* device, uint32_t device_id, const WaveFormat& format,
                         WindowHandle window) {
    return open_device(device, device_id, format, window);
}

WaveResult wave_out_prepare_header(WaveOut device, WaveHeader* header) {
    return is_device(device) ? prepare(header) : MMSYSERR_INVALHANDLE;
}

WaveResult wave_out_unprepare_header(WaveOut device, WaveHeader* header) {
    return is_device(device) ? unprepare(header) : MMSYSERR_INVALHANDLE;
}

WaveResult wave_out_write(WaveOut device, WaveHeader* header) {
    return is_device(device) ? device->write(header) : MMSYSERR_INVALHANDLE;
}

WaveResult wave_out_pause(WaveOut device) {
    return is_device(device) ? device->pause(true) : MMSYSERR_INVALHANDLE;
}

WaveResult wave_out_restart(WaveOut device) {
    return is_device(device) ? device->pause(false) : MMSYSERR_INVALHANDLE;
}

WaveResult wave_out_reset(WaveOut device) {
    return is_device(device) ? device->reset() : MMSYSERR_INVALHANDLE;
}

WaveResult wave_out_get_position(WaveOut device, uint64_t* bytes) {
    if (!is_device(device) || !bytes)
        return MMSYSERR_INVALHANDLE;
    *bytes = device->position();
    return MMSYSERR_NOERROR;
}

WaveResult wave_out_set_volume(WaveOut device, uint32_t volume) {
    if (!is_device(device))
        return MMSYSERR_INVALHANDLE;
    device->set_volume(volume);
    return MMSYSERR_NOERROR;
}

WaveResult wave_out_get_volume(WaveOut device, uint32_t* volume) {
    if (!is_device(device) || !volume)
        return MMSYSERR_INVALHANDLE;
    *volume = device->volume();
    return MMSYSERR_NOERROR;
}

WaveResult wave_out_close(WaveOut device) {
    if (!is_device(device))
        return MMSYSERR_INVALHANDLE;
    if (!device->close())
        return WAVERR_STILLPLAYING;
    unregister_device(device);
    delete device;
    return MMSYSERR_NOERROR;
}

namespace {

// The whole frames of a PCM WAV file the devices take, at most a minute of them (a sound is a
// short cue). False when it cannot be read.
bool load_sound(const std::u16string& path, WaveFormat& format, std::vector<uint8_t>& bytes) {
    WaveFileReader reader;
    if (!reader.open(foundation::utf16_to_utf8(path)) || !acceptable(reader.format()))
        return false;
    format = reader.format();
    size_t limit = size_t(format.avg_bytes_per_sec ? format.avg_bytes_per_sec
                                                   : format.samples_per_sec * frame_bytes(format)) *
                   60;
    bytes.assign(std::min<size_t>(reader.data_size(), limit), 0);
    bytes.resize(reader.read(bytes.data(), bytes.size()));
    bytes.resize(bytes.size() - bytes.size() % frame_bytes(format));
    return true;
}

} // namespace

bool play_sound_and_wait(const std::u16string& path) {
    WaveFormat format;
    std::vector<uint8_t> bytes;
    if (!load_sound(path, format, bytes))
        return false;
    if (bytes.empty())
        return true;
    WaveOut device = nullptr;
    if (wave_out_open(&device, WAVE_MAPPER, format, 0) != MMSYSERR_NOERROR)
        return false;
    WaveHeader header;
    header.data = bytes.data();
    header.buffer_length = uint32_t(bytes.size());
    wave_out_prepare_header(device, &header);
    wave_out_write(device, &header);
    // Done means heard: the device's own buffer has drained behind the sound. A device that
    // freezes is given up two seconds after the sound should have ended.
    const auto give_up =
        std::chrono::steady_clock::now() +
        std::chrono::duration<double>(double(bytes.size()) / frame_bytes(format) /
                                          format.samples_per_sec / audio_device_speed() +
                                      2.0);
    while (!(header.flags.load(std::memory_order_acquire) & WHDR_DONE) && !wave_out_lost(device) &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool heard = !wave_out_lost(device) && (header.flags.load() & WHDR_DONE);
    wave_out_reset(device);
    wave_out_unprepare_header(device, &header);
    wave_out_close(device);
    return heard;
}

SoundCue::SoundCue(std::u16string path) : m_path(std::move(path)) {}

SoundCue::~SoundCue() {
    close();
}

bool SoundCue::start() {
    close();
    if (!m_loaded && !load_sound(m_path, m_format, m_bytes))
        return false;
    m_loaded = true;
    if (m_bytes.empty())
        return true;
    if (wave_out_open(&m_device, WAVE_MAPPER, m_format, 0) != MMSYSERR_NOERROR) {
        m_device = nullptr;
        return false;
    }
    m_header.data = m_bytes.data();
    m_header.buffer_length = uint32_t(m_bytes.size());
    m_header.flags.store(0);
    wave_out_prepare_header(m_device, &m_header);
    wave_out_write(m_device, &m_header);
    return true;
}

bool SoundCue::poll() {
    if (!m_device)
        return false;
    if (!(m_header.flags.load(std::memory_order_acquire) & WHDR_DONE) && !wave_out_lost(m_device))
        return true;
    close();
    return false;
}

void SoundCue::close() {
    if (!m_device)
        return;
    wave_out_reset(m_device);
    wave_out_unprepare_header(m_device, &m_header);
    wave_out_close(m_device);
    m_device = nullptr;
}

} // namespace platform
