#include "audio/recorder_pcm.h"

#include "audio/capture_mixer.h"
#include "foundation/log.h"
#include "foundation/threads.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/thread_priority.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace audio {

using namespace platform;

namespace {

constexpr int kBuffers = 10;
// How often buffers are collected while nobody watches the level: well inside the ring's two
// seconds, and few wake-ups.
constexpr uint32_t kQuietPollMs = 400;

enum State : int32_t { Opening = 0, Opened = 1, Capturing = 2, Closed = 3 };

unsigned long long handle_number(const void* handle) {
    return (unsigned long long)(uintptr_t)handle;
}

// A machine without a monitor of its output says so once, not at every call.
std::atomic<bool> g_no_downlink_logged{false};

} // namespace

class RecorderPCMImpl : public foundation::Thread {
public:
    RecorderPCMImpl(int channels, int rate, int bits, RecorderPCM* owner, uint32_t device_id);
    ~RecorderPCMImpl() override;

    bool start() {
        std::lock_guard guard(m_lock);
        m_start_requested = true;
        return m_device != nullptr;
    }
    bool pause();
    bool is_paused() const {
        std::lock_guard guard(m_lock);
        return m_paused;
    }
    bool is_valid() const {
        std::lock_guard guard(m_lock);
        return m_device != nullptr && m_state < Closed;
    }
    bool device_lost() const {
        std::lock_guard guard(m_lock);
        return m_device_lost;
    }
    WaveDownlink downlink() const {
        std::lock_guard guard(m_lock);
        return m_device ? m_device->downlink() : WaveDownlink::None;
    }
    void set_lively(bool on) {
        m_lively.store(on);
        m_quiet_wake.set();
    }
    double lost_seconds() const {
        std::lock_guard guard(m_lock);
        return rate > 0 ? double(m_loss.total_frames()) / rate : 0.0;
    }

    const int channels;
    const int rate;
    const int bits;

protected:
    void run() override;

private:
    void start_capture();
    void harvest();
    void queue_header(WaveHeader& header);
    void check_device();
    void check_loss();

    mutable foundation::CriticalSection m_lock;
    RecorderPCM* m_owner;
    WaveHeader m_headers[kBuffers];
    std::vector<uint8_t> m_buffers[kBuffers];
    std::unique_ptr<WaveInDevice> m_device;
    uint32_t m_buffer_size{0};
    int32_t m_next{0};
    bool m_paused{false};
    bool m_start_requested{false};
    int32_t m_state{Opening};
    bool m_device_lost{false};
    WaveDownlink m_downlink{WaveDownlink::None}; // as last seen
    uint32_t m_last_done{0};                // tick of the last buffer handed on, or of the start
    uint32_t m_stall_limit_ms{0};           // a capture silent for longer has stopped delivering
    uint32_t m_quiet_poll_ms{kQuietPollMs}; // at the device's pace
    bool m_delivered{false};                // a buffer came back since the capture (re)started
    WaveLoss m_loss;                        // what the device reported lost, as last seen
    bool m_described{false};                // how capture runs has been logged
    WindowHandle m_window{0};
    foundation::Event m_window_ready{foundation::Event::Reset::Manual};
    std::atomic<bool> m_lively{true};
    foundation::Event m_quiet_wake; // ends a quiet wait early: lively again, or the end
};

uint32_t RecorderPCM::buffer_size_for(int channels, int rate, int bits) {
    uint32_t block_align = uint32_t(((bits + 7) * channels) / 8);
    return ((uint32_t(rate) * 200) / 1000 * block_align) & ~1u;
}

