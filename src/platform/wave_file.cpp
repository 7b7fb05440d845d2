#include "platform/wave_file.h"

#include <cstring>

namespace platform {

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

} // namespace

WaveFileReader::~WaveFileReader() {
    if (m_file)
        std::fclose(m_file);
}

bool WaveFileReader::open(const std::string& path) {
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file)
        return false;
    uint8_t riff[12];
    if (std::fread(riff, 1, 12, m_file) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return false;
    bool have_format = false;
    for (;;) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, m_file) != 8)
            return false;
        uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            if (size < 16 || std::fread(fmt, 1, 16, m_file) != 16)
                return false;
            m_format.format_tag = le16(fmt);
            m_format.channels = le16(fmt + 2);
            m_format.samples_per_sec = le32(fmt + 4);
            m_format.avg_bytes_per_sec = le32(fmt + 8);
            m_format.block_align = le16(fmt + 12);
            m_format.bits_per_sample = le16(fmt + 14);
            if (m_format.format_tag != WAVE_FORMAT_PCM || m_format.channels == 0 ||
                m_format.channels > 8 || m_format.samples_per_sec == 0 ||
                m_format.samples_per_sec > 384000 ||
                (m_format.bits_per_sample != 8 && m_format.bits_per_sample != 16))
                return false;
            m_format.block_align = uint16_t(m_format.channels * m_format.bits_per_sample / 8);
            have_format = true;
            size -= 16;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_format)
                return false;
            m_data_size = m_remaining = size;
            return true;
        }
        if (std::fseek(m_file, long(size + (size & 1)), SEEK_CUR) != 0)
            return false;
    }
}

size_t WaveFileReader::read(uint8_t* bytes, size_t size) {
    if (!m_file)
        return 0;
    size_t wanted = size < m_remaining ? size : m_remaining;
    size_t got = std::fread(bytes, 1, wanted, m_file);
    m_remaining -= uint32_t(got);
    if (got < wanted)
        m_remaining = 0;
    return got;
}

WaveFileWriter::~WaveFileWriter() {
    close();
}

bool WaveFileWriter::create(const std::string& path, const WaveFormat& format) {
    close();
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return false;
    uint8_t header[44];
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, WAVE_FORMAT_PCM);
    put16(header + 22, format.channels);
    put32(header + 24, format.samples_per_sec);
    put32(header + 28, format.avg_bytes_per_sec);
    put16(header + 32, format.block_align);
    put16(header + 34, format.bits_per_sample);
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, 0);
    m_data_size = 0;
    return std::fwrite(header, 1, 44, m_file) == 44;
}

bool WaveFileWriter::write(const uint8_t* bytes, size_t size) {
    if (!m_file)
        return false;
    m_data_size += size;
    return std::fwrite(bytes, 1, size, m_file) == size;
}

void WaveFileWriter::close() {
    if (!m_file)
        return;
    uint32_t data = m_data_size > 0xFFFFFFF0u ? 0xFFFFFFF0u : uint32_t(m_data_size);
    uint8_t size[4];
    put32(size, data + 36);
    std::fseek(m_file, 4, SEEK_SET);
    std::fwrite(size, 1, 4, m_file);
    put32(size, data);
    std::fseek(m_file, 40, SEEK_SET);
    std::fwrite(size, 1, 4, m_file);
    std::fclose(m_file);
    m_file = nullptr;
}

} // namespace platform
