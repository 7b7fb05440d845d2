#include "platform/pulse_capture.h"

#include "platform/stream_gaps.h"
#include "platform/thread_priority.h"

#include <algorithm>
#include <mutex>
#include <pulse/pulseaudio.h>

namespace platform {

namespace {

constexpr pa_usec_t kConnectTimeoutUs = 3'000'000;
// Timing reports come about once a second: a loss is counted once four of them saw it stay.
constexpr uint32_t kGapWindowMs = 4000;
// Less than this is not taken for a loss: the server's own timing moves by a little.
constexpr uint32_t kGapLeastMs = 10;
constexpr pa_usec_t kTimingEveryUs = 900'000;

pa_sample_format_t sample_format(const WaveFormat& format) {
    return format.bits_per_sample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16NE;
}

} // namespace

struct PulseCapture::State {
    WaveFormat format;
    size_t frame_bytes{0};
    Data data;
    std::function<void()> removed;
    Lost lost;

    pa_threaded_mainloop* loop{nullptr};
    pa_context* context{nullptr};
    pa_stream* stream{nullptr};
    pa_time_event* deadline{nullptr};

    // Under the loop's lock.
    bool timed_out{false};
    bool stream_ready{false};
    bool removed_told{false};
    bool running{false};
    std::string source;
    std::mutex scheduling_mutex; // the loop's own lock cannot be taken on its thread
    std::string scheduling;      // under scheduling_mutex
    uint64_t received_frames{0}; // delivered and holes, since the stream was made
    // The clock against the frames received: how far delivery lags behind real time just after
    // a hand-over. An overflow shows as that lag growing by what the server dropped.
    pa_usec_t base_time{0};
    uint64_t base_frames{0};
    int64_t reference_lag{-1}; // frames; -1: none measured yet since (re)starting
    bool overflowed{false};
    // The stream's position in the server's timing reports against their time stamps, from
    // the first report after audio came since the stream (re)started.
    StreamGaps gaps;
    bool timing_based{false};
    int64_t timing_base_us{0};
    int64_t timing_base_frames{0};
    pa_usec_t timing_asked{0}; // when a report was last asked for

    ~State() {
        if (loop)
            pa_threaded_mainloop_stop(loop);
        if (deadline && context)
            context_api()->time_free(deadline);
        if (stream) {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_overflow_callback(stream, nullptr, nullptr);
            pa_stream_set_latency_update_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop)
            pa_threaded_mainloop_free(loop);
    }

    pa_mainloop_api* context_api() const { return pa_threaded_mainloop_get_api(loop); }

    void tell_removed() {
        if (!removed_told && stream_ready) {
            removed_told = true;
            removed();
        }
    }

    // The lag, in frames, of delivery behind the clock since the stream (re)started.
    int64_t lag_now() const {
        const double seconds = double(pa_rtclock_now() - base_time) / 1e6;
        return int64_t(seconds * format.samples_per_sec) - int64_t(received_frames - base_frames);
    }

    void restart_clock() {
        base_time = pa_rtclock_now();
        base_frames = received_frames;
        reference_lag = -1;
        overflowed = false;
        gaps.restart();
        timing_based = false;
    }

    static void on_context_state(pa_context* context, void* user) {
        auto* state = static_cast<State*>(user);
        const pa_context_state_t now = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(now))
            state->tell_removed();
        pa_threaded_mainloop_signal(state->loop, 0);
    }

    static void on_stream_state(pa_stream* stream, void* user) {
        auto* state = static_cast<State*>(user);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            state->tell_removed();
        pa_threaded_mainloop_signal(state->loop, 0);
    }

