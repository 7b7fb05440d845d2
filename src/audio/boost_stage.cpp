#include "audio/boost_stage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace audio {

namespace {

constexpr int kGainShift = 24;
constexpr int32_t kTop = 30000;
constexpr int32_t kFull = 32768;
// Samples cut into half-waves at a time.
constexpr size_t kCutChunk = 1024;

} // namespace

BoostStage::BoostStage() {
    set_gain(1);
}

void BoostStage::set_gain(int gain) {
    std::lock_guard guard(lock());
    m_gain = gain > 1 ? std::min(gain, 1024) : 1;
    int32_t x1 = 750, y1 = 750, x2 = 2000;
    double slope = std::max(1.0, m_gain * 0.5);
    int32_t y2 = int32_t((x2 - x1) * slope + y1);
    if (y2 > kTop) {
        x2 = x1 + ((kTop - y1) * (x2 - x1)) / (y2 - y1);
        y2 = kTop;
    }
    int32_t x3 = x2 + (kTop - y2) / m_gain;
    x3 = std::clamp(x3, x2, kTop);
    m_points[0] = {x1, y1};
    m_points[1] = {x2, y2};
    m_points[2] = {x3, kTop};
}

int BoostStage::gain() const {
    std::lock_guard guard(lock());
    return m_gain;
}

void BoostStage::reset() {
    std::lock_guard guard(lock());
    m_carry = AudioBlock{};
    m_last_peak = 0;
    forget_scan();
}

void BoostStage::flush() {
    std::lock_guard guard(lock());
    if (m_carry.empty())
        return;
    AudioBlock held = m_carry;
    // No later input will come to place another anchor: the last anchor's gain holds to the
    // end (the carry is unchanged when there was none yet).
    const int64_t gain = anchor_gain(m_last_peak < 0 ? -m_last_peak : m_last_peak);
    if (gain > 0) {
        auto* samples = reinterpret_cast<int16_t*>(held.bytes.writable_data());
        for (size_t i = 0; i < held.size() / 2; ++i) {
            int64_t value = int64_t(samples[i]) * gain / (int64_t(1) << kGainShift);
            samples[i] = int16_t(std::clamp<int64_t>(value, -32768, 32767));
        }
    }
    m_carry = AudioBlock{};
    m_last_peak = 0;
    forget_scan();
    push(output(), held);
}

BoostStage::Point BoostStage::point(int index) const {
    std::lock_guard guard(lock());
    return m_points[std::clamp(index, 0, 2)];
}

int64_t BoostStage::curve(int32_t a) const {
    Point from{0, 0}, to = m_points[0];
    if (a >= m_points[0].x) {
        from = m_points[0];
        to = m_points[1];
    }
    if (a >= m_points[1].x) {
        from = m_points[1];
        to = m_points[2];
    }
    if (a >= m_points[2].x) {
        from = m_points[2];
        to = {kFull, kFull};
    }
    if (to.x == from.x)
        return int64_t(to.y) * 16384;
    return ((int64_t(a) - from.x) * to.y + (int64_t(to.x) - a) * from.y) * 16384 / (to.x - from.x);
}

int64_t BoostStage::anchor_gain(int32_t magnitude) const {
    if (magnitude <= 0)
        return 0;
    return (curve(magnitude) << (kGainShift - 14)) / magnitude;
}

void BoostStage::apply(int16_t* samples, size_t from, size_t wave_start, size_t wave_end,
                       int64_t new_gain) {
    int64_t old_gain = anchor_gain(m_last_peak < 0 ? -m_last_peak : m_last_peak);
    auto scale = [](int16_t sample, int64_t gain) {
        int64_t value = int64_t(sample) * gain / (int64_t(1) << kGainShift);
        return int16_t(std::clamp<int64_t>(value, -32768, 32767));
    };
    // The gain at step k of `steps` is old_gain + (new_gain - old_gain) * k / steps, truncated
    // toward zero; it is stepped as a quotient and remainder of |new_gain - old_gain| * k so that
    // no sample needs a division.
    const uint64_t steps = wave_start > from ? uint64_t(wave_start - from) + 1 : 1;
    const int64_t difference = new_gain - old_gain;
    const uint64_t distance = difference < 0 ? uint64_t(-difference) : uint64_t(difference);
    const uint64_t whole = distance / steps, part = distance % steps;
    uint64_t quotient = 0, remainder = 0;
    for (size_t i = from; i < wave_start; ++i) {
        quotient += whole;
        remainder += part;
        const uint64_t carry = uint64_t(0) - uint64_t(remainder >= steps); // all ones or zero
        remainder -= steps & carry;
        quotient -= carry;
        int64_t offset = int64_t(quotient);
        samples[i] = scale(samples[i], difference < 0 ? old_gain - offset : old_gain + offset);
    }
    for (size_t i = wave_start; i < wave_end; ++i)
        samples[i] = scale(samples[i], new_gain);
}

void BoostStage::forget_scan() {
    m_base = 0;
    m_scanned = 0;
    m_first_wave = 0;
    m_waves.clear();
    m_waiting.clear();
    m_open_sign = 0;
    m_walk = 0;
    m_best_end = -1;
    m_best_width = -1;
}

