#include "formats/id3_tag.h"

#include "foundation/file.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>

namespace formats {

namespace {

constexpr size_t kWriteBuffer = 65536;

// Tag header flags.
constexpr uint8_t kTagUnsynchronised = 0x80;
constexpr uint8_t kTagExtendedHeader = 0x40;
constexpr uint8_t kTag22Compressed = 0x40;
constexpr uint8_t kTagFooter = 0x10;

// Frame flags, 2.3 layout.
constexpr uint16_t kFrame23Compressed = 0x0080;
constexpr uint16_t kFrame23Encrypted = 0x0040;
constexpr uint16_t kFrame23Grouped = 0x0020;
// Frame flags, 2.4 layout.
constexpr uint16_t kFrame24Grouped = 0x0040;
constexpr uint16_t kFrame24Compressed = 0x0008;
constexpr uint16_t kFrame24Encrypted = 0x0004;
constexpr uint16_t kFrame24Unsynchronised = 0x0002;
constexpr uint16_t kFrame24DataLength = 0x0001;

uint32_t get_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint32_t get_syncsafe(const uint8_t* p) {
    return (uint32_t(p[0] & 0x7F) << 21) | (uint32_t(p[1] & 0x7F) << 14) |
           (uint32_t(p[2] & 0x7F) << 7) | (p[3] & 0x7F);
}

bool is_syncsafe(const uint8_t* p) {
    return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0;
}

void put_be32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

void put_syncsafe(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(uint8_t((value >> shift) & 0x7F));
}

// Undoes unsynchronisation: every FF 00 becomes FF.
std::vector<uint8_t> unsynchronised(const uint8_t* p, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(p[i]);
        if (p[i] == 0xFF && i + 1 < size && p[i + 1] == 0x00)
            ++i;
    }
    return out;
}

bool is_id_character(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool is_frame_id(const uint8_t* p, size_t length) {
    return std::all_of(p, p + length, is_id_character);
}

// 2.2 frames and their 2.3 names. 2.2 frames not listed have no 2.3 form.
struct IdPair {
    char v22[4];
    char v23[5];
};
constexpr IdPair kIds22[] = {
    {"BUF", "RBUF"},
    {"CNT", "PCNT"},
    {"COM", "COMM"},
    {"CRA", "AENC"},
    {"ETC", "ETCO"},
    {"EQU", "EQUA"},
    {"GEO", "GEOB"},
    {"IPL", "IPLS"},
    {"MCI", "MCDI"},
    {"MLL", "MLLT"},
    {"PIC", "APIC"},
    {"POP", "POPM"},
    {"REV", "RVRB"},
    {"RVA", "RVAD"},
    {"SLT", "SYLT"},
    {"STC", "SYTC"},
    {"TAL", "TALB"},
    {"TBP", "TBPM"},
    {"TCM", "TCOM"},
    {"TCO", "TCON"},
    {"TCR", "TCOP"},
    {"TDA", "TDAT"},
    {"TDY", "TDLY"},
    {"TEN", "TENC"},
    {"TFT", "TFLT"},
    {"TIM", "TIME"},
    {"TKE", "TKEY"},
    {"TLA", "TLAN"},
    {"TLE", "TLEN"},
    {"TMT", "TMED"},
    {"TOA", "TOPE"},
    {"TOF", "TOFN"},
    {"TOL", "TOLY"},
    {"TOR", "TORY"},
    {"TOT", "TOAL"},
    {"TP1", "TPE1"},
    {"TP2", "TPE2"},
    {"TP3", "TPE3"},
    {"TP4", "TPE4"},
    {"TPA", "TPOS"},
    {"TPB", "TPUB"},
    {"TRC", "TSRC"},
    {"TRD", "TRDA"},
    {"TRK", "TRCK"},
    {"TSI", "TSIZ"},
    {"TSS", "TSSE"},
    {"TT1", "TIT1"},
    // iTunes' sort orders and compilation flag, named as 2.3 taggers name them.
    {"TCP", "TCMP"},
    {"TST", "TSOT"},
    {"TSA", "TSOA"},
    {"TSP", "TSOP"},
    {"TS2", "TSO2"},
    {"TSC", "TSOC"},
    {"TT2", "TIT2"},
    {"TT3", "TIT3"},
    {"TXT", "TEXT"},
    {"TXX", "TXXX"},
    {"TYE", "TYER"},
    {"UFI", "UFID"},
    {"ULT", "USLT"},
    {"WAF", "WOAF"},
    {"WAR", "WOAR"},
    {"WAS", "WOAS"},
    {"WCM", "WCOM"},
    {"WCP", "WCOP"},
    {"WPB", "WPUB"},
    {"WXX", "WXXX"},
};

const char* id_from_22(const uint8_t* id) {
    for (const IdPair& pair : kIds22)
        if (std::memcmp(pair.v22, id, 3) == 0)
            return pair.v23;
    return nullptr;
}

// The 2.2 name of a 2.3 frame; a frame kept from a 2.2 tag already has it. Null when 2.2 has
// none.
const char* id_to_22(const std::string& id) {
    if (id.size() == 3)
        return id.c_str();
    for (const IdPair& pair : kIds22)
        if (id == pair.v23)
            return pair.v22;
    return nullptr;
}

// A 2.2 picture names its image format in three letters where 2.3 has a MIME type.
audio::ByteSlice picture_from_22(const uint8_t* p, size_t size) {
    if (size < 5)
        return {};
    std::string format(reinterpret_cast<const char*>(p + 1), 3);
    std::string mime;
    if (format == "JPG")
        mime = "image/jpeg";
    else if (format == "PNG")
        mime = "image/png";
    else {
        mime = "image/";
        for (char c : format)
            if (c != 0)
                mime.push_back(char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    std::vector<uint8_t> out;
    out.reserve(size + mime.size());
    out.push_back(p[0]);
    out.insert(out.end(), mime.begin(), mime.end());
    out.push_back(0);
    out.insert(out.end(), p + 4, p + size);
    return audio::ByteSlice::copy_of(out.size(), out.data());
}

// The 2.2 form of a 2.3 picture: the MIME type becomes three letters ("image/jpeg" "JPG").
std::vector<uint8_t> picture_to_22(const uint8_t* p, size_t size) {
    const uint8_t* end = p + size;
    const uint8_t* mime_end = size > 1 ? std::find(p + 1, end, 0) : end;
    if (mime_end == end)
        return {};
    std::string mime(reinterpret_cast<const char*>(p + 1), size_t(mime_end - (p + 1)));
    std::string format;
    if (mime == "image/jpeg" || mime == "image/jpg")
        format = "JPG";
    else {
        size_t slash = mime.find('/');
        for (char c : mime.substr(slash == std::string::npos ? 0 : slash + 1))
            format.push_back(char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
    format.resize(3, ' ');
    std::vector<uint8_t> out;
    out.reserve(size);
    out.push_back(p[0]);
    out.insert(out.end(), format.begin(), format.end());
    out.insert(out.end(), mime_end + 1, end);
    return out;
}

const char* mime_type(const uint8_t* image, size_t size) {
    static const uint8_t png[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 4 && image[0] == 0xFF && image[1] == 0xD8 && image[2] == 0xFF && image[3] == 0xE0)
        return "image/jpeg";
    if (size >= 8 && std::memcmp(image, png, 8) == 0)
        return "image/png";
    if (size >= 6 && (std::memcmp(image, "GIF87a", 6) == 0 || std::memcmp(image, "GIF89a", 6) == 0))
        return "image/gif";
    return "image/xyz";
}

// UTF-16 code units up to a 0 unit; a surrogate without its partner becomes U+FFFD.
std::u16string decode_utf16(const uint8_t* p, size_t size, bool little) {
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t c = little ? char16_t(p[i] | (p[i + 1] << 8)) : char16_t((p[i] << 8) | p[i + 1]);
        if (c == 0)
            break;
        units.push_back(c);
    }
    return foundation::whole_characters(std::move(units));
}

} // namespace

uint32_t Id3Tag::parse(foundation::File& file) {
    m_frames.clear();
    m_version = 3;
    m_keeps_22 = false;
    uint64_t file_size = file.size();
    uint8_t header[10];
    if (!file.seek(0) || file.read(header, 10) != 10)
        return 0;
    const int version = header[3];
    const uint8_t flags = header[5];
    if (std::memcmp(header, "ID3", 3) != 0 || version < 2 || version > 4 || header[4] == 0xFF ||
        !is_syncsafe(header + 6))
        return 0;
    // Flags a version does not define make the tag unreadable, as does 2.2's compression, for
    // which no scheme was ever fixed.
    const uint8_t known = version == 2 ? kTagUnsynchronised : version == 3 ? 0xE0 : 0xF0;
    if ((flags & ~known) != 0 || (version == 2 && (flags & kTag22Compressed)))
        return 0;
    const uint32_t tag_size = get_syncsafe(header + 6);
    const uint32_t footer = version == 4 && (flags & kTagFooter) ? 10 : 0;
    // A tag that claims more than the file holds is damaged; rewriting it in place would
    // grow the file by the claimed size.
    const uint32_t total = tag_size + 10 + footer;
    if (total > file_size)
        return 0;
    m_version = version;

    std::vector<uint8_t> body(tag_size);
    if (tag_size > 0 && file.read(body.data(), tag_size) != tag_size) {
        m_version = 3;
        return 0;
    }
    // Before 2.4 unsynchronisation covers the whole tag; in 2.4 it covers each frame's data.
    if ((flags & kTagUnsynchronised) && version < 4)
        body = unsynchronised(body.data(), body.size());

    size_t position = 0;
    if (version >= 3 && (flags & kTagExtendedHeader)) {
        if (body.size() < 4)
            return total;
        // 2.3 counts the bytes after the size field, 2.4 the whole extended header.
        uint64_t skip = version == 3 ? uint64_t(get_be32(body.data())) + 4
                                     : uint64_t(get_syncsafe(body.data()));
        if (skip < 6 || skip > body.size())
            return total;
        position = size_t(skip);
    }
    parse_frames(body.data() + position, body.size() - position);
    if (version == 4 && (flags & kTagUnsynchronised))
        for (Id3Frame& frame : m_frames)
            frame.flags |= kFrame24Unsynchronised;
    return total;
}

bool Id3Tag::parse_frames(const uint8_t* body, size_t size) {
    const size_t id_length = m_version == 2 ? 3 : 4;
    const size_t header_length = m_version == 2 ? 6 : 10;
    // Where a frame that ends at `next` is followed by another frame, padding or the end.
    auto plausible_end = [&](uint64_t next) {
        if (next == size)
            return true;
        if (next > size)
            return false;
        if (body[next] == 0)
            return true;
        return next + header_length <= size && is_frame_id(body + next, id_length);
    };
    size_t position = 0;
    while (position + header_length <= size) {
        const uint8_t* head = body + position;
        if (head[0] == 0 || !is_frame_id(head, id_length))
            break;
        uint64_t length = 0;
        uint16_t flags = 0;
        if (m_version == 2) {
            length = (uint32_t(head[3]) << 16) | (uint32_t(head[4]) << 8) | head[5];
        } else if (m_version == 3) {
            length = get_be32(head + 4);
            flags = uint16_t((head[8] << 8) | head[9]);
        } else {
            // 2.4 sizes are syncsafe, but some writers put plain integers there: take the
            // reading that lands on the next frame.
            const uint32_t plain = get_be32(head + 4);
            length = plain;
            if (is_syncsafe(head + 4)) {
                length = get_syncsafe(head + 4);
                if (length != plain && !plausible_end(position + header_length + length) &&
                    plausible_end(position + header_length + plain))
                    length = plain;
            }
            flags = uint16_t((head[8] << 8) | head[9]);
        }
        const size_t data_at = position + header_length;
        if (length > kMaxSize || length > size - data_at)
            break;
        // Some taggers leave empty frames between others: nothing to keep, but the frames
        // after them are.
        if (length == 0) {
            position = data_at;
            continue;
        }
        const uint8_t* data = body + data_at;
        position = data_at + size_t(length);

        Id3Frame frame;
        frame.flags = flags;
        if (m_version == 2) {
            const char* id = id_from_22(head);
            if (!id) {
                // No 2.3 form: the frame stays as it is, and so the tag stays 2.2.
                frame.id.assign(reinterpret_cast<const char*>(head), 3);
                frame.data = audio::ByteSlice::copy_of(size_t(length), data);
                m_keeps_22 = true;
                m_frames.push_back(std::move(frame));
                continue;
            }
            frame.id = id;
            frame.data = frame.id == kId3Picture ? picture_from_22(data, size_t(length))
                                                 : audio::ByteSlice::copy_of(size_t(length), data);
            if (frame.data.empty())
                continue;
        } else {
            frame.id.assign(reinterpret_cast<const char*>(head), 4);
            frame.data = audio::ByteSlice::copy_of(size_t(length), data);
        }
        m_frames.push_back(std::move(frame));
    }
    return true;
}

const Id3Frame* Id3Tag::find(std::string_view id) const {
    for (const Id3Frame& frame : m_frames)
        if (frame.id == id)
            return &frame;
    return nullptr;
}

bool id3_frame_content(int version, uint16_t flags, const uint8_t*& p, size_t& size,
                       std::vector<uint8_t>& plain) {
    // The frame's own layers: group byte, data length, unsynchronisation. Compressed or
    // encrypted frames are not read.
    if (version == 4 && flags != 0) {
        if (flags & (kFrame24Compressed | kFrame24Encrypted))
            return false;
        size_t skip = ((flags & kFrame24Grouped) ? 1 : 0) + ((flags & kFrame24DataLength) ? 4 : 0);
        if (skip > size)
            return false;
        p += skip;
        size -= skip;
        if (flags & kFrame24Unsynchronised) {
            plain = unsynchronised(p, size);
            p = plain.data();
            size = plain.size();
        }
    } else if (version == 3 && flags != 0) {
        if (flags & (kFrame23Compressed | kFrame23Encrypted))
            return false;
        if (flags & kFrame23Grouped) {
            if (size < 1)
                return false;
            ++p;
            --size;
        }
    }
    return true;
}

std::u16string id3_decode_text(const uint8_t* p, size_t size) {
    if (size < 1)
        return {};
    const uint8_t encoding = p[0];
    ++p;
    --size;
    if (size > 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF)))
        return decode_utf16(p + 2, size - 2, p[0] == 0xFF);
    if (encoding == 1)
        return decode_utf16(p, size, true);
    if (encoding == 2)
        return decode_utf16(p, size, false);
    size_t length = size_t(std::find(p, p + size, 0) - p);
    if (encoding == 3)
        return foundation::from_utf8(std::string_view(reinterpret_cast<const char*>(p), length));
    std::u16string result;
    for (size_t i = 0; i < length; ++i)
        result.push_back(char16_t(p[i]));
    return result;
}

std::vector<uint8_t> id3_encode_text(std::u16string_view text) {
    text = text.substr(0, std::min(text.size(), text.find(u'\0')));
    bool plain =
        std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 32 && c <= 127; });
    std::vector<uint8_t> bytes;
    if (plain) {
        bytes.push_back(0);
        for (char16_t c : text)
            bytes.push_back(uint8_t(c));
    } else {
        bytes = {1, 0xFF, 0xFE};
        for (char16_t c : text) {
            bytes.push_back(uint8_t(c));
            bytes.push_back(uint8_t(c >> 8));
        }
    }
    return bytes;
}

