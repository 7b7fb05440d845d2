#include "audio/peak_tap.h"

namespace audio {

void PeakTap::reset(const Peaks& start) {
    std::lock_guard guard(lock());
    m_peaks = start;
}

Peaks PeakTap::peaks() const {
    std::lock_guard guard(lock());
    return m_peaks;
}

void PeakTap::process(AudioBlock& out, const AudioBlock& in) {
    out = in;
    m_peaks.add(in);
}

std::vector<PeakColumn> LiveWave::recent() const {
    std::lock_guard guard(lock());
    std::vector<PeakColumn> out(m_ring.begin() + std::ptrdiff_t(m_next), m_ring.end());
    out.insert(out.end(), m_ring.begin(), m_ring.begin() + std::ptrdiff_t(m_next));
    return out;
}

uint64_t LiveWave::finished() const {
    std::lock_guard guard(lock());
    return m_finished;
}

void LiveWave::clear() {
    std::lock_guard guard(lock());
    m_ring.clear();
    m_next = 0;
    m_current = Peaks{};
}

void LiveWave::process(AudioBlock& out, const AudioBlock& in) {
    out = in;
    if (in.empty() || in.bits_per_sample != 16 || in.sample_rate <= 0 || in.channels <= 0)
        return;
    const auto* samples = reinterpret_cast<const int16_t*>(in.bytes.data());
    const size_t column = size_t(std::max(1, in.sample_rate / kColumnsPerSecond));
    if (m_current.rate() != in.sample_rate)
        m_current.reset(in.sample_rate);
    size_t frames = in.frames();
    while (frames > 0) {
        const size_t take = std::min<size_t>(frames, column - size_t(m_current.frames()));
        m_current.add_samples(samples, take, in.channels);
        samples += take * size_t(in.channels);
        frames -= take;
        if (m_current.frames() < column)
            continue;
        const PeakColumn done = m_current.columns(1).front();
        if (m_ring.size() < kColumns) {
            m_ring.push_back(done);
        } else {
            m_ring[m_next] = done;
            m_next = (m_next + 1) % kColumns;
        }
        m_current.reset(in.sample_rate);
        ++m_finished;
    }
}

} // namespace audio