    static void on_deadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
        auto* state = static_cast<State*>(user);
        state->timed_out = true;
        pa_threaded_mainloop_signal(state->loop, 0);
    }

    static void on_overflow(pa_stream*, void* user) {
        static_cast<State*>(user)->overflowed = true;
    }

    // A timing report: where the stream is, against when. The position counts what the source
    // has handed the server for us, including what the server later drops or skips (reported
    // on their own); what the source lost before it shows as the position falling behind.
    // "When" is this machine's steady clock as the report arrives: a report only ever arrives
    // late, which the gap check expects of its looks, while the report's own time stamp (the
    // wall clock, estimated across the connection) may stand early as well, and jumps with the
    // wall clock.
    static void on_timing(pa_stream* stream, void* user) {
        auto* state = static_cast<State*>(user);
        const pa_timing_info* info = pa_stream_get_timing_info(stream);
        if (!state->running || !info || info->write_index_corrupt || !info->playing ||
            state->received_frames == state->base_frames)
            return;
        const int64_t at_us = int64_t(pa_rtclock_now());
        const int64_t rate = state->format.samples_per_sec;
        const int64_t position = info->write_index / int64_t(state->frame_bytes) +
                                 int64_t(info->source_usec) * rate / int64_t(PA_USEC_PER_SEC);
        if (!state->timing_based) {
            state->timing_based = true;
            state->timing_base_us = at_us;
            state->timing_base_frames = position;
        }
        const int64_t expected = (at_us - state->timing_base_us) * rate / int64_t(PA_USEC_PER_SEC);
        if (const uint64_t gap = state->gaps.look(expected, position - state->timing_base_frames))
            state->lost(Loss::Gap, gap);
    }

    static void on_read(pa_stream* stream, size_t, void* user) {
        auto* state = static_cast<State*>(user);
        const void* bytes = nullptr;
        size_t size = 0;
        while (pa_stream_readable_size(stream) > 0) {
            if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0)
                break;
            const uint64_t frames = size / state->frame_bytes;
            if (!bytes) {
                // A hole: the server has no audio for this stretch of the stream.
                if (state->running)
                    state->lost(Loss::Hole, frames);
            } else if (state->running) {
                state->data(static_cast<const uint8_t*>(bytes), size - size % state->frame_bytes);
            }
            state->received_frames += frames;
            pa_stream_drop(stream);
        }
        if (state->running) {
            const int64_t lag = state->lag_now();
            if (state->overflowed && state->reference_lag >= 0 && lag > state->reference_lag)
                state->lost(Loss::Overflow, uint64_t(lag - state->reference_lag));
            else if (state->overflowed)
                state->lost(Loss::Overflow, 0);
            if (state->overflowed) {
                // Counted as an overflow: the position is looked at afresh from here on.
                state->gaps.restart();
                state->timing_based = false;
            }
            state->overflowed = false;
            state->reference_lag = lag;
            // Where the stream is, asked just after a hand-over (the server's report is then
            // closest to its last period: the lowest differences the gap check compares), about
            // once a second: each answer wakes this thread.
            const pa_usec_t now = pa_rtclock_now();
            if (now >= state->timing_asked + kTimingEveryUs) {
                state->timing_asked = now;
                if (pa_operation* asked = pa_stream_update_timing_info(stream, nullptr, nullptr))
                    pa_operation_unref(asked);
            }
        }
        pa_threaded_mainloop_signal(state->loop, 0);
    }

    // Waits for an operation, the loop locked; false when it did not complete.
    bool wait_for(pa_operation* operation) {
        if (!operation)
            return false;
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING &&
               pa_context_get_state(context) == PA_CONTEXT_READY)
            pa_threaded_mainloop_wait(loop);
        const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
        pa_operation_unref(operation);
        return done;
    }

    void arm_deadline(pa_usec_t after) {
        timed_out = false;
        if (deadline)
            context_api()->time_free(deadline);
        deadline = pa_context_rttime_new(context, pa_rtclock_now() + after, &on_deadline, this);
    }
    void disarm_deadline() {
        if (deadline)
            context_api()->time_free(deadline);
        deadline = nullptr;
    }
};

namespace {

struct MonitorLookup {
    pa_threaded_mainloop* loop;
    std::string sink;
    std::string monitor;
};

void on_server_info(pa_context*, const pa_server_info* info, void* user) {
    auto* lookup = static_cast<MonitorLookup*>(user);
    if (info && info->default_sink_name)
        lookup->sink = info->default_sink_name;
    pa_threaded_mainloop_signal(lookup->loop, 0);
}

void on_sink_info(pa_context*, const pa_sink_info* info, int, void* user) {
    auto* lookup = static_cast<MonitorLookup*>(user);
    if (info && info->monitor_source_name)
        lookup->monitor = info->monitor_source_name;
    pa_threaded_mainloop_signal(lookup->loop, 0);
}

void on_success(pa_stream*, int, void* user) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(user), 0);
}

} // namespace