std::u16string Id3Tag::text(std::string_view id) const {
    const Id3Frame* frame = find(id);
    if (!frame)
        return {};
    const uint8_t* p = frame->data.data();
    size_t size = frame->data.size();
    std::vector<uint8_t> plain;
    if (!id3_frame_content(m_version, frame->flags, p, size, plain))
        return {};
    return id3_decode_text(p, size);
}

void Id3Tag::set_frame(std::string_view id, audio::ByteSlice data) {
    for (Id3Frame& frame : m_frames) {
        if (frame.id == id) {
            frame.data = std::move(data);
            frame.flags = 0;
            return;
        }
    }
    Id3Frame frame;
    frame.id = std::string(id.substr(0, 4));
    frame.data = std::move(data);
    m_frames.push_back(std::move(frame));
}

void Id3Tag::set_text(std::string_view id, std::u16string_view text) {
    text = text.substr(0, std::min(text.size(), text.find(u'\0')));
    if (text.empty())
        return;
    std::vector<uint8_t> bytes = id3_encode_text(text);
    set_frame(id, audio::ByteSlice::copy_of(bytes.size(), bytes.data()));
}

void Id3Tag::set_picture(const uint8_t* bytes, size_t size) {
    if (!bytes || size < 8) {
        m_frames.erase(std::remove_if(m_frames.begin(), m_frames.end(),
                                      [](const Id3Frame& f) { return f.id == kId3Picture; }),
                       m_frames.end());
        return;
    }
    const char* mime = mime_type(bytes, size);
    size_t mime_length = std::strlen(mime);
    size_t total = 1 + mime_length + 1 + 1 + 1 + size;
    audio::ByteSlice data = audio::ByteSlice::allocate(total);
    uint8_t* p = data.writable_data();
    *p++ = 0;
    std::memcpy(p, mime, mime_length);
    p += mime_length;
    *p++ = 0;
    *p++ = 0; // picture type: other
    *p++ = 0; // empty description
    std::memcpy(p, bytes, size);
    set_frame(kId3Picture, std::move(data));
}

