#include "formats/trim.h"

#include "formats/id3_tag.h"
#include "formats/mp3_header.h"
#include "formats/wav_header.h"
#include "foundation/file.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace formats {

namespace {

// A file a failed trim leaves behind; one that cannot go is said in the log.
void delete_leftover(const std::u16string& path) {
    if (!foundation::delete_file(path))
        foundation::log() << "trim: cannot delete " << path << "\n";
}

// Samples a layer III decoder holds back: gapless decoders leave out the encoder delay plus
// these.
constexpr uint64_t kDecoderDelay = 529;
// The encoder delay and padding fields of the information frame hold 12 bits each.
constexpr uint64_t kMaxDelay = 4095;
constexpr size_t kCopyChunk = 1 << 20;
// An information frame: "Info", flags, frames, bytes, table of contents, quality (120 bytes),
// then LAME's extension (36 bytes).
constexpr size_t kInfoFields = 120;
constexpr size_t kLameFields = 36;

void put_be32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint32_t get_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// CRC-16 with the polynomial 0x8005, bits reflected, starting at 0: the information frame's
// own check sum.
uint16_t crc16(const uint8_t* p, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

size_t side_info_size(const Mp3Header& h) {
    const bool mono = h.channel_mode == 3;
    return h.version == Mp3Header::Mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
}

// Reads the file through a window of 256 KB.
class Window {
public:
    explicit Window(foundation::File& file) : m_file(file), m_size(file.size()), m_bytes(1 << 18) {}
    uint64_t size() const { return m_size; }
    // The `count` bytes at `offset`, or null when the file does not hold them.
    const uint8_t* at(uint64_t offset, size_t count) {
        if (count > m_bytes.size() || offset + count > m_size)
            return nullptr;
        if (offset < m_base || offset + count > m_base + m_fill) {
            const uint64_t want = std::min<uint64_t>(m_bytes.size(), m_size - offset);
            if (!m_file.seek(offset) || m_file.read(m_bytes.data(), uint32_t(want)) != want)
                return nullptr;
            m_base = offset;
            m_fill = size_t(want);
        }
        return m_bytes.data() + (offset - m_base);
    }

private:
    foundation::File& m_file;
    uint64_t m_size;
    std::vector<uint8_t> m_bytes;
    uint64_t m_base{0};
    size_t m_fill{0};
};

struct Frame {
    uint64_t offset{0};
    uint32_t length{0};
    uint32_t data_at{0}; // where the main-data area starts in the frame
    uint32_t main_data_begin{0};
    uint64_t stream_at{0}; // where the frame's main-data area starts in the main-data stream
};

struct Mp3Stream {
    Mp3Header first;
    uint8_t header_bytes[4]{};
    std::vector<Frame> frames;
    bool gapless{false}; // an information frame gave the encoder delay and padding
    uint64_t delay{0};
    uint64_t padding{0};
};

// The LAME extension of an information frame at `frame`: its encoder delay and padding.
bool lame_delays(const uint8_t* frame, size_t length, const Mp3Header& h, uint64_t& delay,
                 uint64_t& padding) {
    const size_t xing = 4 + side_info_size(h);
    if (xing + 8 > length)
        return false;
    const uint32_t flags = get_be32(frame + xing + 4);
    size_t lame = xing + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) +
                  ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
    if (lame + 24 > length)
        return false;
    const uint8_t* p = frame + lame;
    if (std::memcmp(p, "LAME", 4) != 0 && std::memcmp(p, "Lavf", 4) != 0 &&
        std::memcmp(p, "Lavc", 4) != 0)
        return false;
    delay = (uint64_t(p[21]) << 4) | (p[22] >> 4);
    padding = (uint64_t(p[22] & 0x0F) << 8) | p[23];
    return true;
}

// Walks the layer III frames after the tag. Bytes that are no frame of the stream (an ID3v1
// tag at the end, damage) are passed over to the next frame that agrees with the first.
bool scan_mp3(foundation::File& file, uint64_t audio_start, Mp3Stream& stream,
              std::string& reason) {
    Window window(file);
    uint64_t position = audio_start;
    bool have_first = false;
    uint64_t stream_at = 0;
    while (const uint8_t* p = window.at(position, 4)) {
        Mp3Header header;
        bool found = parse_mp3_header(p, header) && header.layer == 3 &&
                     (!have_first || header.agrees(stream.first)) &&
                     position + uint64_t(header.frame_length) <= window.size();
        if (found && !have_first) {
            // The first frame is confirmed by the next one (or by the file's end).
            const uint64_t next = position + uint64_t(header.frame_length);
            Mp3Header following;
            const uint8_t* q = window.at(next, 4);
            found = next == window.size() ||
                    (q && parse_mp3_header(q, following) && following.agrees(header));
        }
        if (!found) {
            ++position;
            continue;
        }
        const uint32_t length = uint32_t(header.frame_length);
        const uint8_t* bytes = window.at(position, length);
        if (!bytes)
            break;
        const bool crc = (bytes[1] & 1) == 0;
        const uint32_t side_at = 4 + (crc ? 2 : 0);
        const uint32_t data_at = side_at + uint32_t(side_info_size(header));
        if (data_at > length) {
            ++position;
            continue;
        }
        if (!have_first) {
            have_first = true;
            stream.first = header;
            std::memcpy(stream.header_bytes, bytes, 4);
            Mp3InfoFrame info;
            if (parse_mp3_info_frame(bytes, length, header, info)) {
                // An information frame holds no audio.
                stream.gapless = lame_delays(bytes, length, header, stream.delay, stream.padding);
                position += length;
                continue;
            }
        }
        Frame frame;
        frame.offset = position;
        frame.length = length;
        frame.data_at = data_at;
        frame.main_data_begin = header.version == Mp3Header::Mpeg1
                                    ? (uint32_t(bytes[side_at]) << 1) | (bytes[side_at + 1] >> 7)
                                    : bytes[side_at];
        frame.stream_at = stream_at;
        stream_at += length - data_at;
        stream.frames.push_back(frame);
        position += length;
    }
    if (stream.frames.empty()) {
        reason = "no MP3 layer III audio found";
        return false;
    }
    return true;
}

// A frame header like `like` (no CRC, no padding) with the smallest bit rate whose frame
// holds at least `need` bytes after its side information; false when none does.
bool roomy_header(const uint8_t like[4], size_t need, uint8_t out[4], Mp3Header& header) {
    for (int index = 1; index <= 14; ++index) {
        out[0] = 0xFF;
        out[1] = uint8_t(like[1] | 0x01);
        out[2] = uint8_t((index << 4) | (like[2] & 0x0D));
        out[3] = like[3];
        if (parse_mp3_header(out, header) &&
            size_t(header.frame_length) >= 4 + side_info_size(header) + need)
            return true;
    }
    return false;
}

bool copy_range(foundation::File& from, uint64_t offset, uint64_t count, foundation::File& to) {
    std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(count, kCopyChunk)));
    if (!from.seek(offset))
        return false;
    while (count > 0) {
        const uint32_t want = uint32_t(std::min<uint64_t>(count, buffer.size()));
        if (from.read(buffer.data(), want) != want || !to.write(buffer.data(), want))
            return false;
        count -= want;
    }
    return true;
}