RecorderPCMImpl::RecorderPCMImpl(int channels_, int rate_, int bits_, RecorderPCM* owner,
                                 uint32_t device_id)
    : channels(channels_), rate(rate_), bits(bits_), m_owner(owner) {
    WaveFormat format;
    format.format_tag = WAVE_FORMAT_PCM;
    format.channels = uint16_t(channels);
    format.samples_per_sec = uint32_t(rate);
    format.bits_per_sample = uint16_t(bits);
    format.block_align = uint16_t(((bits + 7) * channels) / 8);
    format.avg_bytes_per_sec = format.block_align * uint32_t(rate);
    format.extra_size = 0;
    m_buffer_size = RecorderPCM::buffer_size_for(channels, rate, bits);
    // One buffer's time at the device's pace, and a second more.
    m_stall_limit_ms = 1000 + uint32_t(200.0 / platform::audio_device_speed());
    m_quiet_poll_ms = std::max(5u, uint32_t(kQuietPollMs / platform::audio_device_speed()));
    for (int i = 0; i < kBuffers; ++i) {
        m_buffers[i].assign(m_buffer_size, 0);
        m_headers[i].data = m_buffers[i].data();
        m_headers[i].buffer_length = m_buffer_size;
    }
    set_priority(1);
    if (!foundation::Thread::start()) {
        m_state = Closed;
        foundation::log() << "recorder bad thread!!!!!\n";
        return;
    }
    // The device's messages go to a window of the capture thread.
    m_window_ready.wait();
    std::lock_guard guard(m_lock);
    // A call's two sides are mixed here, into the one stream a call recording holds.
    std::unique_ptr<platform::CaptureMix> mix;
    if (device_id == WAVE_CALL_MAPPER)
        mix.reset(new CaptureMixer(CaptureMixer::for_devices(format)));
    WaveResult result = WaveInDevice::open(m_device, device_id, format, m_window, std::move(mix));
    foundation::log() << "waveInOpen handle=" << handle_number(m_device.get()) << "\n";
    if (result != MMSYSERR_NOERROR) {
        m_device.reset();
        m_state = Closed;
        foundation::log() << "recorder bad open!!!!! waveInOpen=" << result << "\n";
        return;
    }
    m_downlink = m_device->downlink();
    if (m_downlink == WaveDownlink::Mixed)
        foundation::log() << "recorder call downlink mixed in\n";
    else if (m_downlink == WaveDownlink::Unavailable && !g_no_downlink_logged.exchange(true))
        foundation::log() << "recorder no call downlink, microphone alone\n";
}

RecorderPCMImpl::~RecorderPCMImpl() {
    foundation::log() << "recorder ~RecorderPCMImpl " << tick_count() << "\n";
    {
        std::lock_guard guard(m_lock);
        if (m_device) {
            const bool capturing = m_state == Capturing;
            m_state = Closed;
            // What was captured up to here still goes down the chain: the buffer being
            // filled comes back partly filled, the rest empty, and all are harvested in ring
            // order before the device closes.
            WaveResult result = m_device->stop();
            if (result != MMSYSERR_NOERROR)
                foundation::log() << "recorder bad stop!!!!! waveInStop=" << result << "\n";
            result = m_device->reset();
            if (result != MMSYSERR_NOERROR)
                foundation::log() << "recorder bad reset!!!!! waveInReset=" << result << "\n";
            if (capturing) {
                harvest();
                check_loss();
            }
            for (WaveHeader& header : m_headers)
                m_device->unprepare_header(&header);
            result = m_device->close();
            if (result != MMSYSERR_NOERROR)
                foundation::log() << "recorder bad close!!!!! waveInClose=" << result << "\n";
            m_device.reset();
        }
    }
    request_stop();
    m_quiet_wake.set();
    join();
}

bool RecorderPCMImpl::pause() {
    std::lock_guard guard(m_lock);
    if (!m_device)
        return false;
    if (!m_paused) {
        WaveResult result = m_device->stop();
        if (result != MMSYSERR_NOERROR)
            foundation::log() << "recorder bad pause!!!!! waveInStop=" << result << "\n";
        m_paused = result == MMSYSERR_NOERROR;
    }
    return m_paused;
}

