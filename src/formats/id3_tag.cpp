#include "formats/id3_tag.h"

#include "foundation/file.h"
#include "foundation/text.h"

#include <algorithm>
#include <cstring>

namespace formats {

namespace {

constexpr uint32_t kNewTagPadding = 1024;
constexpr size_t kWriteBuffer = 65536;

uint32_t get_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void put_be32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

void put_syncsafe(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(uint8_t((value >> shift) & 0x7F));
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

} // namespace

uint32_t Id3Tag::parse(foundation::File& file) {
    m_frames.clear();
    uint64_t file_size = file.size();
    uint8_t header[10];
    if (!file.seek(0) || file.read(header, 10) != 10)
        return 0;
    if (std::memcmp(header, "ID3", 3) != 0 || header[3] == 0xFF || header[4] == 0xFF ||
        (header[5] & 0x1F) != 0)
        return 0;
    for (int i = 6; i < 10; ++i)
        if (header[i] & 0x80)
            return 0;
    uint32_t tag_size = (uint32_t(header[6]) << 21) | (uint32_t(header[7]) << 14) |
                        (uint32_t(header[8]) << 7) | header[9];
    // A tag that claims more than the file holds is damaged; rewriting it in place would
    // grow the file by the claimed size.
    if (10 + uint64_t(tag_size) > file_size)
        return 0;
    // Frames are read only within the tag.
    uint64_t end = 10 + uint64_t(tag_size);
    uint64_t position = 10;

    if (header[5] & 0x40) {
        uint8_t extended[10];
        if (position + 10 > end || file.read(extended, 10) != 10)
            return tag_size + 10;
        position += 10;
        if (extended[0] & 0x80) {
            if (position + 4 > end || file.skip(4) != 4)
                return tag_size + 10;
            position += 4;
        }
    }

    while (position + 10 <= end) {
        uint8_t frame[10];
        if (file.read(frame, 10) != 10)
            break;
        position += 10;
        uint32_t size = get_be32(frame + 4);
        if (frame[0] == 0 || size == 0 || size > kMaxSize || size > end - position)
            break;
        Id3Frame parsed;
        parsed.id.assign(reinterpret_cast<const char*>(frame), 4);
        parsed.flags = uint16_t((frame[8] << 8) | frame[9]);
        parsed.data = audio::ByteSlice::allocate(size);
        if (file.read(parsed.data.writable_data(), size) != size)
            break;
        position += size;
        m_frames.push_back(std::move(parsed));
    }
    return tag_size + 10;
}

const Id3Frame* Id3Tag::find(std::string_view id) const {
    for (const Id3Frame& frame : m_frames)
        if (frame.id == id)
            return &frame;
    return nullptr;
}

std::u16string Id3Tag::text(std::string_view id) const {
    const Id3Frame* frame = find(id);
    if (!frame || frame->data.size() < 1)
        return {};
    const uint8_t* p = frame->data.data() + 1;
    size_t size = frame->data.size() - 1;
    uint8_t encoding = frame->data.data()[0];
    std::u16string result;
    if (size > 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        bool little = p[0] == 0xFF;
        for (size_t i = 2; i + 1 < size; i += 2) {
            char16_t c =
                little ? char16_t(p[i] | (p[i + 1] << 8)) : char16_t((p[i] << 8) | p[i + 1]);
            if (c == 0)
                break;
            result.push_back(c);
        }
        return result;
    }
    size_t length = size_t(std::find(p, p + size, 0) - p);
    if (encoding == 3)
        return foundation::from_utf8(std::string_view(reinterpret_cast<const char*>(p), length));
    for (size_t i = 0; i < length; ++i)
        result.push_back(char16_t(p[i]));
    return result;
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

bool Id3Tag::write(foundation::File& file, uint32_t size_limit) const {
    uint64_t total = 0;
    for (const Id3Frame& frame : m_frames)
        total += frame.data.size() + 10;
    if (total == 0 || total > kMaxSize)
        return false;
    if (size_limit != 0 && (size_limit < 10 || total > size_limit - 10))
        return false;
    uint32_t tag_size = size_limit != 0
                            ? size_limit - 10
                            : uint32_t(std::min<uint64_t>(total + kNewTagPadding, kMaxSize));

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

    std::vector<uint8_t> head = {'I', 'D', '3', 3, 0, 0};
    put_syncsafe(head, tag_size);
    put(head.data(), head.size());
    for (const Id3Frame& frame : m_frames) {
        std::vector<uint8_t> frame_header(frame.id.begin(), frame.id.end());
        frame_header.resize(4, 0);
        put_be32(frame_header, uint32_t(frame.data.size()));
        frame_header.push_back(0);
        frame_header.push_back(0);
        put(frame_header.data(), frame_header.size());
        put(frame.data.data(), frame.data.size());
    }
    uint64_t padding = tag_size - total;
    const std::vector<uint8_t> zeros(kWriteBuffer, 0);
    while (ok && padding > 0) {
        size_t chunk = size_t(std::min<uint64_t>(padding, zeros.size()));
        put(zeros.data(), chunk);
        padding -= chunk;
    }
    if (ok && !buffer.empty())
        ok = file.write(buffer.data(), uint32_t(buffer.size()));
    return ok;
}

} // namespace formats
