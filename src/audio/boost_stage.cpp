#include "audio/boost_stage.h"

#include <algorithm>
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

size_t BoostStage::gain_pass(int16_t* x, size_t count, int rate) {
    if (rate <= 0)
        return count;
    const int64_t window = rate / 10;
    const int64_t n = int64_t(count);
    const int64_t limit = n - window;
    if (limit <= 0 || window <= 0)
        return 0;

    m_magnitude.resize(count);
    m_greater_left.resize(count);
    m_greater_right.resize(count);
    for (int64_t i = 0; i < n; ++i)
        m_magnitude[i] = x[i] < 0 ? -int32_t(x[i]) : int32_t(x[i]);
    // Nearest strictly larger magnitude on each side (-1 / n when there is none).
    m_stack.clear();
    for (int64_t i = 0; i < n; ++i) {
        while (!m_stack.empty() && m_magnitude[m_stack.back()] <= m_magnitude[i])
            m_stack.pop_back();
        m_greater_left[i] = m_stack.empty() ? -1 : m_stack.back();
        m_stack.push_back(int32_t(i));
    }
    m_stack.clear();
    for (int64_t i = n - 1; i >= 0; --i) {
        while (!m_stack.empty() && m_magnitude[m_stack.back()] <= m_magnitude[i])
            m_stack.pop_back();
        m_greater_right[i] = m_stack.empty() ? int32_t(n) : m_stack.back();
        m_stack.push_back(int32_t(i));
    }

    int64_t region = 0; // first sample after the last anchor's half-wave
    bool anchored = false;
    int64_t best_end = -1;
    int64_t best_width = -1;
    int64_t i = 0;
    while (i < n) {
        if (x[i] == 0) {
            ++i;
            continue;
        }
        int64_t start = i, end = i + 1, peak = i;
        while (end < n && x[end] != 0 && (x[end] > 0) == (x[start] > 0)) {
            if (m_magnitude[end] > m_magnitude[peak])
                peak = end;
            ++end;
        }
        if (end >= n || end > limit)
            break;
        int64_t left = m_greater_left[peak];
        int64_t right = m_greater_right[peak];
        bool dominates = (left < region || peak - left > window) && right - peak > window;
        if (dominates) {
            apply(x, size_t(region), size_t(start), size_t(end), anchor_gain(m_magnitude[peak]));
            m_last_peak = x[peak] < 0 ? -m_magnitude[peak] : m_magnitude[peak];
            region = end;
            anchored = true;
        } else if (!anchored) {
            int64_t width = std::min(right, n) - std::max<int64_t>(left, -1);
            if (width > best_width) {
                best_width = width;
                best_end = end;
            }
        }
        i = end;
    }
    if (anchored)
        return size_t(region);
    if (n > rate)
        return size_t(best_end >= 0 ? best_end : n);
    return 0;
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
    }
    if (boosted)
        boost(out, in);
    else
        out = in;
}

} // namespace audio
