#pragma once

// The listening stage of the playback chain, between the reader and the player: playback
// faster or slower with the pitch kept (SoundTouch's time stretching), and long pauses cut
// short. Everything it counts is in record time, so the position shown stays the record's.
//
// Speed 1 without skipping passes the reader's blocks on untouched (no stretching, no copy).
// Once stretching has begun it goes on, at 1 as well, until clear() (a seek or a new start), so
// that a change of speed never breaks the sound: the stretcher takes a new speed within the
// block it is working on.
//
// Skipping silence: a stretch below the threshold that lasts longer than 0.6 s keeps its first
// and last 0.15 s, joined by a 10 ms crossfade, so it lasts 0.3 s; the frames in between are
// passed over (they count as played). Looks ahead at most 0.6 s.
//
// Threads: pulled by the player's thread; the setters and queries from the user-interface
// thread. All under the stage's lock.

#include "audio/link.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace soundtouch {
class SoundTouch;
}

namespace audio {

class SpeedStage : public Stage {
public:
    SpeedStage();
    ~SpeedStage() override;

    // Clamped to 0.25..4.
    void set_speed(double speed);
    double speed() const;
    // threshold: fraction of full scale under which a frame is silent.
    void set_skip_silence(bool on, double threshold);
    [[nodiscard]] bool skip_silence() const;
    // Record frames behind everything handed on so far (passed over ones included), counted
    // from construction; a caller takes differences.
    uint64_t record_frames() const;
    // Frames handed on since construction, and the record frames behind the first `output`
    // of them (for what the device has played so far): interpolated within the blocks of the
    // last few seconds.
    uint64_t output_frames() const;
    uint64_t record_at(uint64_t output) const;
    // Forgets what is held (after a seek, or for a new stream); the next pull starts afresh,
    // bypassing the stretcher at speed 1.
    void clear();

    void get_data(AudioBlock& out, int max_bytes) override;

protected:
    // Pushed blocks pass unchanged: the stage works on pulls only.
    void process(AudioBlock& out, const AudioBlock& in) override { out = in; }

private:
    void skip_quiet(const int16_t* samples, size_t frames, std::vector<int16_t>& kept);
    void flush_quiet(std::vector<int16_t>& kept);
    void start_stretcher(const AudioBlock& format);
    size_t held_record_frames() const;
    uint64_t record_frames_locked() const;
    void hand_on(AudioBlock& out, AudioBlock block);

    double m_speed{1.0};
    bool m_skip{false};
    int m_threshold{0};
    uint64_t m_record_frames{0}; // taken from upstream, passed over included
    uint64_t m_output_frames{0}; // handed on
    struct Mark {
        uint64_t output; // frames handed on at the end of a block
        uint64_t record; // the record frames behind them
    };
    std::deque<Mark> m_marks; // the last blocks handed on, oldest first
    // The format of the stream being worked on (0 channels: none yet).
    int m_channels{0};
    int m_rate{0};
    bool m_ended{false}; // upstream gave its last block; the stretcher was flushed

    std::unique_ptr<soundtouch::SoundTouch> m_stretcher; // while stretching
    std::vector<float> m_float;                          // conversion buffer

    // Skipping: the state of the current quiet run.
    enum class Quiet { Sound, Head, Held, Cut };
    Quiet m_quiet{Quiet::Sound};
    size_t m_run{0};                 // frames in the current quiet run
    std::vector<int16_t> m_held;     // quiet frames not yet decided on
    std::vector<int16_t> m_fade_out; // the 10 ms after the kept head, faded out at the join
};

} // namespace audio
