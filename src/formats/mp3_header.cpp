#include "formats/mp3_header.h"

#include <algorithm>
#include <cstring>

namespace formats {

namespace {

// [version is MPEG-1 ? 0 : 1][layer - 1][index]
constexpr int kBitRates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};

constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000},
    {22050, 24000, 16000},
    {11025, 12000, 8000},
};

} // namespace

namespace {

uint32_t get_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

} // namespace

bool parse_mp3_info_frame(const uint8_t* p, size_t size, const Mp3Header& header,
                          Mp3InfoFrame& info) {
    if (header.layer != 3)
        return false;
    size = std::min(size, size_t(header.frame_length));
    // Xing and Info follow the side information, whose length depends on version and channels.
    const bool mono = header.channel_mode == 3;
    const size_t side = header.version == Mp3Header::Mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    size_t at = 4 + side;
    if (at + 8 <= size &&
        (std::memcmp(p + at, "Xing", 4) == 0 || std::memcmp(p + at, "Info", 4) == 0)) {
        const uint32_t flags = get_be32(p + at + 4);
        at += 8;
        Mp3InfoFrame found;
        if (flags & 1) {
            if (at + 4 > size)
                return false;
            found.frames = get_be32(p + at);
            at += 4;
        }
        if (flags & 2) {
            if (at + 4 > size)
                return false;
            found.bytes = get_be32(p + at);
            at += 4;
        }
        if ((flags & 4) && at + 100 <= size) {
            std::memcpy(found.toc, p + at, 100);
            // A table that goes backwards is of no use for seeking.
            found.has_toc = found.bytes > 0 && std::is_sorted(found.toc, found.toc + 100);
        }
        at += ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
        // An encoder's extension: its name, then the encoder delay and padding in 12 bits each.
        if (at + 24 <= size &&
            (std::memcmp(p + at, "LAME", 4) == 0 || std::memcmp(p + at, "Lavf", 4) == 0 ||
             std::memcmp(p + at, "Lavc", 4) == 0)) {
            found.gapless = true;
            found.delay = (uint32_t(p[at + 21]) << 4) | (p[at + 22] >> 4);
            found.padding = (uint32_t(p[at + 22] & 0x0F) << 8) | p[at + 23];
        }
        if (found.frames == 0)
            return false;
        info = found;
        return true;
    }
    // VBRI sits 32 bytes after the header: version, delay, quality, bytes, frames.
    at = 4 + 32;
    if (at + 18 <= size && std::memcmp(p + at, "VBRI", 4) == 0) {
        Mp3InfoFrame found;
        found.bytes = get_be32(p + at + 10);
        found.frames = get_be32(p + at + 14);
        if (found.frames == 0)
            return false;
        info = found;
        return true;
    }
    return false;
}

bool Mp3Header::agrees(const Mp3Header& other) const {
    return version == other.version && layer == other.layer && sample_rate == other.sample_rate &&
           channels() == other.channels();
}

bool parse_mp3_header(const uint8_t* p, Mp3Header& header) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    int version_bits = (p[1] >> 3) & 3;
    int layer_bits = (p[1] >> 1) & 3;
    int bit_rate_index = p[2] >> 4;
    int rate_index = (p[2] >> 2) & 3;
    int emphasis = p[3] & 3;
    if (version_bits == 1 || layer_bits == 0 || bit_rate_index == 0 || bit_rate_index == 15 ||
        rate_index == 3 || emphasis == 2)
        return false;
    Mp3Header h;
    h.version = version_bits == 3   ? Mp3Header::Mpeg1
                : version_bits == 2 ? Mp3Header::Mpeg2
                                    : Mp3Header::Mpeg25;
    h.layer = 4 - layer_bits;
    h.bit_rate = kBitRates[h.version == Mp3Header::Mpeg1 ? 0 : 1][h.layer - 1][bit_rate_index];
    h.sample_rate = kSampleRates[h.version][rate_index];
    h.padding = (p[2] >> 1) & 1;
    h.channel_mode = p[3] >> 6;
    if (h.layer == 1) {
        h.samples = 384;
        h.frame_length = (12 * h.bit_rate * 1000 / h.sample_rate + h.padding) * 4;
    } else if (h.layer == 2) {
        h.samples = 1152;
        h.frame_length = 144 * h.bit_rate * 1000 / h.sample_rate + h.padding;
    } else {
        bool mpeg1 = h.version == Mp3Header::Mpeg1;
        h.samples = mpeg1 ? 1152 : 576;
        h.frame_length = (mpeg1 ? 144 : 72) * h.bit_rate * 1000 / h.sample_rate + h.padding;
    }
    if (h.frame_length < 4)
        return false;
    header = h;
    return true;
}

} // namespace formats