// The tag of the trimmed record: the original's, with the markers inside the stretch moved
// to the new start and the others dropped; written in the room the original had when it fits.
bool write_tag(foundation::File& source, foundation::File& target, uint32_t start_ms,
               uint32_t end_ms, uint32_t kept_ms, uint32_t& kept_markers, uint64_t& audio_start) {
    Id3Tag tag;
    const uint32_t size = tag.parse(source);
    audio_start = size;
    if (size == 0)
        return true;
    std::vector<Marker> markers;
    for (const Marker& marker : tag.markers())
        if (marker.time_ms >= start_ms && marker.time_ms < end_ms)
            markers.push_back({marker.time_ms - start_ms, marker.label});
    kept_markers = uint32_t(markers.size());
    if ((tag.find(kId3Chapter) || tag.find(kId3Contents)) && !tag.set_markers(markers, kept_ms)) {
        // More than a tag lists: none, rather than chapters at their untrimmed times.
        foundation::log() << "trim: the markers do not fit, none kept\n";
        kept_markers = 0;
        if (!tag.set_markers({}, kept_ms))
            return false;
    }
    if (tag.frames().empty())
        return true;
    return tag.write(target, tag.frames_size() <= size - 10 ? size : 0);
}

TrimResult trim_mp3(foundation::File& source, foundation::File& target, uint32_t start_ms,
                    uint32_t end_ms) {
    TrimResult result;
    Id3Tag probe;
    const uint64_t audio_start = probe.parse(source);
    Mp3Stream stream;
    if (!scan_mp3(source, audio_start, stream, result.reason))
        return result;
    const Mp3Header& h = stream.first;
    const uint64_t spf = uint64_t(h.samples);
    const uint64_t rate = uint64_t(h.sample_rate);
    const uint64_t raw_total = stream.frames.size() * spf;
    // The record's time line: gapless decoders leave out the encoder delay and padding.
    const uint64_t skip = stream.gapless ? stream.delay + kDecoderDelay : 0;
    const uint64_t tail = stream.gapless ? stream.padding : 0;
    const uint64_t length = raw_total > skip + tail ? raw_total - skip - tail : 0;
    const uint64_t s_time = uint64_t(start_ms) * rate / 1000;
    const uint64_t e_time = std::min<uint64_t>(uint64_t(end_ms) * rate / 1000, length);
    if (e_time <= s_time || e_time - s_time < spf) {
        result.reason = "the stretch is shorter than one MP3 frame";
        return result;
    }
    const uint64_t s = s_time + skip;
    const uint64_t e = std::min(e_time + skip, raw_total);
    const uint64_t i_start = s / spf;
    const uint64_t i_end = (e - 1) / spf;
    // Frames decoded before the start so that the first kept sample comes out whole: the
    // overlap of the previous granule (MPEG-1 frames hold two granules, MPEG-2 frames one).
    const uint64_t preroll = h.version == Mp3Header::Mpeg1 ? 1 : 2;
    const uint64_t first = i_start >= preroll ? i_start - preroll : 0;

    // What the kept frames take from the bit reservoir before the first of them.
    uint64_t reach = stream.frames[first].stream_at;
    for (uint64_t k = first; k <= i_end && k < first + 16; ++k) {
        const Frame& f = stream.frames[k];
        const uint64_t begin =
            f.stream_at >= f.main_data_begin ? f.stream_at - f.main_data_begin : 0;
        reach = std::min(reach, begin);
    }
    const size_t reservoir = size_t(stream.frames[first].stream_at - reach);
    std::vector<uint8_t> carried(reservoir);
    {
        // Gather those bytes from the main-data areas of the frames before the first kept one.
        size_t filled = reservoir;
        for (uint64_t k = first; k > 0 && filled > 0; --k) {
            const Frame& f = stream.frames[k - 1];
            const size_t area = f.length - f.data_at;
            const size_t take = std::min(area, filled);
            if (!source.seek(f.offset + f.length - take) ||
                source.read(carried.data() + filled - take, uint32_t(take)) != take) {
                result.reason = "reading the record failed";
                return result;
            }
            filled -= take;
        }
    }

    // The silent frame that carries the reservoir: zero side information, so it decodes to
    // silence, and the carried bytes at the end of its main-data area.
    uint8_t filler_head[4];
    Mp3Header filler_header;
    if (!roomy_header(stream.header_bytes, reservoir, filler_head, filler_header)) {
        result.reason = "the bit reservoir does not fit one frame";
        return result;
    }
    std::vector<uint8_t> filler(size_t(filler_header.frame_length), 0);
    std::memcpy(filler.data(), filler_head, 4);
    std::copy(carried.begin(), carried.end(), filler.end() - long(reservoir));

    const uint64_t frames_out = 1 + (i_end - first + 1);
    const uint64_t delay = (1 + (i_start - first)) * spf + (s - i_start * spf) - kDecoderDelay;
    const uint64_t padding = (i_end + 1) * spf - e + kDecoderDelay;
    if (delay > kMaxDelay || padding > kMaxDelay) {
        result.reason = "the encoder delay does not fit the information frame";
        return result;
    }
    const uint64_t kept_bytes =
        stream.frames[i_end].offset + stream.frames[i_end].length - stream.frames[first].offset;

    // The information frame (holds no audio itself).
    uint8_t info_head[4];
    Mp3Header info_header;
    if (!roomy_header(stream.header_bytes, kInfoFields + kLameFields, info_head, info_header)) {
        result.reason = "no room for the information frame";
        return result;
    }
    std::vector<uint8_t> info(size_t(info_header.frame_length), 0);
    std::memcpy(info.data(), info_head, 4);
    const uint64_t stream_bytes = info.size() + filler.size() + kept_bytes;
    if (stream_bytes > 0xFFFFFFFFull) {
        result.reason = "the record is too large";
        return result;
    }
    uint8_t* x = info.data() + 4 + side_info_size(info_header);
    std::memcpy(x, "Info", 4);
    put_be32(x + 4, 0x0F);
    put_be32(x + 8, uint32_t(frames_out));
    put_be32(x + 12, uint32_t(stream_bytes));
    for (int i = 0; i < 100; ++i)
        x[16 + i] = uint8_t(i * 256 / 100);
    put_be32(x + 116, 0);
    uint8_t* lame = x + kInfoFields;
    std::memcpy(lame, "LAME3.100", 9);
    lame[9] = 0x01; // constant bit rate
    lame[20] = uint8_t(std::min(h.bit_rate, 255));
    lame[21] = uint8_t(delay >> 4);
    lame[22] = uint8_t(((delay & 0x0F) << 4) | (padding >> 8));
    lame[23] = uint8_t(padding);
    put_be32(lame + 28, uint32_t(stream_bytes));
    const size_t crc_at = size_t(lame + 34 - info.data());
    const uint16_t crc = crc16(info.data(), crc_at);
    info[crc_at] = uint8_t(crc >> 8);
    info[crc_at + 1] = uint8_t(crc);

    const uint32_t kept_ms = uint32_t((e_time - s_time) * 1000 / rate);
    const uint32_t clamped_end = uint32_t(std::min<uint64_t>(end_ms, e_time * 1000 / rate + 1));
    uint64_t tag_size = 0;
    if (!write_tag(source, target, start_ms, clamped_end, kept_ms, result.markers, tag_size) ||
        !target.write(info.data(), uint32_t(info.size())) ||
        !target.write(filler.data(), uint32_t(filler.size())) ||
        !copy_range(source, stream.frames[first].offset, kept_bytes, target) || !target.flush()) {
        result.reason = "writing the trimmed record failed";
        return result;
    }
    result.ok = true;
    result.kept_ms = kept_ms;
    return result;
}

