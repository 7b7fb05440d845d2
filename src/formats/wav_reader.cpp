#include "formats/wav_reader.h"

#include "formats/adpcm_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <gsm/gsm.h>
}

namespace formats {

namespace {
constexpr int kGsmBlockAlign = 65;
constexpr int kGsmSamplesPerBlock = 320;
constexpr int kMaxPcmRead = 1 << 20;
constexpr int kAdpcmBlocksPerPull = 5;
constexpr int kGsmBlocksPerPull = 10;
constexpr uint32_t kMaxRate = 1000000;
} // namespace

WavReader::WavReader(const std::u16string& path) : m_path(path) {}

bool WavReader::open_header() {
    if (!m_file.open(m_path, foundation::File::Read) || !m_header.parse(m_file))
        return false;
    return m_header.rate >= 1 && m_header.rate <= kMaxRate && m_header.block_align > 0;
}

void WavReader::accept(double frames) {
    m_valid = true;
    m_channels = m_header.channels;
    m_rate = int(m_header.rate);
    m_bit_rate =
        int(std::min<uint64_t>(uint64_t(m_header.average_bytes_per_second) * 8, INT32_MAX));
    m_duration = m_header.rate ? frames / m_header.rate : 0;
}

uint32_t WavReader::read_data(uint8_t* buffer, uint32_t count) {
    uint64_t left = m_header.data_size - std::min<uint64_t>(m_data_read, m_header.data_size);
    count = uint32_t(std::min<uint64_t>(count, left));
    uint32_t got = count ? m_file.read(buffer, count) : 0;
    m_data_read += got;
    return got;
}

bool WavReader::seek_data(uint64_t offset) {
    offset = std::min<uint64_t>(offset, m_header.data_size);
    if (!m_file.seek(m_header.header_size + offset))
        return false;
    m_data_read = offset;
    return true;
}

// PCM

PcmWavReader::PcmWavReader(const std::u16string& path) : WavReader(path) {
    if (!open_header())
        return;
    const WavHeader& h = m_header;
    m_float = h.format_tag == kWaveFormatFloat;
    if (h.format_tag != kWaveFormatPcm && !m_float)
        return;
    m_sample_bytes = (h.bits + 7) / 8;
    const bool width_ok = m_float ? (h.bits == 32 || h.bits == 64) : (h.bits >= 1 && h.bits <= 32);
    if (h.channels < 1 || !width_ok || h.rate < 1 || h.block_align != h.channels * m_sample_bytes)
        return;
    // Narrower samples sit in the high bits of their container; floating point is delivered
    // as 32-bit integers.
    m_bits = m_float ? 32 : m_sample_bytes * 8;
    accept(double(h.data_size / h.block_align));
    m_bit_rate = int(std::min<uint64_t>(uint64_t(h.block_align) * h.rate * 8, INT32_MAX));
}

namespace {

template <typename Float> int32_t float_to_int32(const uint8_t* p) {
    Float value;
    std::memcpy(&value, p, sizeof value);
    if (!(value == value))
        return 0;
    double scaled = std::round(double(value) * 2147483648.0);
    return int32_t(std::clamp(scaled, -2147483648.0, 2147483647.0));
}

} // namespace

void PcmWavReader::read_block(audio::AudioBlock& out, int max_bytes) {
    uint32_t align = m_header.block_align;
    uint32_t want = uint32_t(std::clamp(max_bytes, 1, kMaxPcmRead));
    // 64-bit floating point is delivered at half its stored size.
    if (m_float && m_sample_bytes == 8)
        want = std::min<uint32_t>(want * 2, kMaxPcmRead);
    want = std::max(align, want - want % align);
    uint64_t left = m_header.data_size - std::min<uint64_t>(m_data_read, m_header.data_size);
    left -= left % align;
    want = uint32_t(std::min<uint64_t>(want, left));
    if (want == 0)
        return;
    audio::ByteSlice bytes = audio::ByteSlice::allocate(want);
    uint32_t got = read_data(bytes.writable_data(), want);
    got -= got % align;
    if (got == 0)
        return;
    if (m_float) {
        const size_t samples = got / uint32_t(m_sample_bytes);
        audio::ByteSlice converted = audio::ByteSlice::allocate(samples * 4);
        const uint8_t* source = bytes.data();
        uint8_t* target = converted.writable_data();
        for (size_t i = 0; i < samples; ++i) {
            int32_t value = m_sample_bytes == 8 ? float_to_int32<double>(source + i * 8)
                                                : float_to_int32<float>(source + i * 4);
            std::memcpy(target + i * 4, &value, 4);
        }
        bytes = converted;
    } else {
        bytes.truncate(got);
    }
    out.bytes = bytes;
    out.channels = m_channels;
    out.bits_per_sample = m_bits;
    out.sample_rate = m_rate;
}

bool PcmWavReader::seek_locked(double position) {
    uint64_t frame = uint64_t(position * m_rate);
    return seek_data(frame * m_header.block_align);
}

// Microsoft ADPCM

AdpcmWavReader::AdpcmWavReader(const std::u16string& path) : WavReader(path) {
    if (!open_header() || m_header.format_tag != kWaveFormatAdpcm)
        return;
    const WavHeader& h = m_header;
    if (h.channels < 1 || h.channels > 2 || h.bits != 4 || h.rate < 1 ||
        h.coefficients.size() != adpcm::kCoefficientCount)
        return;
    int capacity = adpcm::samples_per_block(h.block_align, h.channels);
    if (h.samples_per_block < 2 || h.samples_per_block > capacity)
        return;
    uint64_t blocks = (h.data_size + h.block_align - 1) / h.block_align;
    m_frames_left = blocks * h.samples_per_block;
    if (h.has_fact)
        m_frames_left = std::min<uint64_t>(m_frames_left, h.fact_samples);
    m_block.resize(h.block_align);
    m_bits = 16;
    accept(double(m_frames_left));
}

void AdpcmWavReader::read_block(audio::AudioBlock& out, int) {
    const int channels = m_channels;
    const int per_block = m_header.samples_per_block;
    size_t capacity = size_t(kAdpcmBlocksPerPull) * size_t(per_block) * size_t(channels) * 2;
    audio::ByteSlice bytes;
    int16_t* samples = nullptr;
    size_t frames = 0;
    for (int i = 0; i < kAdpcmBlocksPerPull && m_frames_left > 0; ++i) {
        uint32_t got = read_data(m_block.data(), m_header.block_align);
        if (got == 0)
            break;
        if (!samples) {
            bytes = audio::ByteSlice::allocate(capacity);
            samples = reinterpret_cast<int16_t*>(bytes.writable_data());
        }
        int max_frames = int(std::min<uint64_t>(per_block, m_frames_left));
        int decoded = adpcm::decode_block(m_block.data(), got, channels, max_frames,
                                          samples + frames * size_t(channels));
        if (decoded == 0) {
            // A block that cannot be decoded ends the stream.
            m_frames_left = 0;
            break;
        }
        frames += size_t(decoded);
        m_frames_left -= uint64_t(decoded);
    }
    if (frames == 0)
        return;
    bytes.truncate(frames * size_t(channels) * 2);
    out.bytes = bytes;
    out.channels = channels;
    out.bits_per_sample = 16;
    out.sample_rate = m_rate;
}

bool AdpcmWavReader::seek_locked(double position) {
    uint64_t frame = uint64_t(position * m_rate);
    uint64_t block = frame / m_header.samples_per_block;
    uint64_t blocks = (m_header.data_size + m_header.block_align - 1) / m_header.block_align;
    block = std::min(block, blocks);
    uint64_t total = blocks * m_header.samples_per_block;
    if (m_header.has_fact)
        total = std::min<uint64_t>(total, m_header.fact_samples);
    uint64_t start = block * m_header.samples_per_block;
    m_frames_left = total > start ? total - start : 0;
    return seek_data(block * m_header.block_align);
}

// GSM 06.10

GsmWavReader::GsmWavReader(const std::u16string& path) : WavReader(path) {
    if (!open_header() || m_header.format_tag != kWaveFormatGsm)
        return;
    const WavHeader& h = m_header;
    if (h.channels != 1 || h.rate != 8000 || h.samples_per_block != kGsmSamplesPerBlock ||
        h.block_align != kGsmBlockAlign)
        return;
    m_gsm = gsm_create();
    if (!m_gsm)
        return;
    int one = 1;
    gsm_option(m_gsm, GSM_OPT_WAV49, &one);
    uint64_t blocks = h.data_size / kGsmBlockAlign;
    m_frames_left = blocks * kGsmSamplesPerBlock;
    if (h.has_fact)
        m_frames_left = std::min<uint64_t>(m_frames_left, h.fact_samples);
    m_bits = 16;
    accept(double(m_frames_left));
}

GsmWavReader::~GsmWavReader() {
    if (m_gsm)
        gsm_destroy(m_gsm);
}

void GsmWavReader::read_block(audio::AudioBlock& out, int) {
    audio::ByteSlice bytes;
    int16_t* samples = nullptr;
    size_t frames = 0;
    uint8_t block[kGsmBlockAlign];
    for (int i = 0; i < kGsmBlocksPerPull && m_frames_left > 0; ++i) {
        if (read_data(block, kGsmBlockAlign) != kGsmBlockAlign)
            break;
        if (!samples) {
            bytes = audio::ByteSlice::allocate(size_t(kGsmBlocksPerPull) * kGsmSamplesPerBlock * 2);
            samples = reinterpret_cast<int16_t*>(bytes.writable_data());
        }
        int16_t decoded[kGsmSamplesPerBlock];
        if (gsm_decode(m_gsm, block, decoded) < 0 ||
            gsm_decode(m_gsm, block + 33, decoded + 160) < 0) {
            m_frames_left = 0;
            break;
        }
        size_t take = size_t(std::min<uint64_t>(kGsmSamplesPerBlock, m_frames_left));
        std::copy(decoded, decoded + take, samples + frames);
        frames += take;
        m_frames_left -= take;
    }
    if (frames == 0)
        return;
    bytes.truncate(frames * 2);
    out.bytes = bytes;
    out.channels = 1;
    out.bits_per_sample = 16;
    out.sample_rate = m_rate;
}

bool GsmWavReader::seek_locked(double position) {
    uint64_t block = uint64_t(position * m_rate) / kGsmSamplesPerBlock;
    uint64_t blocks = m_header.data_size / kGsmBlockAlign;
    block = std::min(block, blocks);
    uint64_t total = blocks * kGsmSamplesPerBlock;
    if (m_header.has_fact)
        total = std::min<uint64_t>(total, m_header.fact_samples);
    uint64_t start = block * kGsmSamplesPerBlock;
    m_frames_left = total > start ? total - start : 0;
    // The decoder's state carries from block to block; start it afresh.
    gsm_destroy(m_gsm);
    m_gsm = gsm_create();
    int one = 1;
    gsm_option(m_gsm, GSM_OPT_WAV49, &one);
    return seek_data(block * kGsmBlockAlign);
}

} // namespace formats
