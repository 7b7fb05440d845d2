#include "formats/reader_base.h"

#include "audio/pcm_converter.h"
#include "foundation/log.h"

namespace formats {

ReaderBase::ReaderBase() : m_output(*this) {}

ReaderBase::~ReaderBase() = default;

bool ReaderBase::in_reported_format(const audio::AudioBlock& block) const {
    return block.channels == m_channels && block.sample_rate == m_rate &&
           block.bits_per_sample == m_bits;
}

void ReaderBase::drop_conversion() {
    m_held = audio::AudioBlock{};
    m_converter.reset();
    m_converter_flushed = false;
}

void ReaderBase::next_block(audio::AudioBlock& out, int max_bytes) {
    const size_t frame_bytes = size_t(m_channels) * size_t(m_bits / 8);
    for (;;) {
        if (m_converter) {
            // What the converter has of the part it converts goes first.
            const size_t room =
                std::max(frame_bytes, size_t(std::max(max_bytes, 0)) / frame_bytes * frame_bytes);
            audio::ByteSlice bytes = audio::ByteSlice::allocate(room);
            const size_t got = m_converter->get(bytes.writable_data(), room);
            if (got > 0) {
                out.bytes = bytes.slice(0, got);
                out.channels = m_channels;
                out.bits_per_sample = m_bits;
                out.sample_rate = m_rate;
                return;
            }
            if (m_converter_flushed)
                m_converter.reset();
        }
        if (m_held.empty())
            read_block(m_held, max_bytes);
        const bool other_part =
            m_converter && !m_held.empty() &&
            (m_held.channels != m_converting_channels || m_held.sample_rate != m_converting_rate);
        if (m_converter && !m_converter_flushed &&
            (m_held.empty() || in_reported_format(m_held) || other_part)) {
            // The converted part has ended: the converter gives up what it still holds.
            m_converter->flush();
            m_converter_flushed = true;
            continue;
        }
        if (m_held.empty() || in_reported_format(m_held)) {
            out = std::move(m_held);
            m_held = audio::AudioBlock{};
            return;
        }
        if (!m_converter) {
            const audio::PcmLayout from{m_held.channels, m_held.bits_per_sample, m_held.sample_rate,
                                        false};
            const audio::PcmLayout to{m_channels, m_bits, m_rate, false};
            m_converter = audio::PcmConverter::create(from, to);
            m_converter_flushed = false;
            m_converting_channels = m_held.channels;
            m_converting_rate = m_held.sample_rate;
            if (!m_converter) {
                // Nothing can be made of this part's blocks: they are passed over.
                foundation::log() << "ReaderBase: no conversion from channels:" << from.channels
                                  << " rate:" << from.rate << "\n";
                m_held = audio::AudioBlock{};
                continue;
            }
        }
        m_converter->put(m_held.bytes.data(), m_held.size());
        m_held = audio::AudioBlock{};
    }
}

} // namespace formats
