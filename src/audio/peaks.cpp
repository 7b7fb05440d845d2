#include "audio/peaks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audio {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'V', 'P', 'K'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 32;

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}
void put64(std::vector<uint8_t>& out, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t get64(const uint8_t* p) {
    return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32;
}

bool valid_rate(int rate) {
    return rate >= 1000 && rate <= 192000;
}

struct Measured {
    uint32_t peak;
    double squares;
};

// The largest magnitude and the sum of squares of `count` samples. The samples go through eight
// independent lanes, which the compiler turns into vector instructions: this loop is most of
// what a waveform costs besides decoding. Each lane adds at most about a thousand squares of
// 16-bit samples, far within a float's precision.
Measured measure(const int16_t* samples, size_t count) {
    constexpr size_t kLanes = 8;
    int16_t high[kLanes] = {};
    int16_t low[kLanes] = {};
    float squares[kLanes] = {};
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (size_t k = 0; k < kLanes; ++k) {
            const int16_t s = samples[i + k];
            high[k] = std::max(high[k], s);
            low[k] = std::min(low[k], s);
            squares[k] += float(s) * float(s);
        }
    }
    int peak = 0;
    double total = 0;
    for (size_t k = 0; k < kLanes; ++k) {
        peak = std::max({peak, int(high[k]), -int(low[k])});
        total += double(squares[k]);
    }
    for (; i < count; ++i) {
        const int s = samples[i];
        peak = std::max(peak, s < 0 ? -s : s);
        total += double(s) * s;
    }
    return Measured{uint32_t(peak), total};
}

} // namespace

void Peaks::reset(int rate) {
    m_rate = valid_rate(rate) ? rate : 8000;
    m_bin_frames = uint64_t(std::max(1, m_rate / 100));
    m_frames = 0;
    m_in_last = 0;
    m_bins.clear();
}

void Peaks::add(const AudioBlock& block) {
    if (block.empty() || block.bits_per_sample != 16 || block.channels <= 0)
        return;
    if (block.sample_rate != m_rate || m_bin_frames == 0)
        reset(block.sample_rate);
    // Blocks are whole frames of aligned 16-bit samples as every reader and stage makes them;
    // a stray odd byte is left out.
    const size_t frames = block.frames();
    add_samples(reinterpret_cast<const int16_t*>(block.bytes.data()), frames, block.channels);
}

void Peaks::add_samples(const int16_t* samples, size_t frames, int channels) {
    if (m_bin_frames == 0)
        reset(m_rate);
    if (channels <= 0)
        return;
    const size_t stride = size_t(channels);
    while (frames > 0) {
        if (m_bins.empty() || m_in_last == m_bin_frames) {
            if (m_bins.size() == kMaxBins)
                merge_pairs();
            m_bins.push_back(Bin{});
            m_in_last = 0;
        }
        Bin& bin = m_bins.back();
        const size_t take = size_t(std::min<uint64_t>(frames, m_bin_frames - m_in_last));
        const size_t count = take * stride;
        const Measured measured = measure(samples, count);
        bin.peak = std::max(bin.peak, measured.peak);
        bin.squares += measured.squares / (32768.0 * 32768.0) / double(stride);
        m_in_last += take;
        m_frames += take;
        samples += count;
        frames -= take;
    }
}

void Peaks::merge_pairs() {
    const size_t half = m_bins.size() / 2;
    for (size_t i = 0; i < half; ++i) {
        const Bin& a = m_bins[2 * i];
        const Bin& b = m_bins[2 * i + 1];
        m_bins[i] = Bin{std::max(a.peak, b.peak), a.squares + b.squares};
    }
    m_bins.resize(half);
    m_bin_frames *= 2;
}

uint64_t Peaks::frames_in(size_t bin) const {
    return bin + 1 == m_bins.size() ? m_in_last : m_bin_frames;
}

