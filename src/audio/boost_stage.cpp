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
    int64_t steps = int64_t(wave_start - from) + 1;
    for (size_t i = from; i < wave_start; ++i) {
        int64_t step = int64_t(i - from) + 1;
        samples[i] = scale(samples[i], old_gain + (new_gain - old_gain) * step / steps);
    }
    for (size_t i = wave_start; i < wave_end; ++i)
        samples[i] = scale(samples[i], new_gain);
}

void BoostStage::forget_scan() {
    m_base = 0;
    m_store = 0;
    m_greater_left.clear();
    m_greater_right.clear();
    m_stack.clear();
    m_walk = 0;
    m_best_end = -1;
    m_best_width = -1;
}

size_t BoostStage::gain_pass(int16_t* x, size_t count, int rate) {
    if (rate <= 0) {
        forget_scan();
        return count;
    }
    const int64_t window = rate / 10;
    const int64_t n = int64_t(count);
    const int64_t base = m_base;
    const int64_t unknown = INT64_MAX;

    // Extend the scan over the samples that are new since the last pass: for each, the nearest
    // strictly larger magnitude on its left, and (as larger ones arrive) on its right. The
    // vectors may still hold final samples before the carry (from m_store on).
    const int64_t skip = base - m_store;
    int64_t scanned = int64_t(m_greater_left.size()) - skip;
    m_greater_left.resize(size_t(skip + n));
    m_greater_right.resize(size_t(skip + n));
    int64_t* greater_left = m_greater_left.data() + skip;
    int64_t* greater_right = m_greater_right.data() + skip;
    for (int64_t i = scanned; i < n; ++i) {
        int32_t magnitude = x[i] < 0 ? -int32_t(x[i]) : int32_t(x[i]);
        greater_right[i] = unknown;
        while (!m_stack.empty() && m_stack.back().magnitude < magnitude) {
            int64_t at = m_stack.back().position - base;
            if (at >= 0)
                greater_right[at] = base + i;
            m_stack.pop_back();
        }
        int64_t left = -1;
        if (!m_stack.empty()) {
            const Pending& top = m_stack.back();
            if (top.magnitude > magnitude)
                left = top.position;
            else if (top.position >= base)
                left = greater_left[top.position - base];
        }
        greater_left[i] = left;
        m_stack.push_back({base + i, magnitude});
    }
    auto magnitude_at = [x](int64_t i) { return x[i] < 0 ? -int32_t(x[i]) : int32_t(x[i]); };

    const int64_t limit = n - window;
    if (limit <= 0 || window <= 0)
        return 0;

    int64_t region = 0; // first sample after the last anchor's half-wave
    bool anchored = false;
    int64_t i = std::max<int64_t>(m_walk - base, 0);
    while (i < n) {
        if (x[i] == 0) {
            ++i;
            continue;
        }
        int64_t start = i, end = i + 1, peak = i;
        while (end < n && x[end] != 0 && (x[end] > 0) == (x[start] > 0)) {
            if (magnitude_at(end) > magnitude_at(peak))
                peak = end;
            ++end;
        }
        if (end >= n || end > limit)
            break;
        int64_t left = greater_left[peak] - base;
        int64_t right = greater_right[peak] == unknown ? n : greater_right[peak] - base;
        bool dominates = (left < region || peak - left > window) && right - peak > window;
        if (dominates) {
            int32_t magnitude = magnitude_at(peak);
            int32_t value = x[peak];
            apply(x, size_t(region), size_t(start), size_t(end), anchor_gain(magnitude));
            m_last_peak = value < 0 ? -magnitude : magnitude;
            region = end;
            anchored = true;
            m_best_end = -1;
            m_best_width = -1;
        } else {
            int64_t width = std::min(right, n) - std::max<int64_t>(left, -1);
            if (width > m_best_width) {
                m_best_width = width;
                m_best_end = base + end;
            }
        }
        i = end;
    }
    m_walk = base + i;

    int64_t final_samples = 0;
    if (anchored) {
        final_samples = region;
    } else if (n > rate) {
        final_samples = m_best_end >= 0 ? m_best_end - base : n;
        m_best_end = -1;
        m_best_width = -1;
    }
    if (final_samples > 0) {
        // The carry now starts after the final samples.
        m_base = base + final_samples;
        // Final samples are dropped from the vectors only now and then, so that a long carry
        // is not moved on every pass.
        int64_t dropped = m_base - m_store;
        if (dropped > int64_t(m_greater_left.size()) / 2) {
            m_greater_left.erase(m_greater_left.begin(), m_greater_left.begin() + dropped);
            m_greater_right.erase(m_greater_right.begin(), m_greater_right.begin() + dropped);
            m_store = m_base;
        }
        auto kept = std::find_if(m_stack.begin(), m_stack.end(),
                                 [this](const Pending& p) { return p.position >= m_base; });
        m_stack.erase(m_stack.begin(), kept);
        m_walk = std::max(m_walk, m_base);
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