std::vector<Id3Frame> Id3Tag::frames_as_22() const {
    std::vector<Id3Frame> out;
    out.reserve(m_frames.size());
    for (const Id3Frame& frame : m_frames) {
        const char* id = id_to_22(frame.id);
        if (!id || frame.data.size() > 0xFFFFFF)
            return {};
        Id3Frame converted;
        converted.id = id;
        converted.data = frame.data;
        if (frame.id == kId3Picture) {
            std::vector<uint8_t> data = picture_to_22(frame.data.data(), frame.data.size());
            if (data.empty() || data.size() > 0xFFFFFF)
                return {};
            converted.data = audio::ByteSlice::copy_of(data.size(), data.data());
        }
        out.push_back(std::move(converted));
    }
    return out;
}

uint64_t Id3Tag::frames_size() const {
    uint64_t total = 0;
    if (written_version() == 2) {
        std::vector<Id3Frame> frames = frames_as_22();
        if (frames.size() != m_frames.size())
            return kMaxSize + uint64_t(1);
        for (const Id3Frame& frame : frames)
            total += frame.data.size() + 6;
        return total;
    }
    for (const Id3Frame& frame : m_frames)
        total += frame.data.size() + 10;
    return total;
}

bool Id3Tag::write(foundation::File& file, uint32_t size_limit, uint32_t padding) const {
    const uint64_t total = frames_size();
    if (total == 0 || total > kMaxSize)
        return false;
    if (size_limit != 0 && (size_limit < 10 || total > size_limit - 10))
        return false;
    uint32_t tag_size =
        size_limit != 0 ? size_limit - 10 : uint32_t(std::min<uint64_t>(total + padding, kMaxSize));
    const int version = written_version();
    // A 2.2 tag is written with 2.2's names, picture form and 6-byte frame headers.
    const std::vector<Id3Frame> frames_22 = version == 2 ? frames_as_22() : std::vector<Id3Frame>{};
    const std::vector<Id3Frame>& frames = version == 2 ? frames_22 : m_frames;

    // Everything goes out in writes of up to 64 KB.
    std::vector<uint8_t> buffer;
    buffer.reserve(kWriteBuffer);
    bool ok = true;
    auto put = [&](const uint8_t* bytes, size_t size) {
        while (ok && size > 0) {
            size_t take = std::min(size, kWriteBuffer - buffer.size());
            buffer.insert(buffer.end(), bytes, bytes + take);
            bytes += take;
            size -= take;
            if (buffer.size() == kWriteBuffer) {
                ok = file.write(buffer.data(), uint32_t(buffer.size()));
                buffer.clear();
            }
        }
    };

    std::vector<uint8_t> head = {'I', 'D', '3', uint8_t(version), 0, 0};
    put_syncsafe(head, tag_size);
    put(head.data(), head.size());
    for (const Id3Frame& frame : frames) {
        std::vector<uint8_t> frame_header(frame.id.begin(), frame.id.end());
        if (version == 2) {
            for (int shift = 16; shift >= 0; shift -= 8)
                frame_header.push_back(uint8_t(frame.data.size() >> shift));
            put(frame_header.data(), frame_header.size());
            put(frame.data.data(), frame.data.size());
            continue;
        }
        frame_header.resize(4, 0);
        if (version == 4)
            put_syncsafe(frame_header, uint32_t(frame.data.size()));
        else
            put_be32(frame_header, uint32_t(frame.data.size()));
        frame_header.push_back(uint8_t(frame.flags >> 8));
        frame_header.push_back(uint8_t(frame.flags));
        put(frame_header.data(), frame_header.size());
        put(frame.data.data(), frame.data.size());
    }
    uint64_t zero_bytes = tag_size - total;
    const std::vector<uint8_t> zeros(kWriteBuffer, 0);
    while (ok && zero_bytes > 0) {
        size_t chunk = size_t(std::min<uint64_t>(zero_bytes, zeros.size()));
        put(zeros.data(), chunk);
        zero_bytes -= chunk;
    }
    if (ok && !buffer.empty())
        ok = file.write(buffer.data(), uint32_t(buffer.size()));
    return ok;
}

