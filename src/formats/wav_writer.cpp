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

void put32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(value >> (8 * i));
}

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool looks_like_chunk(const uint8_t* p, uint64_t room) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    return get32(p + 4) <= room;
}

// Where the size fields of an existing file's "fact" and "data" chunks are, found by walking
// its chunks; 0 for a chunk not found before "data".
struct ChunkPlaces {
    uint64_t fact_value{0};
    uint64_t data_size{0};
};

ChunkPlaces find_chunk_places(foundation::File& file, uint64_t data_start) {
    ChunkPlaces places;
    const uint64_t size = file.size();
    uint64_t position = 12;
    while (position + 8 <= data_start && position + 8 <= size) {
        uint8_t chunk[8];
        if (!file.seek(position) || file.read(chunk, 8) != 8)
            break;
        const uint32_t length = get32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            places.data_size = position + 4;
            break;
        }
        if (std::memcmp(chunk, "fact", 4) == 0 && length >= 4)
            places.fact_value = position + 8;
        position += 8 + uint64_t(length) + (length & 1);
    }
    return places;
}

int32_t read_sample(const uint8_t* p, int bytes) {
    switch (bytes) {
    case 1:
        return int32_t(uint32_t(p[0] ^ 0x80) << 24);
    case 2:
        return int32_t(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 24);
    case 3:
        return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
    default:
        return int32_t(get32(p));
    }
}

void write_sample(uint8_t* p, int bytes, int32_t value) {
    const uint32_t v = uint32_t(value);
    switch (bytes) {
    case 1:
        p[0] = uint8_t((v >> 24) ^ 0x80);
        break;
    case 2:
        p[0] = uint8_t(v >> 16);
        p[1] = uint8_t(v >> 24);
        break;
    case 3:
        p[0] = uint8_t(v >> 8);
        p[1] = uint8_t(v >> 16);
        p[2] = uint8_t(v >> 24);
        break;
    default:
        put32(p, v);
        break;
    }
}

} // namespace

bool convert_pcm(const audio::AudioBlock& in, const audio::AudioBlock& format,
                 std::vector<uint8_t>& out) {
    const int in_bytes = (in.bits_per_sample + 7) / 8;
    const int out_bytes = (format.bits_per_sample + 7) / 8;
    if (in.sample_rate != format.sample_rate || in_bytes < 1 || in_bytes > 4 || out_bytes < 1 ||
        out_bytes > 4 || in.channels < 1 || format.channels < 1)
        return false;
    const size_t frames = in.frames();
    const int in_channels = in.channels;
    const int out_channels = format.channels;
    out.resize(frames * size_t(out_channels) * size_t(out_bytes));
    const uint8_t* source = in.bytes.data();
    uint8_t* target = out.data();
    for (size_t frame = 0; frame < frames; ++frame) {
        const uint8_t* from = source + frame * size_t(in_channels * in_bytes);
        uint8_t* to = target + frame * size_t(out_channels * out_bytes);
        if (out_channels == 1 && in_channels > 1) {
            int64_t sum = 0;
            for (int c = 0; c < in_channels; ++c)
                sum += read_sample(from + c * in_bytes, in_bytes);
            write_sample(to, out_bytes, int32_t(sum / in_channels));
            continue;
        }
        for (int c = 0; c < out_channels; ++c) {
            const int source_channel = in_channels == 1 ? 0 : c;
            const int32_t value = source_channel < in_channels
                                      ? read_sample(from + source_channel * in_bytes, in_bytes)
                                      : 0;
            write_sample(to + c * out_bytes, out_bytes, value);
        }
    }
    return true;
}

// --- the common part ----------------------------------------------------------------------------

WavWriter::WavWriter(const std::u16string& path, bool append, const audio::AudioBlock& declared)
    : m_path(path), m_append(append), m_declared(declared) {
    m_declared.bytes = {};
}

WavWriter::~WavWriter() {
    complete();
}

bool WavWriter::is_valid() const {
    std::lock_guard guard(lock());
    return m_ok;
}

bool WavWriter::has_audio() const {
    std::lock_guard guard(lock());
    return m_written > 0;
}

void WavWriter::fail(const char* reason) {
    if (m_ok)
        foundation::log() << "WavWriter: " << reason << " after " << m_header.data_size
                          << " bytes\n";
    m_ok = false;
}