void RecorderPCMImpl::queue_header(WaveHeader& header) {
    WaveResult result = m_device->prepare_header(&header);
    if (result != MMSYSERR_NOERROR)
        foundation::log() << "recorder bad prepare!!!!! handle=" << handle_number(m_device.get())
                          << " waveInPrepareHeader=" << result << "\n";
    foundation::log() << "recorder add " << tick_count() << "\n";
    result = m_device->add_buffer(&header);
    if (result != MMSYSERR_NOERROR)
        foundation::log() << "recorder bad add!!!!! handle=" << handle_number(m_device.get())
                          << " waveInAddBuffer=" << result << "\n";
}

void RecorderPCMImpl::start_capture() {
    for (WaveHeader& header : m_headers)
        queue_header(header);
    WaveResult result = m_device->start();
    if (result == MMSYSERR_NOERROR) {
        m_state = Capturing;
        m_start_requested = false;
        m_last_done = tick_count();
        m_delivered = false;
        foundation::log() << "recorder good start\n";
    } else {
        foundation::log() << "recorder bad start!!!!! waveInStart=" << result << "\n";
    }
    m_paused = result != MMSYSERR_NOERROR;
}

void RecorderPCMImpl::harvest() {
    const int first = m_next;
    for (int visited = 0; visited < kBuffers && m_device; ++visited) {
        int index = (first + visited) % kBuffers;
        WaveHeader& header = m_headers[index];
        // The device completes buffers in the order they were queued; one still in the device
        // ends the pass, so that a buffer completed meanwhile behind it is not handed on first.
        if (!(header.flags.load(std::memory_order_acquire) & WHDR_DONE))
            break;
        m_next = (index + 1) % kBuffers;
        WaveResult result = m_device->unprepare_header(&header);
        if (result != MMSYSERR_NOERROR) {
            foundation::log() << "recorder bad unprepare!!!!! handle="
                              << handle_number(m_device.get())
                              << " waveInUnprepareHeader=" << result << "\n";
            foundation::log() << "MMSYSERR_INVALHANDLE=" << uint32_t(MMSYSERR_INVALHANDLE) << "\n";
        }
        foundation::log() << "recorder->feed_consumer buffer:" << index
                          << " size:" << header.bytes_recorded << "\n";
        // Buffers handed back empty (by a reset) carry nothing.
        if (header.bytes_recorded > 0) {
            AudioBlock block;
            block.bytes = ByteSlice::copy_of(header.bytes_recorded, header.data);
            block.channels = channels;
            block.bits_per_sample = bits;
            block.sample_rate = rate;
            push(*m_owner, block);
            m_last_done = tick_count();
            if (!m_delivered && !m_described) {
                m_described = true;
                foundation::log() << "recorder capture through " << m_device->description().c_str()
                                  << "\n";
            }
            m_delivered = true;
        }
        header.bytes_recorded = 0;
        header.user = 0;
        header.flags.store(0);
        if (m_state != Closed)
            queue_header(header);
    }
}

// A device that went away, or a capture that stopped delivering for longer than the limit,
// ends nothing by itself: the controller sees device_lost() and stops the recording.
// A sound server that is busy or just starting can take seconds to deliver the first audio.
constexpr uint32_t kStartGraceMs = 4000;

// Every loss the device reports is logged by its kind, with how much audio it cost.
void RecorderPCMImpl::check_loss() {
    const WaveLoss now = m_device->loss();
    for (int kind = 0; kind < kWaveLossKinds; ++kind) {
        if (now.events[kind] == m_loss.events[kind])
            continue;
        foundation::log() << "recorder audio lost by " << wave_loss_name(WaveLossKind(kind)) << ": "
                          << now.events[kind] - m_loss.events[kind] << " times, "
                          << (now.frames[kind] - m_loss.frames[kind]) * 1000 / uint64_t(rate)
                          << " ms, " << now.frames[kind] * 1000 / uint64_t(rate) << " ms in all "
                          << tick_count() << "\n";
    }
    m_loss = now;
}