namespace {

// Writes the tag and then the file's bytes from `audio_start` on into a new file beside it,
// syncs it and puts it in the file's place. The file is untouched when anything fails.
bool rewrite_whole_file(const std::u16string& path, const Id3Tag& tag, uint64_t audio_start) {
    static std::atomic<uint32_t> counter{0};
    const std::u16string folder = foundation::directory_of(path);
    // A hidden name without a record extension: no scan lists it while it is being written.
    const std::u16string temporary =
        folder + u".retag-" + foundation::to_text(int32_t(platform::tick_count() & 0x7FFFFFFF)) +
        u"-" + foundation::to_text(int32_t(counter++ & 0x7FFFFFFF)) + u".tmp";
    auto copy = [&] {
        foundation::File source(path, foundation::File::Read);
        foundation::File target(temporary, foundation::File::WriteNew);
        if (!source.is_open() || !target.is_open())
            return false;
        const uint64_t size = source.size();
        if (size < audio_start || !source.seek(audio_start) || !tag.write(target, 0))
            return false;
        std::vector<uint8_t> buffer(kWriteBuffer);
        for (uint64_t left = size - audio_start; left > 0;) {
            const uint32_t want = uint32_t(std::min<uint64_t>(left, buffer.size()));
            const uint32_t got = source.read(buffer.data(), want);
            if (got != want || !target.write(buffer.data(), got))
                return false;
            left -= got;
        }
        return target.flush();
    };
    bool ok = copy();
    if (ok)
        ok = foundation::replace_file(temporary, path);
    if (!ok)
        foundation::delete_file(temporary);
    return ok;
}

} // namespace