TrimResult trim_wav(foundation::File& source, foundation::File& target, uint32_t start_ms,
                    uint32_t end_ms) {
    TrimResult result;
    WavHeader header;
    if (!source.seek(0) || !header.parse(source) || header.block_align == 0 || header.rate == 0) {
        result.reason = "not a WAV file this program reads";
        return result;
    }
    const bool plain = header.format_tag == kWaveFormatPcm || header.format_tag == kWaveFormatFloat;
    const uint64_t per_block = plain ? 1 : header.samples_per_block;
    if (per_block == 0 || header.header_size < 12) {
        result.reason = "not a WAV file this program reads";
        return result;
    }
    std::vector<uint8_t> head(header.header_size);
    if (!source.seek(0) || source.read(head.data(), uint32_t(head.size())) != head.size() ||
        std::memcmp(head.data() + head.size() - 8, "data", 4) != 0) {
        result.reason = "the WAV file's data does not follow its header";
        return result;
    }
    const uint64_t blocks = header.data_size / header.block_align;
    uint64_t length = blocks * per_block;
    if (header.has_fact && header.fact_samples < length)
        length = header.fact_samples;
    const uint64_t s = uint64_t(start_ms) * header.rate / 1000;
    const uint64_t e = std::min<uint64_t>(uint64_t(end_ms) * header.rate / 1000, length);
    const uint64_t b_start = s / per_block;
    const uint64_t b_end = std::min<uint64_t>((e + per_block - 1) / per_block, blocks);
    if (e <= s || b_end <= b_start) {
        result.reason = "the stretch is shorter than one block";
        return result;
    }
    const uint64_t data = (b_end - b_start) * header.block_align;
    if (data + head.size() > 0xFFFFFFFFull) {
        result.reason = "the record is too large";
        return result;
    }
    put_le32(head.data() + 4, uint32_t(head.size() - 8 + data));
    put_le32(head.data() + head.size() - 4, uint32_t(data));
    // The sample count of a "fact" chunk among the header's chunks.
    for (size_t at = 12; at + 12 <= head.size() - 8;) {
        const uint32_t chunk = uint32_t(head[at + 4]) | (uint32_t(head[at + 5]) << 8) |
                               (uint32_t(head[at + 6]) << 16) | (uint32_t(head[at + 7]) << 24);
        if (std::memcmp(head.data() + at, "fact", 4) == 0 && chunk >= 4)
            put_le32(head.data() + at + 8,
                     uint32_t(std::min(e, b_end * per_block) - b_start * per_block));
        at += 8 + size_t(chunk) + (chunk & 1);
    }
    if (!target.write(head.data(), uint32_t(head.size())) ||
        !copy_range(source, header.header_size + b_start * header.block_align, data, target) ||
        !target.flush()) {
        result.reason = "writing the trimmed record failed";
        return result;
    }
    result.ok = true;
    result.kept_ms = uint32_t((b_end - b_start) * per_block * 1000 / header.rate);
    return result;
}

} // namespace

