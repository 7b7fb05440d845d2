#include "platform/paced_stream.h"

#include "platform/number.h"
#include "platform/stream_gaps.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A chunk of `ms` of audio (20 by default), at least one frame.
size_t chunk_bytes(const WaveFormat& format, uint32_t ms = 20) {
    return std::max<size_t>(frame_bytes(format),
                            (format.samples_per_sec * ms / 1000) * size_t(frame_bytes(format)));
}

uint8_t silence_byte(const WaveFormat& format) {
    return format.bits_per_sample == 8 ? 0x80 : 0;
}

// The paced output holds this many 20 ms chunks before they count as heard.
constexpr size_t kOutputChunks = 2;

using Transfer = std::function<void(uint8_t*, size_t)>;

// Calls `transfer` with a chunk of `chunk_ms` of audio at the pace of real time times `speed`.
class PacedPump {
public:
    PacedPump(const WaveFormat& format, double speed, Transfer transfer, uint32_t chunk_ms = 20)
        : m_transfer(std::move(transfer)) {
        m_chunk.resize(chunk_bytes(format, chunk_ms));
        m_period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(chunk_ms / 1000.0 / speed));
    }
    ~PacedPump() { stop(); }
    PacedPump(const PacedPump&) = delete;
    PacedPump& operator=(const PacedPump&) = delete;

    void start() {
        m_thread = std::thread([this] { run(); });
    }
    void stop() {
        {
            std::lock_guard guard(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
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

// Fills `size` bytes from `source`, silence after its end or without one.
void fill(WaveFileSource* source, const WaveFormat& format, uint8_t* bytes, size_t size) {
    size_t got = 0;
    while (source && got < size) {
        const size_t read = source->read(bytes + got, size - got);
        if (read == 0)
            break;
        got += read;
    }
    std::memset(bytes + got, silence_byte(format), size - got);
}

// Stretches of the input left out, as a server that dropped audio would:
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
        std::string_view item = std::string_view(text).substr(at, end - at);
        constexpr std::string_view unsaid = ":unsaid";
        const bool said = !(item.size() > unsaid.size() && item.ends_with(unsaid));
        if (!said)
            item.remove_suffix(unsaid.size());
        const size_t colon = item.find(':');
        const auto number = [](std::string_view digits) -> std::optional<uint64_t> {
            if (digits.size() > 9 || digits.find_first_not_of("0123456789") != digits.npos)
                return std::nullopt;
            return parse_number<uint64_t>(digits);
        };
        const auto start = number(item.substr(0, colon));
        const auto length = colon == item.npos ? std::nullopt : number(item.substr(colon + 1));
        if (start && length)
            drops.push_back({*start, *length, said});
        at = end + 1;
    }
    std::stable_sort(drops.begin(), drops.end());
    return drops;
}

// Switches every paced device reads at its open.
struct Switches {
    uint64_t remove_after_ms{environment_ms("QUILLORY_AUDIO_REMOVE_AFTER_MS")};
    uint64_t stall_after_ms{environment_ms("QUILLORY_AUDIO_STALL_AFTER_MS")};
    uint64_t capture_start_after_ms{environment_ms("QUILLORY_AUDIO_CAPTURE_START_AFTER_MS")};

    // True while a device `ticks` 20 ms periods old moves nothing: taken away (its target is
    // told, once per tick) or stalled.
    template <typename Target> bool silenced(uint64_t ticks, Target& target) const {
        if (remove_after_ms && ticks * 20 > remove_after_ms) {
            target.mark_lost();
            return true;
        }
        return stall_after_ms && ticks * 20 > stall_after_ms;
    }
};

class PacedCapture final : public WaveStream {
public:
    PacedCapture(const WaveFormat& format, CaptureTarget& target, double speed,
                 std::unique_ptr<WaveFileSource> source)
        : m_format(format), m_target(target), m_source(std::move(source)),
          m_drops(environment_drops()),
          m_pump(format, speed, [this](uint8_t* bytes, size_t) { tick(bytes); }) {
        m_gaps.set_rate(m_format.samples_per_sec, 1000);
        m_pump.start();
    }
    ~PacedCapture() override { m_pump.stop(); }

private:
    // The pump's thread.
    void tick(uint8_t* bytes) {
        // Device time runs while capture is started.
        if (m_target.room() > 0)
            ++m_ticks;
        if (m_switches.silenced(m_ticks, m_target))
            return;
        // A sound server slow to start delivers nothing at first.
        if (m_ticks * 20 <= m_switches.capture_start_after_ms)
            return;
        // A file or silence is read only as far as queued buffers can take it: when the owner
        // falls behind, the pace slows instead of the input losing data.
        const size_t size = std::min(chunk_bytes(m_format), m_target.room());
        if (size == 0)
            return;
        drop_due(bytes, chunk_bytes(m_format));
        fill(m_source.get(), m_format, bytes, size);
        m_target.deliver(bytes, size);
        // The file's position is this device's clock.
        m_source_frames += size / frame_bytes(m_format);
        m_produced_frames += size / frame_bytes(m_format);
        if (const uint64_t gap = m_gaps.look(int64_t(m_source_frames), int64_t(m_produced_frames)))
            m_target.add_loss(WaveLossKind::Gap, gap);
    }

    // Leaves out the stretches of input due by now, `scratch` (of `size` bytes) taking what is
    // read past. Only the stretches said are counted here; the others are for the check of the
    // source's clock to find.
    void drop_due(uint8_t* scratch, size_t size) {
        while (!m_drops.empty() && m_ticks * 20 >= m_drops.front().at_ms) {
            const uint64_t frames = m_drops.front().length_ms * m_format.samples_per_sec / 1000;
            const bool said = m_drops.front().said;
            m_drops.pop_front();
            for (uint64_t left = frames * frame_bytes(m_format); left > 0;) {
                const size_t taken = size_t(std::min<uint64_t>(left, size));
                if (m_source)
                    fill(m_source.get(), m_format, scratch, taken);
                left -= taken;
            }
            m_source_frames += frames;
            if (said) {
                m_target.add_loss(WaveLossKind::Discontinuity, frames);
                m_produced_frames += frames;
            }
        }
    }

    const WaveFormat m_format;
    CaptureTarget& m_target;
    const Switches m_switches;
    // The pump's thread only.
    std::unique_ptr<WaveFileSource> m_source;
    std::deque<Drop> m_drops;
    uint64_t m_ticks{0};
    // The device's clock against what it handed on, and stretches it reported lost.
    uint64_t m_source_frames{0};
    uint64_t m_produced_frames{0};
    StreamGaps m_gaps;
    PacedPump m_pump; // last: stopped before the rest goes
};

class PacedDownlink final : public WaveStream {
public:
    static constexpr uint32_t kChunkMs = 30;

    PacedDownlink(const WaveFormat& format, CaptureTarget& target, double speed,
                  std::unique_ptr<WaveFileSource> source, uint64_t delay_ms, uint64_t remove_ms)
        : m_format(format), m_target(target), m_source(std::move(source)), m_delay_ms(delay_ms),
          m_remove_ms(remove_ms),
          m_pump(
              format, speed, [this](uint8_t* bytes, size_t size) { tick(bytes, size); }, kChunkMs) {
        m_pump.start();
    }
    ~PacedDownlink() override { m_pump.stop(); }

private:
    void tick(uint8_t* bytes, size_t size) {
        if (!m_target.started())
            return;
        const uint64_t at_ms = ++m_ticks * kChunkMs;
        if (m_remove_ms && at_ms > m_remove_ms + m_delay_ms) {
            m_target.downlink_removed();
            return;
        }
        if (at_ms <= m_delay_ms || !m_target.downlink_wanted())
            return;
        fill(m_source.get(), m_format, bytes, size);
        m_target.deliver_downlink(bytes, size);
    }

    const WaveFormat m_format;
    CaptureTarget& m_target;
    std::unique_ptr<WaveFileSource> m_source; // the pump's thread only
    const uint64_t m_delay_ms;
    const uint64_t m_remove_ms;
    uint64_t m_ticks{0}; // the pump's thread only
    PacedPump m_pump;
};

class PacedPlayback final : public WaveStream {
public:
    PacedPlayback(const WaveFormat& format, PlaybackTarget& target, double speed,
                  std::unique_ptr<WaveFileSink> sink)
        : m_target(target), m_sink(std::move(sink)),
          m_pump(format, speed, [this](uint8_t* bytes, size_t size) { tick(bytes, size); }) {
        m_target.set_latency(chunk_bytes(format) * kOutputChunks);
        m_pump.start();
    }
    // Whatever the device's own buffer still holds is not heard.
    ~PacedPlayback() override { m_pump.stop(); }

private:
    void tick(uint8_t* bytes, size_t size) {
        ++m_ticks;
        if (m_switches.silenced(m_ticks, m_target))
            return;
        uint64_t resets = 0;
        size_t played = m_target.consume(bytes, size, &resets);
        // What was consumed reaches the output only after the device's own buffer. A reset
        // empties that buffer: what was taken before it is dropped.
        const uint64_t now = m_target.resets();
        if (resets != m_line_resets || now != resets) {
            m_line.clear();
            m_line_resets = now;
        }
        if (now != resets)
            played = 0;
        m_line.emplace_back(bytes, bytes + played);
        if (m_line.size() > kOutputChunks) {
            if (m_sink && !m_line.front().empty())
                m_sink->write(m_line.front().data(), m_line.front().size());
            m_line.pop_front();
        }
    }

    PlaybackTarget& m_target;
    const Switches m_switches;
    // The pump's thread only.
    std::unique_ptr<WaveFileSink> m_sink;
    uint64_t m_ticks{0};
    std::deque<std::vector<uint8_t>> m_line; // the device's own buffer
    uint64_t m_line_resets{0};               // the resets the line's audio came after
    PacedPump m_pump;
};

} // namespace

uint64_t environment_ms(const char* name) {
    const std::string text = environment(name);
    if (text.size() > 12 || text.find_first_not_of("0123456789") != text.npos)
        return 0;
    return parse_number<uint64_t>(text).value_or(0);
}

std::unique_ptr<WaveStream> open_paced_capture(const WaveFormat& format, CaptureTarget& target,
                                               double speed,
                                               std::unique_ptr<WaveFileSource> source) {
    return std::make_unique<PacedCapture>(format, target, speed, std::move(source));
}

std::unique_ptr<WaveStream> open_paced_downlink(const WaveFormat& format, CaptureTarget& target,
                                                double speed,
                                                std::unique_ptr<WaveFileSource> source,
                                                uint64_t delay_ms, uint64_t remove_ms) {
    return std::make_unique<PacedDownlink>(format, target, speed, std::move(source), delay_ms,
                                           remove_ms);
}

std::unique_ptr<WaveStream> open_paced_playback(const WaveFormat& format, PlaybackTarget& target,
                                                double speed, std::unique_ptr<WaveFileSink> sink) {
    return std::make_unique<PacedPlayback>(format, target, speed, std::move(sink));
}

} // namespace platform
