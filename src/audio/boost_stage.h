#pragma once

#include "audio/link.h"

#include <cstdint>
#include <vector>

namespace audio {

// Raises quiet speech without clipping loud peaks. Each half-wave whose peak dominates 100 ms
// on both sides becomes an anchor whose gain maps the peak through a three-segment curve
// (magnitudes below 750 are never raised; everything above the third point is compressed into
// 30000..32768); gains move linearly from one anchor to the next. A sample is changed once, and
// only when at least 100 ms of later input has arrived, so the stage holds back up to about
// 100 ms (at most about a second) of audio in its carry.
//
// Works on 16-bit mono only; any other block, and every block at gain 1, passes unchanged
// (after whatever the carry still held).
//
// Threads: blocks arrive on the capture thread under the stage's lock; set_gain() and reset()
// are called from the user-interface thread and take the same lock.
class BoostStage : public Stage {
public:
    BoostStage();

    // 1, 2, 4 or 8; values below 2 mean 1. Callable at any time, also while recording.
    void set_gain(int gain);
    int gain() const;
    // Empties the carry and forgets the last anchor.
    void reset();
    // The end of the input: pushes on what the carry holds, at the last anchor's gain, and
    // empties it. Called on the thread that pushes, or once that thread has ended.
    void flush();

    struct Point {
        int32_t x;
        int32_t y;
    };
    // The curve's three points for the current gain.
    Point point(int index) const;
    // The curve at magnitude a (0..32768), scaled by 16384.
    int64_t curve(int32_t magnitude) const;

    void on_data(const AudioBlock& in) override;

protected:
    void process(AudioBlock& out, const AudioBlock& in) override;

private:
    // Runs the gain pass over the working buffer; returns how many samples are final.
    size_t gain_pass(int16_t* samples, size_t count, int rate);
    // Gain for an anchor of the given magnitude, scaled by 2^24 (0 for magnitude 0).
    int64_t anchor_gain(int32_t magnitude) const;
    void apply(int16_t* samples, size_t from, size_t wave_start, size_t wave_end, int64_t new_gain);
    // Joins the carry and the block, runs the pass and splits off what is final.
    void boost(AudioBlock& out, const AudioBlock& in);

    int32_t m_gain{1};
    Point m_points[3]{{750, 750}, {2000, 2000}, {30000, 30000}};
    AudioBlock m_carry;
    int32_t m_last_peak{0};
    // Forgets what the pass learnt about the carry (when the carry is dropped or passed on).
    void forget_scan();

    // What earlier passes learnt about the samples still in the carry, so that each pass looks
    // only at the new samples: the half-waves found so far, each with the nearest half-wave on
    // either side whose peak is larger. Positions count samples since the scan began; the carry
    // starts at position m_base. Half-waves are numbered in order; m_waves[0] is number
    // m_first_wave.
    struct HalfWave {
        int64_t start;
        int64_t end; // one past the last sample
        int64_t peak;
        int32_t magnitude;
        int64_t larger_left;  // number of the nearest half-wave with a larger peak, or -1
        int64_t larger_right; // the same to the right, or -1 while none has come
    };
    struct Waiting {
        int64_t wave;
        int32_t magnitude;
    };
    // True when a sample in [from, to) of the working buffer is larger than the magnitude.
    [[nodiscard]] static bool any_larger(const int16_t* samples, int64_t from, int64_t to,
                                         int32_t magnitude);
    bool dominates(const int16_t* samples, int64_t count, const HalfWave& wave, int64_t region,
                   int64_t window) const;
    // Files a complete half-wave and links it with its larger neighbours.
    void close_wave(const HalfWave& wave);

    int64_t m_base{0};
    int64_t m_scanned{0}; // position up to which samples were cut into half-waves
    int64_t m_first_wave{0};
    std::vector<HalfWave> m_waves;
    std::vector<Waiting> m_waiting; // half-waves still without a larger one on the right
    int m_open_sign{0};             // the half-wave being cut: sign, start, peak, magnitude
    int64_t m_open_start{0};
    int64_t m_open_peak{0};
    int32_t m_open_magnitude{0};
    // Half-waves completed by the samples of one pass, before they are filed.
    struct Cut {
        int64_t start;
        int64_t end;
        int64_t peak;
        int32_t magnitude;
    };
    std::vector<Cut> m_cuts;
    int64_t m_walk{0}; // number of the next half-wave to decide
    int64_t m_best_end{-1};
    int64_t m_best_width{-1};
};

} // namespace audio