TrimResult trim_to(const std::u16string& source_path, const std::u16string& target_path,
                   uint32_t start_ms, uint32_t end_ms) {
    TrimResult result;
    if (start_ms >= end_ms) {
        result.reason = "the start is not before the end";
        return result;
    }
    foundation::File source(source_path, foundation::File::Read);
    if (!source.is_open()) {
        std::string why;
        result.reason =
            foundation::is_readable_file(source_path, why) ? "cannot open the record" : why;
        return result;
    }
    uint8_t magic[4] = {};
    const bool wav = source.read(magic, 4) == 4 && std::memcmp(magic, "RIFF", 4) == 0;
    {
        foundation::File target(target_path, foundation::File::WriteNew);
        if (!target.is_open()) {
            result.reason = "cannot create the trimmed file";
            return result;
        }
        result = wav ? trim_wav(source, target, start_ms, end_ms)
                     : trim_mp3(source, target, start_ms, end_ms);
    }
    if (!result.ok)
        delete_leftover(target_path);
    return result;
}

TrimResult trim_record(const std::u16string& path, uint32_t start_ms, uint32_t end_ms) {
    static std::atomic<uint32_t> counter{0};
    TrimResult result;
    const foundation::FileInfo info(path);
    if (!info.exists() || info.is_directory()) {
        result.reason = info.is_directory() ? "is a folder" : "no such file";
        return result;
    }
    if (info.attributes() & foundation::FileInfo::attribute_read_only) {
        result.reason = "the file is read-only";
        return result;
    }
    const std::u16string folder = foundation::directory_of(path);
    if (foundation::free_space(folder.empty() ? u"." : folder) < double(info.size()) + 65536) {
        result.reason = "not enough free space on the disk";
        return result;
    }
    // A hidden name without a record extension: no scan lists it while it is written.
    const std::u16string temporary =
        folder + u".trim-" + foundation::to_text(int32_t(platform::tick_count() & 0x7FFFFFFF)) +
        u"-" + foundation::to_text(int32_t(counter++ & 0x7FFFFFFF)) + u".tmp";
    result = trim_to(path, temporary, start_ms, end_ms);
    if (!result.ok)
        return result;
    // The original keeps a second name, so that it is whole somewhere at every step, and that
    // name goes to the trash once the trimmed file has taken the record's name.
    const std::u16string name = foundation::name_of(path);
    const size_t dot = name.rfind(u'.');
    const std::u16string stem = dot == std::u16string::npos ? name : name.substr(0, dot);
    const std::u16string extension = dot == std::u16string::npos ? u"" : name.substr(dot);
    std::u16string kept = folder + stem + u" (untrimmed)" + extension;
    for (int n = 1; foundation::FileInfo(kept).exists() && n < 1000; ++n)
        kept = folder + stem + u" (untrimmed)~" + foundation::to_text(int32_t(n)) + extension;
    if (!foundation::link_file(path, kept)) {
        delete_leftover(temporary);
        result = {};
        result.reason = "cannot keep the original for the trash";
        return result;
    }
    if (!foundation::replace_file(temporary, path)) {
        delete_leftover(temporary);
        delete_leftover(kept);
        result = {};
        result.reason = "cannot put the trimmed file in the record's place";
        return result;
    }
    if (!foundation::trash_file(kept))
        foundation::log() << "trim_record: the original stays as {" << kept << "}\n";
    return result;
}

} // namespace formats