void WavWriter::open_for_append() {
    std::lock_guard guard(lock());
    if (!m_file.open(m_path, foundation::File::ReadWrite)) {
        fail("cannot open the file");
        return;
    }
    const uint64_t file_size = m_file.size();
    if (file_size == 0)
        return; // nothing there yet: the first block writes a new header
    WavHeader existing;
    audio::AudioBlock accepted;
    if (!existing.parse(m_file) || !resume(existing, accepted)) {
        fail("not a file of this coding and format to continue");
        m_file.close();
        return;
    }
    const ChunkPlaces places = find_chunk_places(m_file, existing.header_size);
    if (places.data_size == 0 || places.data_size + 4 != existing.header_size) {
        fail("data chunk not found");
        m_file.close();
        return;
    }
    uint8_t size_field[4];
    if (!m_file.seek(places.data_size) || m_file.read(size_field, 4) != 4) {
        fail("data chunk not readable");
        m_file.close();
        return;
    }
    const uint64_t declared = get32(size_field);
    const uint64_t available = file_size - existing.header_size;
    const uint64_t declared_end = declared + (declared & 1);
    // The data as counted (a pad byte after it is not data), all the file holds when the
    // count runs past it, or everything after the header when the count fell behind.
    uint64_t data = declared_end == available ? declared : available;
    if (declared_end < available) {
        // More bytes than the header counts: other chunks after the data (not continued), or
        // data the header never caught up with.
        uint8_t next[8];
        const uint64_t next_at = existing.header_size + declared_end;
        if (next_at + 8 <= file_size && m_file.seek(next_at) && m_file.read(next, 8) == 8 &&
            looks_like_chunk(next, file_size - next_at - 8)) {
            fail("chunks follow the data");
            m_file.close();
            return;
        }
    }
    const uint64_t block = existing.block_align > 0 ? existing.block_align : 1;
    data -= data % block;
    if (existing.header_size + data > kMaxFileSize) {
        fail("the file is full");
        m_file.close();
        return;
    }
    m_header = existing;
    m_header.data_size = uint32_t(data);
    if (existing.format_tag != kWaveFormatPcm && existing.samples_per_block > 0)
        m_header.fact_samples = uint32_t(
            std::min<uint64_t>(data / block * existing.samples_per_block, uint64_t(UINT32_MAX)));
    m_data_size_offset = places.data_size;
    m_fact_offset = places.fact_value;
    m_sizes_changed = data != declared || file_size != existing.header_size + data ||
                      (m_fact_offset && m_header.fact_samples != existing.fact_samples);
    if (!m_file.seek(existing.header_size + data) || !m_file.truncate()) {
        fail("cannot cut the file after its data");
        m_file.close();
        return;
    }
    m_format = accepted;
    m_format.bytes = {};
    m_due_bytes = write_out_bytes(std::max<uint32_t>(m_header.average_bytes_per_second, 1));
    m_started = true;
    foundation::log() << "WavWriter: continuing " << m_header.data_size << " bytes of data\n";
}

bool WavWriter::create_file(const audio::AudioBlock& format) {
    if (format.channels < 1 || format.channels > 16 || format.bits_per_sample < 1 ||
        format.bits_per_sample > 32 || format.sample_rate < 1) {
        fail("no format to write");
        return false;
    }
    WavHeader header;
    header.channels = uint16_t(format.channels);
    header.rate = uint32_t(format.sample_rate);
    header.bits = uint16_t(format.bits_per_sample);
    audio::AudioBlock accepted;
    if (!start(format, accepted, header)) {
        fail("a format this coding cannot take");
        return false;
    }
    if (!m_file.is_open() && !m_file.open(m_path, foundation::File::WriteNew)) {
        fail("cannot create the file");
        return false;
    }
    m_header = header;
    std::vector<uint8_t> bytes = m_header.serialize();
    // The sizes of an empty file until the first data is counted.
    m_header.riff_size = m_header.header_size - 8;
    put32(bytes.data() + 4, m_header.riff_size);
    if (!m_file.seek(0) || !m_file.write(bytes.data(), uint32_t(bytes.size()))) {
        fail("header write failed");
        if (!m_file.seek(0) || !m_file.truncate())
            foundation::log() << "WavWriter: the partial header stays\n";
        return false;
    }
    m_data_size_offset = m_header.header_size - 4;
    m_fact_offset = m_header.format_tag != kWaveFormatPcm ? m_header.header_size - 12 : 0;
    m_format = accepted;
    m_format.bytes = {};
    m_due_bytes = write_out_bytes(std::max<uint32_t>(m_header.average_bytes_per_second, 1));
    m_clock.restart();
    m_started = true;
    return true;
}

