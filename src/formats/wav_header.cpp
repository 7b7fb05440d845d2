#include "formats/wav_header.h"

#include "foundation/file.h"

#include <algorithm>
#include <cstring>

namespace formats {

namespace {

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void put_id(std::vector<uint8_t>& out, const char* id) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(id[i]));
}

uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool read_exact(foundation::File& file, void* buffer, uint32_t count) {
    return file.read(buffer, count) == count;
}

// Moves past a chunk's `size` bytes and its pad byte; false beyond the file's end.
bool skip_chunk(foundation::File& file, uint32_t size, uint64_t file_size) {
    uint64_t next = file.tell() + uint64_t(size) + (size & 1);
    return next <= file_size && file.seek(next);
}

} // namespace

std::vector<uint8_t> WavHeader::serialize() {
    std::vector<uint8_t> out;
    out.reserve(96);
    uint32_t extension = 0;
    if (format_tag == kWaveFormatGsm)
        extension = 4;
    else if (format_tag == kWaveFormatAdpcm)
        extension = 4 + 2 + 4 * uint32_t(coefficients.size());
    fmt_size = 16 + extension;
    bool fact = format_tag != kWaveFormatPcm;
    header_size = 12 + 8 + fmt_size + (fact ? 12 : 0) + 8;

    put_id(out, "RIFF");
    put32(out, riff_size);
    put_id(out, "WAVE");
    put_id(out, "fmt ");
    put32(out, fmt_size);
    put16(out, format_tag);
    put16(out, channels);
    put32(out, rate);
    put32(out, average_bytes_per_second);
    put16(out, block_align);
    put16(out, bits);
    if (format_tag == kWaveFormatGsm) {
        put16(out, 2);
        put16(out, samples_per_block);
    } else if (format_tag == kWaveFormatAdpcm) {
        put16(out, extension - 2);
        put16(out, samples_per_block);
        put16(out, uint16_t(coefficients.size()));
        for (const auto& pair : coefficients) {
            put16(out, uint16_t(pair[0]));
            put16(out, uint16_t(pair[1]));
        }
    }
    if (fact) {
        put_id(out, "fact");
        put32(out, 4);
        put32(out, fact_samples);
    }
    put_id(out, "data");
    put32(out, data_size);
    return out;
}

bool WavHeader::parse(foundation::File& file) {
    uint64_t file_size = file.size();
    if (!file.seek(0))
        return false;
    uint8_t riff[12];
    if (!read_exact(file, riff, 12) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return false;
    riff_size = get32(riff + 4);

    // Other chunks (JUNK, bext, LIST...) may come before "fmt ".
    uint8_t chunk[8];
    for (;;) {
        if (!read_exact(file, chunk, 8))
            return false;
        if (std::memcmp(chunk, "fmt ", 4) == 0)
            break;
        if (!skip_chunk(file, get32(chunk + 4), file_size))
            return false;
    }
    fmt_size = get32(chunk + 4);
    if (fmt_size < 16 || fmt_size > file_size)
        return false;
    uint8_t fmt[16];
    if (!read_exact(file, fmt, 16))
        return false;
    format_tag = get16(fmt);
    channels = get16(fmt + 2);
    rate = get32(fmt + 4);
    average_bytes_per_second = get32(fmt + 8);
    block_align = get16(fmt + 12);
    bits = get16(fmt + 14);
    uint32_t consumed = 16;

    extensible = false;
    if (format_tag == kWaveFormatExtensible) {
        // Extra size, valid bits, channel mask, then the sub-format GUID whose first two bytes
        // are the coding's format tag.
        static const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        uint8_t ext[24];
        if (fmt_size < 40 || !read_exact(file, ext, 24) || std::memcmp(ext + 10, kGuidTail, 14))
            return false;
        consumed += 24;
        extensible = true;
        valid_bits = get16(ext + 2);
        channel_mask = get32(ext + 4);
        format_tag = get16(ext + 8);
        if (valid_bits > bits)
            return false;
    }

    if (!extensible && (format_tag == kWaveFormatGsm || format_tag == kWaveFormatAdpcm) &&
        fmt_size >= 20) {
        uint8_t ext[4];
        if (!read_exact(file, ext, 4))
            return false;
        consumed += 4;
        samples_per_block = get16(ext + 2);
        if (format_tag == kWaveFormatAdpcm && fmt_size >= 22) {
            uint8_t count_bytes[2];
            if (!read_exact(file, count_bytes, 2))
                return false;
            consumed += 2;
            uint32_t count = get16(count_bytes);
            if (consumed + 4 * count > fmt_size)
                return false;
            coefficients.clear();
            coefficients.reserve(count);
            for (uint32_t i = 0; i < count; ++i) {
                uint8_t pair[4];
                if (!read_exact(file, pair, 4))
                    return false;
                coefficients.push_back({int16_t(get16(pair)), int16_t(get16(pair + 2))});
            }
            consumed += 4 * count;
        }
    }
    // Chunks are padded to an even size.
    uint32_t rest = fmt_size - consumed + (fmt_size & 1);
    if (file.skip(rest) != rest)
        return false;

    // Walk the chunks up to "data", noting "fact" on the way.
    has_fact = false;
    for (;;) {
        if (!read_exact(file, chunk, 8))
            return false;
        uint32_t size = get32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            uint64_t start = file.tell();
            header_size = uint32_t(start);
            uint64_t available = file_size > start ? file_size - start : 0;
            data_size = uint32_t(std::min<uint64_t>(size, available));
            return true;
        }
        if (std::memcmp(chunk, "fact", 4) == 0 && size >= 4) {
            uint8_t count[4];
            if (!read_exact(file, count, 4))
                return false;
            has_fact = true;
            fact_samples = get32(count);
            size -= 4;
        }
        if (!skip_chunk(file, size, file_size))
            return false;
    }
}

} // namespace formats
