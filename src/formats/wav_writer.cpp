#include "formats/wav_writer.h"

#include "formats/adpcm_codec.h"
#include "foundation/log.h"

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" {
#include <gsm/gsm.h>
}

namespace formats {

namespace {
constexpr int kGsmBlockAlign = 65;
constexpr int kGsmSamplesPerBlock = 320;
} // namespace

WavWriter::WavWriter(const std::u16string& path, bool append) : m_path(path), m_append(append) {}

WavWriter::~WavWriter() {
    complete();
}

bool WavWriter::is_valid() const {
    std::lock_guard guard(lock());
    return m_ok;
}

void WavWriter::on_data(const audio::AudioBlock& block) {
    std::lock_guard guard(lock());
    if (!m_ok || m_completed || block.empty())
        return;
    if (!m_started) {
        WavHeader header;
        header.channels = uint16_t(block.channels);
        header.rate = uint32_t(block.sample_rate);
        header.bits = uint16_t(block.bits_per_sample);
        if (block.channels < 1 || block.channels > 16 || block.bits_per_sample < 1 ||
            block.bits_per_sample > 32 || block.sample_rate < 1 || !start(block, header))
            return;
        bool opened =
            m_file.open(m_path, m_append ? foundation::File::Append : foundation::File::WriteNew);
        if (!opened) {
            foundation::log() << "WavWriter::on_data cannot open the file\n";
            m_ok = false;
            return;
        }
        m_header = header;
        m_header_offset = m_file.tell();
        std::vector<uint8_t> bytes = m_header.serialize();
        if (!m_file.write(bytes.data(), uint32_t(bytes.size()))) {
            foundation::log() << "WavWriter::on_data header write failed\n";
            m_ok = false;
            m_file.seek(m_header_offset);
            m_file.truncate();
            return;
        }
        m_started = true;
        m_format = block;
        m_format.bytes = {};
    }
    if (!block.same_format(m_format))
        return;
    code(block);
}

bool WavWriter::write_data(const uint8_t* bytes, size_t size) {
    if (!m_ok)
        return false;
    if (size == 0)
        return true;
    if (!m_file.write(bytes, uint32_t(size))) {
        foundation::log() << "WavWriter::write_data failed after " << m_header.data_size
                          << " bytes\n";
        m_ok = false;
        // Drop whatever part of this write reached the file.
        m_file.seek(m_header_offset + m_header.header_size + m_header.data_size);
        m_file.truncate();
        return false;
    }
    m_header.data_size += uint32_t(size);
    return true;
}

void WavWriter::complete() {
    if (audio::Outlet* upstream = peer())
        audio::connect(*upstream, nullptr);
    std::lock_guard guard(lock());
    if (m_completed)
        return;
    m_completed = true;
    if (!m_started)
        return;
    if (m_ok)
        finish();
    m_header.riff_size = m_header.data_size + m_header.header_size - 8;
    std::vector<uint8_t> bytes = m_header.serialize();
    if (!m_file.seek(m_header_offset) || !m_file.write(bytes.data(), uint32_t(bytes.size())))
        foundation::log() << "WavWriter::complete header write failed\n";
    m_file.close();
}

// PCM

PcmWavWriter::~PcmWavWriter() {
    complete();
}

bool PcmWavWriter::start(const audio::AudioBlock& first, WavHeader& header) {
    header.format_tag = kWaveFormatPcm;
    header.block_align = uint16_t(first.bytes_per_frame());
    header.average_bytes_per_second = header.block_align * header.rate;
    return true;
}

void PcmWavWriter::code(const audio::AudioBlock& block) {
    size_t frame = header().block_align;
    const uint8_t* data = block.bytes.data();
    size_t size = block.size();
    if (!m_partial.empty()) {
        size_t take = std::min(frame - m_partial.size(), size);
        m_partial.insert(m_partial.end(), data, data + take);
        data += take;
        size -= take;
        if (m_partial.size() < frame)
            return;
        if (!write_data(m_partial.data(), frame))
            return;
        m_partial.clear();
    }
    size_t whole = size - size % frame;
    if (!write_data(data, whole))
        return;
    m_partial.assign(data + whole, data + size);
}

// Microsoft ADPCM

AdpcmWavWriter::~AdpcmWavWriter() {
    complete();
}

bool AdpcmWavWriter::start(const audio::AudioBlock& first, WavHeader& header) {
    if (first.bits_per_sample != 16 || first.channels > 2)
        return false;
    m_channels = first.channels;
    m_block_align = adpcm::block_align_for(first.sample_rate, m_channels);
    m_frames_per_block = adpcm::samples_per_block(m_block_align, m_channels);
    m_pending.assign(size_t(m_frames_per_block * m_channels), 0);
    m_coded.assign(size_t(m_block_align), 0);
    header.format_tag = kWaveFormatAdpcm;
    header.bits = 4;
    header.block_align = uint16_t(m_block_align);
    header.samples_per_block = uint16_t(m_frames_per_block);
    header.average_bytes_per_second =
        uint32_t(uint64_t(header.rate) * uint32_t(m_block_align) / uint32_t(m_frames_per_block));
    header.coefficients.assign(adpcm::kCoefficients.begin(), adpcm::kCoefficients.end());
    return true;
}

void AdpcmWavWriter::encode_pending() {
    adpcm::encode_block(m_pending.data(), m_frames_per_block, m_channels, m_block_align,
                        m_coded.data());
    if (write_data(m_coded.data(), m_coded.size()))
        add_samples(uint32_t(m_pending_count / size_t(m_channels)));
    m_pending_count = 0;
}

void AdpcmWavWriter::code(const audio::AudioBlock& block) {
    const uint8_t* data = block.bytes.data();
    size_t size = block.size();
    auto add = [this](int16_t sample) {
        m_pending[m_pending_count++] = sample;
        if (m_pending_count == m_pending.size())
            encode_pending();
    };
    if (!m_partial.empty() && size > 0) {
        add(int16_t(uint16_t(m_partial[0] | (data[0] << 8))));
        m_partial.clear();
        ++data;
        --size;
    }
    for (size_t i = 0; i + 1 < size; i += 2)
        add(int16_t(uint16_t(data[i] | (data[i + 1] << 8))));
    if (size % 2)
        m_partial.assign(1, data[size - 1]);
}

void AdpcmWavWriter::finish() {
    // Only whole frames count; the missing samples of the last block are silence.
    m_pending_count -= m_pending_count % size_t(m_channels);
    if (m_pending_count == 0)
        return;
    size_t used = m_pending_count;
    std::fill(m_pending.begin() + std::ptrdiff_t(used), m_pending.end(), int16_t(0));
    encode_pending();
}

// GSM 06.10

GsmWavWriter::GsmWavWriter(const std::u16string& path, bool append) : WavWriter(path, append) {}

GsmWavWriter::~GsmWavWriter() {
    complete();
    if (m_gsm)
        gsm_destroy(m_gsm);
}

bool GsmWavWriter::start(const audio::AudioBlock& first, WavHeader& header) {
    if (first.bits_per_sample != 16 || first.channels != 1 || first.sample_rate != 8000)
        return false;
    m_gsm = gsm_create();
    if (!m_gsm)
        return false;
    int one = 1;
    gsm_option(m_gsm, GSM_OPT_WAV49, &one);
    header.format_tag = kWaveFormatGsm;
    header.bits = 0;
    header.block_align = kGsmBlockAlign;
    header.samples_per_block = kGsmSamplesPerBlock;
    header.average_bytes_per_second = 1625;
    return true;
}

void GsmWavWriter::encode_pending() {
    uint8_t block[kGsmBlockAlign];
    gsm_encode(m_gsm, m_pending, block);
    gsm_encode(m_gsm, m_pending + 160, block + 32);
    if (write_data(block, sizeof block))
        add_samples(uint32_t(m_pending_count));
    m_pending_count = 0;
}

void GsmWavWriter::code(const audio::AudioBlock& block) {
    const uint8_t* data = block.bytes.data();
    size_t size = block.size();
    auto add = [this](int16_t sample) {
        m_pending[m_pending_count++] = sample;
        if (m_pending_count == kGsmSamplesPerBlock)
            encode_pending();
    };
    size_t i = 0;
    if (m_odd_byte && size > 0) {
        add(int16_t(uint16_t(m_last_byte | (data[0] << 8))));
        m_odd_byte = false;
        i = 1;
    }
    for (; i + 1 < size; i += 2)
        add(int16_t(uint16_t(data[i] | (data[i + 1] << 8))));
    if (i < size) {
        m_odd_byte = true;
        m_last_byte = data[i];
    }
}

void GsmWavWriter::finish() {
    if (m_pending_count == 0)
        return;
    std::fill(m_pending + m_pending_count, m_pending + kGsmSamplesPerBlock, int16_t(0));
    encode_pending();
}

} // namespace formats