void WavWriter::on_data(const audio::AudioBlock& block) {
    std::lock_guard guard(lock());
    if (!m_ok || m_completed)
        return;
    if (!block.empty()) {
        if (!m_started && !create_file(block))
            return;
        if (block.same_format(m_format)) {
            code(block);
        } else if (convert_pcm(block, m_format, m_converted)) {
            audio::AudioBlock converted = m_format;
            converted.bytes = audio::ByteSlice::copy_of(m_converted.size(), m_converted.data());
            code(converted);
        } else {
            fail("a block at another rate or of an unknown sample size");
            return;
        }
    }
    if (m_started && m_ok && m_unsaved > 0 && (m_unsaved >= m_due_bytes || m_clock.due()))
        write_sizes();
}

bool WavWriter::write_data(const uint8_t* bytes, size_t size) {
    if (!m_ok)
        return false;
    if (size == 0)
        return true;
    const uint64_t end = uint64_t(m_header.header_size) + m_header.data_size;
    if (end + size > kMaxFileSize) {
        fail("the file would pass 4 GiB");
        return false;
    }
    if (!m_file.write(bytes, uint32_t(size))) {
        fail("write failed");
        // Drop whatever part of this write reached the file.
        if (!m_file.seek(end) || !m_file.truncate())
            foundation::log() << "WavWriter: the partial write stays\n";
        return false;
    }
    m_header.data_size += uint32_t(size);
    m_written += size;
    m_unsaved += size;
    m_sizes_changed = true;
    return true;
}

// Brings the RIFF, fact and data sizes in the file up to date and returns to the data's end.
bool WavWriter::write_sizes(bool padded) {
    const uint64_t end = uint64_t(m_header.header_size) + m_header.data_size;
    m_header.riff_size = uint32_t(end + (padded ? 1 : 0) - 8);
    uint8_t value[4];
    bool ok = true;
    put32(value, m_header.riff_size);
    ok = ok && m_file.seek(4) && m_file.write(value, 4);
    if (m_fact_offset) {
        put32(value, m_header.fact_samples);
        ok = ok && m_file.seek(m_fact_offset) && m_file.write(value, 4);
    }
    put32(value, m_header.data_size);
    ok = ok && m_file.seek(m_data_size_offset) && m_file.write(value, 4);
    ok = m_file.seek(end) && ok;
    m_unsaved = 0;
    m_clock.restart();
    if (!ok)
        fail("header write failed");
    return ok;
}

bool WavWriter::complete() {
    if (audio::Outlet* upstream = peer())
        audio::connect(*upstream, nullptr);
    std::lock_guard guard(lock());
    if (m_completed)
        return m_ok;
    m_completed = true;
    if (!m_started && m_ok) {
        // Nothing arrived: an empty file of the declared format, or an appended file unchanged.
        if (!m_file.is_open() || m_file.size() == 0)
            create_file(m_declared);
    }
    if (m_started) {
        if (m_ok)
            finish();
        if (m_sizes_changed) {
            // A chunk of odd size is followed by a pad byte.
            bool padded = false;
            if (m_header.data_size & 1) {
                const uint8_t pad = 0;
                const uint64_t end = uint64_t(m_header.header_size) + m_header.data_size;
                padded = end + 1 <= kMaxFileSize && m_file.seek(end) && m_file.write(&pad, 1);
                if (!padded)
                    fail("pad byte not written");
            }
            write_sizes(padded);
        }
    }
    // The file is on the disk when the writer says it is complete.
    if (m_ok && m_file.is_open() && !m_file.flush())
        fail("sync failed");
    m_file.close();
    return m_ok;
}

// --- PCM ----------------------------------------------------------------------------------------

PcmWavWriter::PcmWavWriter(const std::u16string& path, bool append,
                           const audio::AudioBlock& declared)
    : WavWriter(path, append, declared) {
    if (append)
        open_for_append();
}

PcmWavWriter::~PcmWavWriter() {
    complete();
}

bool PcmWavWriter::start(const audio::AudioBlock& offered, audio::AudioBlock& accepted,
                         WavHeader& header) {
    accepted = offered;
    header.format_tag = kWaveFormatPcm;
    header.block_align = uint16_t(offered.bytes_per_frame());
    header.average_bytes_per_second = header.block_align * header.rate;
    return true;
}