void RecorderPCMImpl::check_device() {
    if (m_device_lost || !m_device)
        return;
    check_loss();
    // The downlink going away costs the other party's voice, not the recording.
    if (m_downlink == WaveDownlink::Mixed && m_device->downlink() == WaveDownlink::Lost) {
        m_downlink = WaveDownlink::Lost;
        foundation::log() << "recorder call downlink lost, microphone alone " << tick_count()
                          << "\n";
    }
    if (m_device->lost()) {
        m_device_lost = true;
        foundation::log() << "recorder device lost " << tick_count() << "\n";
    } else if (m_state == Capturing && !m_paused &&
               tick_count() - m_last_done > m_stall_limit_ms + (m_delivered ? 0 : kStartGraceMs)) {
        m_device_lost = true;
        foundation::log() << "recorder capture stalled " << tick_count() << "\n";
    }
}

void RecorderPCMImpl::run() {
    set_current_thread_name("qv-recorder");
    {
        std::lock_guard guard(m_lock);
        m_window =
            create_window([](WindowHandle, uint32_t, WParam, LParam) -> LResult { return 0; });
    }
    m_window_ready.set();
    while (!stop_requested()) {
        bool capturing = false;
        {
            std::lock_guard guard(m_lock);
            Message message;
            if (m_state == Opening && peek_message(message, 0, MM_WIM_OPEN, MM_WIM_OPEN)) {
                m_state = Opened;
                foundation::log() << "MM_WIM_OPEN\n";
            }
            // Completed buffers are found by their done flag; their messages only wake us.
            while (peek_message(message, 0, MM_WIM_CLOSE, MM_WIM_DATA)) {
            }
            if (m_state == Opened) {
                if (!m_device)
                    m_state = Closed;
                else if (m_start_requested)
                    start_capture();
            }
            if (m_state == Capturing)
                harvest();
            if (m_state != Closed)
                check_device();
            if (m_state == Closed)
                break;
            capturing = m_state == Capturing;
        }
        if (capturing && !m_lively.load()) {
            // Nobody watches the level: filled buffers are collected a few at a time, and their
            // messages wait in the queue.
            // Woken or not, the loop looks at the buffers again.
            (void)m_quiet_wake.wait_for_ms(m_quiet_poll_ms);
        } else {
            // Filled buffers wake the thread; the timeout only watches for a device that stalls.
            wait_message(capturing ? 1000 : 100);
        }
    }
    std::lock_guard guard(m_lock);
    destroy_window(m_window);
    m_window = 0;
}

RecorderPCM::RecorderPCM(int channels, int rate, int bits, uint32_t device_id)
    : m_impl(std::make_unique<RecorderPCMImpl>(channels, rate, bits, this, device_id)) {}

RecorderPCM::~RecorderPCM() {
    m_impl.reset();
}

void RecorderPCM::get_data(AudioBlock& out, int) {
    foundation::fatal_error(u"RecorderPCM::get_data",
                            u"get_data unexpected - recorder is active object");
    out = AudioBlock{};
}

bool RecorderPCM::start() {
    return m_impl->start();
}

bool RecorderPCM::pause() {
    return m_impl->pause();
}

bool RecorderPCM::is_paused() const {
    return m_impl->is_paused();
}

bool RecorderPCM::is_valid() const {
    return m_impl->is_valid();
}

bool RecorderPCM::device_lost() const {
    return m_impl->device_lost();
}

platform::WaveDownlink RecorderPCM::downlink() const {
    return m_impl->downlink();
}

double RecorderPCM::lost_seconds() const {
    return m_impl->lost_seconds();
}

void RecorderPCM::set_lively(bool on) {
    m_impl->set_lively(on);
}

int RecorderPCM::channels() const {
    return m_impl->channels;
}

int RecorderPCM::bits_per_sample() const {
    return m_impl->bits;
}

int RecorderPCM::sample_rate() const {
    return m_impl->rate;
}

int RecorderPCM::bit_rate() const {
    return channels() * ((bits_per_sample() + 7) / 8) * sample_rate() * 8;
}

} // namespace audio