inline void BoostStage::close_wave(const HalfWave& wave) {
    int64_t number = m_first_wave + int64_t(m_waves.size());
    while (!m_waiting.empty() && m_waiting.back().magnitude < wave.magnitude) {
        int64_t index = m_waiting.back().wave - m_first_wave;
        if (index >= 0)
            m_waves[size_t(index)].larger_right = number;
        m_waiting.pop_back();
    }
    int64_t larger_left = -1;
    if (!m_waiting.empty()) {
        const Waiting& top = m_waiting.back();
        if (top.magnitude > wave.magnitude)
            larger_left = top.wave;
        else if (top.wave >= m_first_wave)
            larger_left = m_waves[size_t(top.wave - m_first_wave)].larger_left;
    }
    m_waves.push_back(wave);
    m_waves.back().larger_left = larger_left;
    m_waiting.push_back({number, wave.magnitude});
}

bool BoostStage::any_larger(const int16_t* x, int64_t from, int64_t to, int32_t magnitude) {
    for (int64_t i = from; i < to; ++i)
        if ((x[i] < 0 ? -int32_t(x[i]) : int32_t(x[i])) > magnitude)
            return true;
    return false;
}

// Whether no sample within `window` of the wave's peak is larger than it: on the left not
// before `region`, on the right not past the samples received. Positions are relative to the
// working buffer.
bool BoostStage::dominates(const int16_t* x, int64_t n, const HalfWave& wave, int64_t region,
                           int64_t window) const {
    const int64_t peak = wave.peak - m_base;
    // Between the peak and the nearest larger half-wave every sample is at most the peak, so a
    // larger sample can only lie in that half-wave (or, on the right, in the one being cut).
    int64_t left_limit = std::max(region, peak - window);
    if (wave.larger_left >= m_first_wave) {
        const HalfWave& larger = m_waves[size_t(wave.larger_left - m_first_wave)];
        int64_t from = std::max(left_limit, larger.start - m_base);
        // The larger half-wave's peak, when in reach, settles it without a scan.
        if (larger.peak - m_base >= from ||
            any_larger(x, from, larger.end - m_base, wave.magnitude))
            return false;
    }
    int64_t right_limit = std::min(n, peak + window + 1);
    int64_t from = right_limit, to = right_limit;
    if (wave.larger_right >= 0) {
        const HalfWave& larger = m_waves[size_t(wave.larger_right - m_first_wave)];
        from = std::max<int64_t>(larger.start - m_base, 0);
        if (larger.peak - m_base >= from && larger.peak - m_base < to)
            return false;
    } else if (m_open_sign != 0) {
        // No sample of the half-wave being cut exceeds its peak.
        if (m_open_magnitude <= wave.magnitude)
            return true;
        from = m_open_start - m_base;
        if (m_open_peak - m_base >= std::max<int64_t>(from, 0) && m_open_peak - m_base < to)
            return false;
    }
    return !any_larger(x, std::max<int64_t>(from, 0), to, wave.magnitude);
}