bool PcmWavWriter::resume(const WavHeader& existing, audio::AudioBlock& accepted) {
    if (existing.format_tag != kWaveFormatPcm || existing.channels < 1 || existing.bits < 1 ||
        existing.bits > 32 || existing.rate < 1 ||
        existing.block_align != existing.channels * ((existing.bits + 7) / 8))
        return false;
    accepted.channels = existing.channels;
    accepted.bits_per_sample = existing.bits;
    accepted.sample_rate = int32_t(std::min<uint32_t>(existing.rate, INT32_MAX));
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

// --- Microsoft ADPCM ----------------------------------------------------------------------------

AdpcmWavWriter::AdpcmWavWriter(const std::u16string& path, bool append,
                               const audio::AudioBlock& declared)
    : WavWriter(path, append, declared) {
    if (append)
        open_for_append();
}

AdpcmWavWriter::~AdpcmWavWriter() {
    complete();
}

void AdpcmWavWriter::set_up(int channels, int block_align) {
    m_channels = channels;
    m_block_align = block_align;
    m_frames_per_block = adpcm::samples_per_block(m_block_align, m_channels);
    m_pending.assign(size_t(m_frames_per_block * m_channels), 0);
    m_pending_count = 0;
    m_coded.assign(size_t(m_block_align), 0);
}

bool AdpcmWavWriter::start(const audio::AudioBlock& offered, audio::AudioBlock& accepted,
                           WavHeader& header) {
    // Mono stays mono; anything more is coded as stereo.
    const int channels = offered.channels == 1 ? 1 : 2;
    set_up(channels, adpcm::block_align_for(offered.sample_rate, channels));
    accepted.channels = channels;
    accepted.bits_per_sample = 16;
    accepted.sample_rate = offered.sample_rate;
    header.format_tag = kWaveFormatAdpcm;
    header.channels = uint16_t(channels);
    header.bits = 4;
    header.block_align = uint16_t(m_block_align);
    header.samples_per_block = uint16_t(m_frames_per_block);
    header.average_bytes_per_second =
        uint32_t(uint64_t(header.rate) * uint32_t(m_block_align) / uint32_t(m_frames_per_block));
    header.coefficients.assign(adpcm::kCoefficients.begin(), adpcm::kCoefficients.end());
    return true;
}

bool AdpcmWavWriter::resume(const WavHeader& existing, audio::AudioBlock& accepted) {
    if (existing.format_tag != kWaveFormatAdpcm || existing.channels < 1 || existing.channels > 2 ||
        existing.bits != 4 || existing.rate < 1 ||
        existing.block_align < 7 * existing.channels + 1 ||
        !std::equal(existing.coefficients.begin(), existing.coefficients.end(),
                    adpcm::kCoefficients.begin(), adpcm::kCoefficients.end()))
        return false;
    if (adpcm::samples_per_block(existing.block_align, existing.channels) !=
        existing.samples_per_block)
        return false;
    set_up(existing.channels, existing.block_align);
    accepted.channels = existing.channels;
    accepted.bits_per_sample = 16;
    accepted.sample_rate = int32_t(std::min<uint32_t>(existing.rate, INT32_MAX));
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

// --- GSM 06.10 ----------------------------------------------------------------------------------

GsmWavWriter::GsmWavWriter(const std::u16string& path, bool append,
                           const audio::AudioBlock& declared)
    : WavWriter(path, append, declared) {
    if (append)
        open_for_append();
}

GsmWavWriter::~GsmWavWriter() {
    complete();
    if (m_gsm)
        gsm_destroy(m_gsm);
}

bool GsmWavWriter::set_up() {
    if (!m_gsm)
        m_gsm = gsm_create();
    if (!m_gsm)
        return false;
    int one = 1;
    gsm_option(m_gsm, GSM_OPT_WAV49, &one);
    return true;
}

bool GsmWavWriter::start(const audio::AudioBlock& offered, audio::AudioBlock& accepted,
                         WavHeader& header) {
    // GSM 06.10 is 8000 Hz; other rates are not resampled here.
    if (offered.sample_rate != 8000 || !set_up())
        return false;
    accepted.channels = 1;
    accepted.bits_per_sample = 16;
    accepted.sample_rate = 8000;
    header.format_tag = kWaveFormatGsm;
    header.channels = 1;
    header.bits = 0;
    header.block_align = kGsmBlockAlign;
    header.samples_per_block = kGsmSamplesPerBlock;
    header.average_bytes_per_second = 1625;
    return true;
}

bool GsmWavWriter::resume(const WavHeader& existing, audio::AudioBlock& accepted) {
    if (existing.format_tag != kWaveFormatGsm || existing.channels != 1 || existing.rate != 8000 ||
        existing.block_align != kGsmBlockAlign || existing.samples_per_block != kGsmSamplesPerBlock)
        return false;
    if (!set_up())
        return false;
    accepted.channels = 1;
    accepted.bits_per_sample = 16;
    accepted.sample_rate = 8000;
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
