#include "audio/pcm_converter.h"

#include "platform/pcm_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace audio {

namespace {

bool valid(const PcmLayout& layout) {
    if (layout.channels < 1 || layout.channels > 8 || layout.rate < 1 || layout.rate > 1000000)
        return false;
    if (layout.is_float)
        return layout.bits == 32;
    return layout.bits == 8 || layout.bits == 16 || layout.bits == 24 || layout.bits == 32;
}

// What the engine is given: 24-bit samples are widened to 32 bits first.
platform::PcmSample sample_of(const PcmLayout& layout) {
    if (layout.is_float)
        return platform::PcmSample::F32;
    switch (layout.bits) {
    case 8:
        return platform::PcmSample::U8;
    case 16:
        return platform::PcmSample::S16;
    default:
        return platform::PcmSample::S32;
    }
}

size_t frame_bytes(const PcmLayout& layout) {
    return size_t(layout.channels) * size_t((layout.bits + 7) / 8);
}

} // namespace

std::unique_ptr<PcmConverter> PcmConverter::create(const PcmLayout& from, const PcmLayout& to) {
    if (!valid(from) || !valid(to) || to.bits == 24)
        return nullptr;
    auto stream = platform::PcmStream::create(sample_of(from), from.channels, from.rate,
                                              sample_of(to), to.channels, to.rate);
    if (!stream)
        return nullptr;
    return std::unique_ptr<PcmConverter>(new PcmConverter(from, to, std::move(stream)));
}

PcmConverter::PcmConverter(const PcmLayout& from, const PcmLayout& to,
                           std::unique_ptr<platform::PcmStream> stream)
    : m_from(from), m_to(to), m_stream(std::move(stream)) {}

PcmConverter::~PcmConverter() = default;

bool PcmConverter::put(const uint8_t* bytes, size_t size) {
    const size_t frame = frame_bytes(m_from);
    // Complete a frame begun by the last call.
    if (m_partial_size > 0) {
        const size_t taken = std::min(frame - m_partial_size, size);
        std::memcpy(m_partial + m_partial_size, bytes, taken);
        m_partial_size += taken;
        bytes += taken;
        size -= taken;
        if (m_partial_size < frame)
            return true;
        m_partial_size = 0;
        if (!put(m_partial, frame))
            return false;
    }
    const size_t whole = size - size % frame;
    std::memcpy(m_partial, bytes + whole, size - whole);
    m_partial_size = size - whole;
    if (whole == 0)
        return true;
    m_frames_in += whole / frame;
    if (m_from.bits != 24 || m_from.is_float)
        return m_stream->put(bytes, whole);
    // 24-bit samples go in as the top three bytes of 32-bit ones.
    std::vector<uint8_t> wide(whole / 3 * 4);
    for (size_t in = 0, out = 0; in < whole; in += 3, out += 4) {
        wide[out] = 0;
        wide[out + 1] = bytes[in];
        wide[out + 2] = bytes[in + 1];
        wide[out + 3] = bytes[in + 2];
    }
    return m_stream->put(wide.data(), wide.size());
}

void PcmConverter::flush() {
    m_partial_size = 0;
    if (m_from.rate != m_to.rate && !m_flushed) {
        // SDL's resampler keeps back the last few hundred frames at a flush: silence after the
        // input pushes them out, and only as many frames as the input makes are handed out.
        const size_t frames = size_t(m_from.rate / 10) + 1;
        const uint64_t input = m_frames_in;
        std::vector<uint8_t> silence(frames * frame_bytes(m_from),
                                     m_from.bits == 8 && !m_from.is_float ? 0x80 : 0);
        put(silence.data(), silence.size());
        m_frames_in = input;
        m_limit = (input * uint64_t(m_to.rate) + uint64_t(m_from.rate) / 2) / uint64_t(m_from.rate);
    }
    m_flushed = true;
    m_stream->flush();
}

size_t PcmConverter::get(uint8_t* bytes, size_t size) {
    const size_t frame = frame_bytes(m_to);
    if (m_limit)
        size = size_t(std::min<uint64_t>(size / frame, *m_limit - m_frames_out)) * frame;
    size -= size % frame;
    if (size == 0)
        return 0;
    const size_t got = m_stream->get(bytes, size);
    m_frames_out += got / frame;
    return got;
}

} // namespace audio