std::unique_ptr<PulseCapture> PulseCapture::open(const WaveFormat& format, Source source,
                                                 const char* stream_name, uint32_t fragment_ms,
                                                 Data data, std::function<void()> removed,
                                                 Lost lost) {
    auto state = std::make_unique<State>();
    state->format = format;
    state->frame_bytes = size_t(format.channels) * (format.bits_per_sample / 8u);
    state->data = std::move(data);
    state->removed = std::move(removed);
    state->lost = std::move(lost);
    if (state->frame_bytes == 0)
        return nullptr;
    state->loop = pa_threaded_mainloop_new();
    if (!state->loop)
        return nullptr;
    pa_threaded_mainloop_set_name(state->loop, "qv-capture");

    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Quillory Vozir");
#ifdef QV_DESKTOP_ID
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, QV_DESKTOP_ID);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, QV_DESKTOP_ID);
#endif
    state->context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(state->loop),
                                                  "Quillory Vozir", properties);
    pa_proplist_free(properties);
    if (!state->context)
        return nullptr;
    pa_context_set_state_callback(state->context, &State::on_context_state, state.get());
    if (pa_context_connect(state->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return nullptr;
    if (pa_threaded_mainloop_start(state->loop) < 0)
        return nullptr;
    State& s = *state;
    pa_threaded_mainloop_lock(s.loop);
    struct Unlock {
        pa_threaded_mainloop* loop;
        ~Unlock() { pa_threaded_mainloop_unlock(loop); }
    };
    // The state's destructor stops the loop: it must run unlocked, after this guard.
    std::unique_ptr<Unlock> unlock(new Unlock{s.loop});
    // The library's thread only moves audio: it gets the scheduling of a sound thread. Asked
    // for under the lock: the loop's thread may otherwise run and free the one-off event before
    // the library has finished setting it up (an assertion in libpulse's main loop).
    pa_threaded_mainloop_once_unlocked(
        s.loop,
        [](pa_threaded_mainloop*, void* user) {
            const std::string how = make_current_thread_realtime();
            auto* state = static_cast<State*>(user);
            std::lock_guard guard(state->scheduling_mutex);
            state->scheduling = how;
        },
        &s);

    s.arm_deadline(kConnectTimeoutUs);
    while (pa_context_get_state(s.context) != PA_CONTEXT_READY && !s.timed_out &&
           PA_CONTEXT_IS_GOOD(pa_context_get_state(s.context)))
        pa_threaded_mainloop_wait(s.loop);
    if (pa_context_get_state(s.context) != PA_CONTEXT_READY) {
        s.disarm_deadline();
        unlock.reset();
        return nullptr;
    }

    if (source == Source::OutputMonitor) {
        MonitorLookup lookup{s.loop, {}, {}};
        s.wait_for(pa_context_get_server_info(s.context, &on_server_info, &lookup));
        if (!lookup.sink.empty())
            s.wait_for(pa_context_get_sink_info_by_name(s.context, lookup.sink.c_str(),
                                                        &on_sink_info, &lookup));
        if (lookup.monitor.empty()) {
            s.disarm_deadline();
            unlock.reset();
            return nullptr;
        }
        s.source = lookup.monitor;
    }

    pa_sample_spec spec{};
    spec.format = sample_format(format);
    spec.channels = uint8_t(format.channels);
    spec.rate = format.samples_per_sec;
    pa_proplist* stream_properties = pa_proplist_new();
    pa_proplist_sets(stream_properties, PA_PROP_MEDIA_ROLE, "production");
    pa_proplist_sets(stream_properties, PA_PROP_MEDIA_NAME, stream_name);
    s.stream =
        pa_stream_new_with_proplist(s.context, stream_name, &spec, nullptr, stream_properties);
    pa_proplist_free(stream_properties);
    if (!s.stream) {
        s.disarm_deadline();
        unlock.reset();
        return nullptr;
    }
    pa_stream_set_state_callback(s.stream, &State::on_stream_state, &s);
    pa_stream_set_read_callback(s.stream, &State::on_read, &s);
    pa_stream_set_overflow_callback(s.stream, &State::on_overflow, &s);
    pa_stream_set_latency_update_callback(s.stream, &State::on_timing, &s);
    s.gaps.set_rate(format.samples_per_sec, kGapWindowMs, kGapLeastMs);
    pa_buffer_attr attributes{};
    // The server keeps as much as it may for the stream; it hands it over in long fragments.
    attributes.maxlength = uint32_t(-1);
    attributes.fragsize =
        uint32_t(pa_usec_to_bytes(pa_usec_t(fragment_ms) * PA_USEC_PER_MSEC, &spec));
    attributes.tlength = attributes.prebuf = attributes.minreq = uint32_t(-1);
    const pa_stream_flags_t flags =
        pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
    if (pa_stream_connect_record(s.stream, s.source.empty() ? nullptr : s.source.c_str(),
                                 &attributes, flags) < 0) {
        s.disarm_deadline();
        unlock.reset();
        return nullptr;
    }
    while (pa_stream_get_state(s.stream) == PA_STREAM_CREATING && !s.timed_out)
        pa_threaded_mainloop_wait(s.loop);
    s.disarm_deadline();
    if (pa_stream_get_state(s.stream) != PA_STREAM_READY) {
        unlock.reset();
        return nullptr;
    }
    s.stream_ready = true;
    if (s.source.empty())
        if (const char* name = pa_stream_get_device_name(s.stream))
            s.source = name;
    unlock.reset();
    return std::unique_ptr<PulseCapture>(new PulseCapture(std::move(state)));
}

PulseCapture::PulseCapture(std::unique_ptr<State> state) : m_state(std::move(state)) {}

PulseCapture::~PulseCapture() = default;

void PulseCapture::set_running(bool running) {
    State& s = *m_state;
    pa_threaded_mainloop_lock(s.loop);
    if (running != s.running && PA_STREAM_IS_GOOD(pa_stream_get_state(s.stream))) {
        if (!running)
            s.running = false;
        s.wait_for(pa_stream_cork(s.stream, running ? 0 : 1, &on_success, s.loop));
        if (running) {
            s.running = true;
            s.restart_clock();
        }
    }
    pa_threaded_mainloop_unlock(s.loop);
}

void PulseCapture::drain() {
    State& s = *m_state;
    pa_threaded_mainloop_lock(s.loop);
    if (s.running && pa_stream_get_state(s.stream) == PA_STREAM_READY) {
        // How much the server holds for us now: what was captured and not yet handed over.
        pa_usec_t latency = 0;
        int negative = 0;
        if (s.wait_for(pa_stream_update_timing_info(s.stream, &on_success, s.loop)) &&
            pa_stream_get_latency(s.stream, &latency, &negative) == 0 && !negative) {
            const uint64_t target =
                s.received_frames + latency * s.format.samples_per_sec / PA_USEC_PER_SEC;
            const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(s.stream);
            const pa_usec_t fragment =
                attributes
                    ? pa_bytes_to_usec(attributes->fragsize, pa_stream_get_sample_spec(s.stream))
                    : 200 * PA_USEC_PER_MSEC;
            s.arm_deadline(std::min<pa_usec_t>(fragment, 500 * PA_USEC_PER_MSEC) +
                           150 * PA_USEC_PER_MSEC);
            while (s.received_frames < target && !s.timed_out &&
                   pa_stream_get_state(s.stream) == PA_STREAM_READY)
                pa_threaded_mainloop_wait(s.loop);
            s.disarm_deadline();
        }
    }
    pa_threaded_mainloop_unlock(s.loop);
}

std::string PulseCapture::source_name() const {
    pa_threaded_mainloop_lock(m_state->loop);
    std::string name = m_state->source;
    pa_threaded_mainloop_unlock(m_state->loop);
    return name;
}

std::string PulseCapture::scheduling() const {
    std::lock_guard guard(m_state->scheduling_mutex);
    return m_state->scheduling;
}

} // namespace platform
