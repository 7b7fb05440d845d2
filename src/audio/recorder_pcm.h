#pragma once

#include "audio/link.h"
#include "platform/wave_in_device.h"

#include <memory>

namespace audio {

class RecorderPCMImpl;

// Captures PCM from the wave input device and pushes every filled 200 ms buffer, as one block,
// through its outlet (the first stage of the recording chain). Deleting it stops the device
// and pushes what was captured up to that moment, the partly filled buffer included, before
// it closes: keep the chain connected until the recorder is gone. Ten buffers stay queued in the
// device; the capture thread (above normal priority, woken by each filled buffer) hands them on
// in capture order and queues them again at once. The whole chain downstream of the recorder runs
// on the capture thread inside the recorder's lock, so deleting the recorder waits for the block
// being delivered.
//
// Threads: construct, start(), pause(), the queries and destroy on one controlling thread (the
// user-interface thread); blocks are pushed on the capture thread. Stopping is deleting.
//
// device_id platform::WAVE_CALL_MAPPER records a call: the call's downlink is mixed into the
// microphone where the system has it, and the microphone alone is recorded where it has not.
class RecorderPCM : public Outlet {
public:
    RecorderPCM(int channels, int rate, int bits, uint32_t device_id = platform::WAVE_MAPPER);
    ~RecorderPCM() override;

    // Not supported: a recorder only pushes.
    void get_data(AudioBlock& out, int max_bytes) override;
    // Asks the capture thread to start (within 100 ms); true when the device is open.
    [[nodiscard]] virtual bool start();
    // Stops capture for good; true when capture is stopped after the call.
    [[nodiscard]] virtual bool pause();
    virtual bool is_paused() const;
    // True while the device is open and not closed.
    [[nodiscard]] virtual bool is_valid() const;
    // True once the device went away or capture delivered nothing for over a second while
    // running; what was captured before stays in the chain. Delete the recorder to stop.
    [[nodiscard]] virtual bool device_lost() const;
    // Whether the call's downlink is mixed in (recorders opened with WAVE_CALL_MAPPER).
    virtual platform::WaveDownlink downlink() const;
    // Audio the sound system reported lost since the start (its buffer overflowed, a hole in
    // the stream), in seconds; each loss is logged with its kind.
    virtual double lost_seconds() const;
    // Lively (the default): every filled buffer goes down the chain as soon as it is there (a
    // level meter on screen moves with it). Otherwise they go a few at a time, every 400 ms, so
    // that a recording nobody watches wakes the machine seldom. Any thread.
    virtual void set_lively(bool on);
    virtual int channels() const;
    virtual int bits_per_sample() const;
    virtual int sample_rate() const;
    // Bits per second of the PCM captured.
    virtual int bit_rate() const;

    // Bytes per 200 ms capture buffer for a format.
    static uint32_t buffer_size_for(int channels, int rate, int bits);

private:
    std::unique_ptr<RecorderPCMImpl> m_impl;
};

} // namespace audio