size_t BoostStage::gain_pass(int16_t* x, size_t count, int rate) {
    if (rate <= 0) {
        forget_scan();
        return count;
    }
    const int64_t window = rate / 10;
    const int64_t n = int64_t(count);

    // Cut the new samples into half-waves: runs of samples of one sign, ended by a sign change
    // or a zero sample. Speech changes sign every few samples, so this runs without a branch per
    // sample: every sample writes the half-wave being cut to the next free slot, which is kept
    // only when the sample ends it.
    int open_sign = m_open_sign;
    int64_t open_start = m_open_start, open_peak = m_open_peak;
    int32_t open_magnitude = m_open_magnitude;
    if (m_cuts.size() < kCutChunk)
        m_cuts.resize(kCutChunk);
    Cut* cuts = m_cuts.data();
    for (int64_t chunk = m_scanned - m_base; chunk < n; chunk += int64_t(kCutChunk)) {
        const int64_t chunk_end = std::min(n, chunk + int64_t(kCutChunk));
        size_t cut = 0;
        for (int64_t i = chunk; i < chunk_end; ++i) {
            int32_t sample = x[i];
            int sign = (sample > 0) - (sample < 0);
            int32_t magnitude = sample < 0 ? -sample : sample;
            int64_t position = m_base + i;
            // All ones when the sample starts a half-wave, or raises the open one's peak.
            const int64_t changed = -int64_t(sign != open_sign);
            const int64_t raised = changed | -int64_t(magnitude > open_magnitude);
            cuts[cut] = {open_start, position, open_peak, open_magnitude};
            cut += size_t(changed & int64_t(open_sign != 0));
            open_start ^= (open_start ^ position) & changed;
            open_peak ^= (open_peak ^ position) & raised;
            open_magnitude ^= (open_magnitude ^ magnitude) & int32_t(raised);
            open_sign = sign;
        }
        for (size_t k = 0; k < cut; ++k)
            close_wave({cuts[k].start, cuts[k].end, cuts[k].peak, cuts[k].magnitude, -1, -1});
    }
    m_open_sign = open_sign;
    m_open_start = open_start;
    m_open_peak = open_peak;
    m_open_magnitude = open_magnitude;
    m_scanned = m_base + n;

    const int64_t limit = n - window;
    if (limit <= 0 || window <= 0)
        return 0;

    int64_t region = 0; // first sample after the last anchor's half-wave
    bool anchored = false;
    int64_t number = std::max(m_walk, m_first_wave);
    const int64_t waves = m_first_wave + int64_t(m_waves.size());
    for (; number < waves; ++number) {
        const HalfWave& wave = m_waves[size_t(number - m_first_wave)];
        int64_t start = wave.start - m_base, end = wave.end - m_base;
        if (end > limit)
            break;
        if (dominates(x, n, wave, region, window)) {
            int32_t value = x[wave.peak - m_base];
            apply(x, size_t(region), size_t(start), size_t(end), anchor_gain(wave.magnitude));
            m_last_peak = value < 0 ? -wave.magnitude : wave.magnitude;
            region = end;
            anchored = true;
            m_best_end = -1;
            m_best_width = -1;
        } else {
            int64_t right = wave.larger_right >= 0
                                ? m_waves[size_t(wave.larger_right - m_first_wave)].peak
                                : m_base + n;
            int64_t left = wave.larger_left >= m_first_wave
                               ? m_waves[size_t(wave.larger_left - m_first_wave)].peak
                               : m_base - 1;
            if (right - left > m_best_width) {
                m_best_width = right - left;
                m_best_end = wave.end;
            }
        }
    }
    m_walk = number;

    int64_t final_samples = 0;
    if (anchored) {
        final_samples = region;
    } else if (n > rate) {
        final_samples = m_best_end >= 0 ? m_best_end - m_base : n;
        m_best_end = -1;
        m_best_width = -1;
    }
    if (final_samples > 0) {
        m_base += final_samples;
        // Half-waves that are final are dropped only now and then, so that a long carry is not
        // moved on every pass; until then they lie before the carry and are never looked at.
        while (m_walk - m_first_wave < int64_t(m_waves.size()) &&
               m_waves[size_t(m_walk - m_first_wave)].end <= m_base)
            ++m_walk;
        size_t dropped = size_t(std::max<int64_t>(m_walk - m_first_wave, 0));
        while (dropped > 0 && m_waves[dropped - 1].end > m_base)
            --dropped;
        if (dropped > m_waves.size() / 2) {
            m_waves.erase(m_waves.begin(), m_waves.begin() + long(dropped));
            m_first_wave += int64_t(dropped);
            auto kept = std::find_if(m_waiting.begin(), m_waiting.end(),
                                     [this](const Waiting& w) { return w.wave >= m_first_wave; });
            m_waiting.erase(m_waiting.begin(), kept);
        }
        if (m_open_sign != 0 && m_open_start < m_base) {
            // The half-wave being cut was made final with the rest: start afresh.
            m_open_sign = 0;
        }
    }
    return size_t(final_samples);
}

void BoostStage::boost(AudioBlock& out, const AudioBlock& in) {
    out = AudioBlock{};
    size_t carried = m_carry.size();
    ByteSlice work = ByteSlice::allocate(carried + in.size());
    if (work.empty())
        return;
    uint8_t* bytes = work.writable_data();
    if (carried)
        std::memcpy(bytes, m_carry.bytes.data(), carried);
    if (!in.empty())
        std::memcpy(bytes + carried, in.bytes.data(), in.size());
    size_t final_samples =
        gain_pass(reinterpret_cast<int16_t*>(bytes), work.size() / 2, in.sample_rate);
    size_t final_bytes = final_samples * 2;
    m_carry = in;
    m_carry.bytes = work.slice(final_bytes, work.size() - final_bytes);
    if (final_bytes) {
        out = in;
        out.bytes = work.slice(0, final_bytes);
    }
}

void BoostStage::on_data(const AudioBlock& in) {
    std::lock_guard guard(lock());
    bool boosted = m_gain > 1 && in.channels == 1 && in.bits_per_sample == 16;
    if (!m_carry.empty() && (!boosted || !m_carry.same_format(in))) {
        // Whatever the carry still holds goes on first, unchanged.
        AudioBlock held = m_carry;
        m_carry = AudioBlock{};
        m_last_peak = 0;
        forget_scan();
        push(output(), held);
    }
    if (!boosted) {
        push(output(), in);
        return;
    }
    AudioBlock out;
    boost(out, in);
    if (!out.empty())
        push(output(), out);
}

void BoostStage::process(AudioBlock& out, const AudioBlock& in) {
    bool boosted = m_gain > 1 && in.channels == 1 && in.bits_per_sample == 16;
    if (!m_carry.empty() && (!boosted || !m_carry.same_format(in))) {
        m_carry = AudioBlock{};
        m_last_peak = 0;
        forget_scan();
    }
    if (boosted)
        boost(out, in);
    else
        out = in;
}

} // namespace audio