std::vector<PeakColumn> Peaks::columns(int width, uint64_t span_frames) const {
    std::vector<PeakColumn> out;
    if (width <= 0 || m_bins.empty())
        return out;
    const uint64_t span = span_frames > 0 ? span_frames : m_frames;
    const double per_column = double(span) / width;
    // Columns that begin within what was added.
    const size_t count =
        size_t(std::min<double>(width, std::ceil(double(m_frames) / per_column - 1e-9)));
    out.resize(count);
    std::vector<double> squares(count, 0.0), frames(count, 0.0);
    for (size_t i = 0; i < m_bins.size(); ++i) {
        const double middle = double(i * m_bin_frames) + double(frames_in(i)) / 2;
        const size_t column = std::min(count - 1, size_t(middle / per_column));
        out[column].peak = std::max(out[column].peak, float(m_bins[i].peak / 32768.0));
        squares[column] += m_bins[i].squares;
        frames[column] += double(frames_in(i));
    }
    for (size_t c = 0; c < count; ++c) {
        if (frames[c] == 0) {
            // Narrower than a bin: the column shows the bin under its middle.
            const double middle = (double(c) + 0.5) * per_column;
            const size_t i = std::min(m_bins.size() - 1, size_t(middle / double(m_bin_frames)));
            out[c].peak = float(m_bins[i].peak / 32768.0);
            squares[c] = m_bins[i].squares;
            frames[c] = double(frames_in(i));
        }
        out[c].rms = frames[c] > 0 ? float(std::sqrt(squares[c] / frames[c])) : 0.0f;
    }
    return out;
}

std::vector<uint8_t> Peaks::encode() const {
    std::vector<uint8_t> out;
    out.reserve(kHeaderSize + m_bins.size() * 4);
    for (uint8_t byte : kMagic)
        out.push_back(byte);
    put32(out, kVersion);
    put32(out, uint32_t(m_rate));
    put64(out, m_bin_frames);
    put64(out, m_frames);
    put32(out, uint32_t(m_bins.size()));
    for (size_t i = 0; i < m_bins.size(); ++i) {
        const uint64_t n = frames_in(i);
        const double rms = n > 0 ? std::sqrt(m_bins[i].squares / double(n)) : 0.0;
        const uint32_t peak = std::min<uint32_t>(m_bins[i].peak, 32768);
        const uint32_t level = uint32_t(std::lround(std::clamp(rms, 0.0, 1.0) * 65535));
        out.push_back(uint8_t(peak));
        out.push_back(uint8_t(peak >> 8));
        out.push_back(uint8_t(level));
        out.push_back(uint8_t(level >> 8));
    }
    return out;
}

bool Peaks::decode(const uint8_t* data, size_t size) {
    if (!data || size < kHeaderSize || std::memcmp(data, kMagic, 4) != 0 ||
        get32(data + 4) != kVersion)
        return false;
    const uint32_t rate = get32(data + 8);
    const uint64_t bin_frames = get64(data + 12);
    const uint64_t frames = get64(data + 20);
    const uint32_t bins = get32(data + 28);
    if (!valid_rate(int(rate)) || bin_frames == 0 || bin_frames > (uint64_t(1) << 40) ||
        bins > kMaxBins || size != kHeaderSize + size_t(bins) * 4)
        return false;
    // The bins cover the frames exactly: all full but the last, which holds at least one.
    if (bins == 0 ? frames != 0
                  : (frames <= (bins - 1) * bin_frames || frames > uint64_t(bins) * bin_frames))
        return false;
    std::vector<Bin> decoded(bins);
    const uint64_t in_last = bins ? frames - (bins - 1) * bin_frames : 0;
    for (uint32_t i = 0; i < bins; ++i) {
        const uint8_t* p = data + kHeaderSize + size_t(i) * 4;
        const uint32_t peak = uint32_t(p[0]) | uint32_t(p[1]) << 8;
        const double rms = (uint32_t(p[2]) | uint32_t(p[3]) << 8) / 65535.0;
        if (peak > 32768)
            return false;
        const double n = double(i + 1 == bins ? in_last : bin_frames);
        decoded[i] = Bin{peak, rms * rms * n};
    }
    m_rate = int(rate);
    m_bin_frames = bin_frames;
    m_frames = frames;
    m_in_last = in_last;
    m_bins = std::move(decoded);
    return true;
}

} // namespace audio