Id3Update update_file_tag(const std::u16string& path, const std::function<bool(Id3Tag&)>& change,
                          Id3Growth growth) {
    const foundation::FileInfo info(path);
    if (info.is_directory())
        return Id3Update::Failed;
    Id3Tag tag;
    uint32_t old_size = 0;
    {
        foundation::File file(path, foundation::File::Read);
        if (!file.is_open())
            return Id3Update::Failed;
        old_size = tag.parse(file);
    }
    if (old_size == 0)
        return Id3Update::NoTag;
    // A file we may not write keeps its tag, also when it could be replaced by a new one.
    if (info.attributes() & foundation::FileInfo::attribute_read_only)
        return Id3Update::Failed;
    if (!change(tag))
        return Id3Update::Failed;
    if (tag.frames_size() <= old_size - 10) {
        // The file must still be there: opening for writing would otherwise make a new one.
        if (!foundation::FileInfo(path).exists())
            return Id3Update::Failed;
        foundation::File file(path, foundation::File::ReadWrite);
        if (!file.is_open() || !file.seek(0) || !tag.write(file, old_size))
            return Id3Update::Failed;
        if (growth == Id3Growth::InPlaceOnly)
            return Id3Update::Written;
        return file.flush() ? Id3Update::Written : Id3Update::Failed;
    }
    if (growth == Id3Growth::InPlaceOnly)
        return Id3Update::NoRoom;
    if (tag.frames_size() + Id3Tag::kNewTagPadding > Id3Tag::kMaxSize)
        return Id3Update::Failed;
    return rewrite_whole_file(path, tag, old_size) ? Id3Update::Written : Id3Update::Failed;
}

Id3Update set_file_text(const std::u16string& path, std::string_view id, std::u16string_view text) {
    return update_file_tag(path, [&](Id3Tag& tag) {
        tag.set_text(id, text);
        return true;
    });
}

} // namespace formats
