#include "audio/speed_stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <soundtouch/SoundTouch.h>

namespace audio {

namespace {

constexpr double kHeadSeconds = 0.15;  // kept at the start of a long pause
constexpr double kTailSeconds = 0.15;  // kept at its end (the crossfade included)
constexpr double kFadeSeconds = 0.010; // the crossfade joining the two
constexpr double kLongSeconds = 0.6;   // pauses longer than this are cut

AudioBlock block_of(const std::vector<int16_t>& samples, int channels, int rate) {
    AudioBlock out;
    out.bytes = ByteSlice::copy_of(samples.size() * 2, samples.data());
    out.channels = channels;
    out.bits_per_sample = 16;
    out.sample_rate = rate;
    return out;
}

} // namespace

SpeedStage::SpeedStage() = default;

SpeedStage::~SpeedStage() = default;

void SpeedStage::set_speed(double speed) {
    std::lock_guard guard(lock());
    m_speed = std::isfinite(speed) ? std::clamp(speed, 0.25, 4.0) : 1.0;
    if (m_stretcher)
        m_stretcher->setTempo(m_speed);
}

double SpeedStage::speed() const {
    std::lock_guard guard(lock());
    return m_speed;
}

void SpeedStage::set_skip_silence(bool on, double threshold) {
    std::lock_guard guard(lock());
    m_skip = on;
    m_threshold = int(std::clamp(threshold, 0.0, 1.0) * 32768);
}

bool SpeedStage::skip_silence() const {
    std::lock_guard guard(lock());
    return m_skip;
}

size_t SpeedStage::held_record_frames() const {
    const size_t channels = size_t(std::max(m_channels, 1));
    return m_held.size() / channels;
}

uint64_t SpeedStage::record_frames() const {
    std::lock_guard guard(lock());
    return record_frames_locked();
}

uint64_t SpeedStage::output_frames() const {
    std::lock_guard guard(lock());
    return m_output_frames;
}

uint64_t SpeedStage::record_at(uint64_t output) const {
    std::lock_guard guard(lock());
    if (m_marks.empty())
        return record_frames_locked();
    // Before the first mark kept, and past the last, the record goes at the sound's pace.
    const Mark& first = m_marks.front();
    if (output <= first.output)
        return first.record - std::min(first.record, first.output - output);
    for (size_t i = 1; i < m_marks.size(); ++i) {
        const Mark& a = m_marks[i - 1];
        const Mark& b = m_marks[i];
        if (output <= b.output) {
            const double share = double(output - a.output) / double(b.output - a.output);
            return a.record + uint64_t(share * double(b.record - a.record));
        }
    }
    return m_marks.back().record;
}

void SpeedStage::hand_on(AudioBlock& out, AudioBlock block) {
    out = std::move(block);
    if (out.empty())
        return;
    m_output_frames += out.frames();
    m_marks.push_back(Mark{m_output_frames, record_frames_locked()});
    // Enough for the device's buffers and a good deal more.
    while (m_marks.size() > 256)
        m_marks.pop_front();
}

uint64_t SpeedStage::record_frames_locked() const {
    double behind = double(held_record_frames());
    if (m_stretcher)
        behind += m_stretcher->numUnprocessedSamples() + m_stretcher->numSamples() * m_speed;
    return m_record_frames - std::min<uint64_t>(m_record_frames, uint64_t(behind));
}

void SpeedStage::clear() {
    std::lock_guard guard(lock());
    // What was taken but never handed on is dropped: the count keeps to what was handed on.
    m_record_frames = record_frames_locked();
    m_stretcher.reset();
    m_ended = false;
    m_quiet = Quiet::Sound;
    m_run = 0;
    m_held.clear();
    m_fade_out.clear();
}

void SpeedStage::start_stretcher(const AudioBlock& format) {
    m_stretcher = std::make_unique<soundtouch::SoundTouch>();
    m_stretcher->setSampleRate(uint32_t(format.sample_rate));
    m_stretcher->setChannels(uint32_t(format.channels));
    m_stretcher->setSetting(SETTING_USE_QUICKSEEK, 1);
    m_stretcher->setTempo(m_speed);
    m_ended = false;
}

// Appends to `kept` what is decided of these frames; long quiet runs lose their middle.
void SpeedStage::skip_quiet(const int16_t* samples, size_t frames, std::vector<int16_t>& kept) {
    const size_t channels = size_t(m_channels);
    const size_t head = size_t(kHeadSeconds * m_rate);
    const size_t tail = size_t(kTailSeconds * m_rate) * channels;
    const size_t fade = size_t(kFadeSeconds * m_rate) * channels;
    const size_t longest = size_t(kLongSeconds * m_rate);
    for (size_t f = 0; f < frames; ++f) {
        const int16_t* frame = samples + f * channels;
        bool loud = false;
        for (size_t c = 0; c < channels; ++c)
            loud = loud || std::abs(int(frame[c])) >= m_threshold;
        if (loud) {
            flush_quiet(kept);
            kept.insert(kept.end(), frame, frame + channels);
            continue;
        }
        ++m_run;
        switch (m_quiet) {
        case Quiet::Sound:
            m_quiet = Quiet::Head;
            [[fallthrough]];
        case Quiet::Head:
            if (m_run <= head) {
                kept.insert(kept.end(), frame, frame + channels);
                break;
            }
            m_quiet = Quiet::Held;
            [[fallthrough]];
        case Quiet::Held:
            m_held.insert(m_held.end(), frame, frame + channels);
            if (m_run > longest) {
                // Long enough to cut: the head's continuation fades out at the join, and only
                // the last of the pause is kept from here on.
                m_fade_out.assign(m_held.begin(), m_held.begin() + std::ptrdiff_t(fade));
                m_held.erase(m_held.begin(), m_held.end() - std::ptrdiff_t(tail));
                m_quiet = Quiet::Cut;
            }
            break;
        case Quiet::Cut:
            m_held.insert(m_held.end(), frame, frame + channels);
            if (m_held.size() >= 4 * tail)
                m_held.erase(m_held.begin(), m_held.end() - std::ptrdiff_t(tail));
            break;
        }
    }
}

// Ends the current quiet run: what it holds goes to `kept` (after a cut, its last part joined
// to the head by the crossfade).
void SpeedStage::flush_quiet(std::vector<int16_t>& kept) {
    if (m_quiet == Quiet::Cut) {
        const size_t channels = size_t(std::max(m_channels, 1));
        const size_t tail = size_t(kTailSeconds * m_rate) * channels;
        if (m_held.size() > tail)
            m_held.erase(m_held.begin(), m_held.end() - std::ptrdiff_t(tail));
        const size_t fade = std::min(m_fade_out.size(), m_held.size()) / channels;
        for (size_t f = 0; f < fade; ++f) {
            const double in = (f + 0.5) / double(fade);
            for (size_t c = 0; c < channels; ++c) {
                const size_t i = f * channels + c;
                kept.push_back(int16_t(std::lround(m_fade_out[i] * (1.0 - in) + m_held[i] * in)));
            }
        }
        kept.insert(kept.end(), m_held.begin() + std::ptrdiff_t(fade * channels), m_held.end());
    } else {
        kept.insert(kept.end(), m_held.begin(), m_held.end());
    }
    m_held.clear();
    m_fade_out.clear();
    m_quiet = Quiet::Sound;
    m_run = 0;
}

void SpeedStage::get_data(AudioBlock& out, int max_bytes) {
    std::lock_guard guard(lock());
    out = AudioBlock{};
    std::vector<int16_t> kept;
    for (;;) {
        if (m_stretcher) {
            const uint32_t available = m_stretcher->numSamples();
            if (available > 0) {
                const uint32_t frame_bytes = uint32_t(m_channels) * 2;
                const uint32_t want =
                    std::clamp<uint32_t>(uint32_t(max_bytes) / frame_bytes, 1, available);
                m_float.resize(size_t(want) * size_t(m_channels));
                const uint32_t got = m_stretcher->receiveSamples(m_float.data(), want);
                std::vector<int16_t> samples(size_t(got) * size_t(m_channels));
                for (size_t i = 0; i < samples.size(); ++i)
                    samples[i] =
                        int16_t(std::clamp(std::lround(m_float[i] * 32768.0f), -32768L, 32767L));
                hand_on(out, block_of(samples, m_channels, m_rate));
                return;
            }
            if (m_ended)
                return;
        }
        AudioBlock in;
        pull(*this, in, max_bytes);
        kept.clear();
        if (in.empty()) {
            // The end of the stream: whatever is held goes out.
            if (m_quiet != Quiet::Sound)
                flush_quiet(kept);
            if (m_stretcher) {
                if (!kept.empty()) {
                    m_float.assign(kept.begin(), kept.end());
                    for (float& s : m_float)
                        s /= 32768.0f;
                    m_stretcher->putSamples(m_float.data(), uint32_t(kept.size()) / m_channels);
                }
                m_stretcher->flush();
                m_ended = true;
                continue;
            }
            if (!kept.empty())
                hand_on(out, block_of(kept, m_channels, m_rate));
            return;
        }
        const bool workable =
            in.bits_per_sample == 16 && in.channels >= 1 && in.channels <= 8 && in.sample_rate > 0;
        if (workable && (in.channels != m_channels || in.sample_rate != m_rate)) {
            // Another stream: nothing of the last one is carried over.
            m_stretcher.reset();
            m_held.clear();
            m_fade_out.clear();
            m_quiet = Quiet::Sound;
            m_run = 0;
            m_channels = in.channels;
            m_rate = in.sample_rate;
        }
        m_record_frames += in.frames();
        if (!workable || (!m_stretcher && m_speed == 1.0 && !m_skip && m_quiet == Quiet::Sound)) {
            hand_on(out, in);
            return;
        }
        const auto* samples = reinterpret_cast<const int16_t*>(in.bytes.data());
        const size_t frames = in.frames();
        if (m_skip) {
            skip_quiet(samples, frames, kept);
        } else {
            if (m_quiet != Quiet::Sound)
                flush_quiet(kept);
            kept.insert(kept.end(), samples, samples + frames * size_t(m_channels));
        }
        if (!m_stretcher && m_speed != 1.0)
            start_stretcher(in);
        if (!m_stretcher) {
            if (kept.empty())
                continue;
            hand_on(out, block_of(kept, m_channels, m_rate));
            return;
        }
        if (kept.empty())
            continue;
        m_float.resize(kept.size());
        for (size_t i = 0; i < kept.size(); ++i)
            m_float[i] = kept[i] / 32768.0f;
        m_stretcher->putSamples(m_float.data(), uint32_t(kept.size() / size_t(m_channels)));
    }
}

} // namespace audio
