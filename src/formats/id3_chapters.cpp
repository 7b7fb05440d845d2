// Chapter frames of ID3v2 tags: markers as "CHAP" frames with a title sub-frame, listed by one
// top-level ordered "CTOC" table of contents.

#include "formats/id3_tag.h"
#include "foundation/unicode.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace formats {

namespace {

constexpr uint32_t kNoOffset = 0xFFFFFFFF;
// Table of contents flags.
constexpr uint8_t kTopLevel = 0x02;
constexpr uint8_t kOrdered = 0x01;
constexpr char kTableId[] = "toc";

uint32_t get_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void put_be32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

void put_size(std::vector<uint8_t>& out, uint32_t value, int version) {
    if (version == 4) {
        for (int shift = 21; shift >= 0; shift -= 7)
            out.push_back(uint8_t((value >> shift) & 0x7F));
    } else {
        put_be32(out, value);
    }
}

// The label in the sub-frames that follow a chapter's times: the first sound title frame.
std::u16string chapter_label(int version, const uint8_t* p, size_t size) {
    size_t position = 0;
    while (size - position >= 10) {
        const uint8_t* head = p + position;
        const uint32_t plain = get_be32(head + 4);
        uint32_t length = plain;
        if (version == 4 && ((head[4] | head[5] | head[6] | head[7]) & 0x80) == 0) {
            const uint32_t safe = (uint32_t(head[4]) << 21) | (uint32_t(head[5]) << 14) |
                                  (uint32_t(head[6]) << 7) | head[7];
            // Some writers put plain integers there: take the reading that fits.
            length = safe <= size - position - 10 ? safe : plain;
        }
        if (length == 0 || length > size - position - 10)
            return {};
        const uint8_t* data = head + 10;
        if (std::memcmp(head, kId3Title, 4) == 0) {
            const uint16_t flags = uint16_t((head[8] << 8) | head[9]);
            size_t data_size = length;
            std::vector<uint8_t> unwrapped;
            if (!id3_frame_content(version, flags, data, data_size, unwrapped))
                return {};
            return foundation::whole_characters(id3_decode_text(data, data_size));
        }
        position += 10 + size_t(length);
    }
    return {};
}

} // namespace

std::vector<Marker> Id3Tag::markers() const {
    struct Found {
        Marker marker;
        size_t order;
    };
    std::vector<Found> found;
    std::set<std::string> ids;
    for (const Id3Frame& frame : m_frames) {
        if (frame.id != kId3Chapter)
            continue;
        const uint8_t* p = frame.data.data();
        size_t size = frame.data.size();
        std::vector<uint8_t> plain;
        if (!id3_frame_content(m_version, frame.flags, p, size, plain))
            continue;
        const uint8_t* end_of_id = static_cast<const uint8_t*>(std::memchr(p, 0, size));
        if (!end_of_id)
            continue;
        const size_t id_length = size_t(end_of_id - p);
        // Element id, its terminator and four 32-bit times and offsets.
        if (size - id_length - 1 < 16)
            continue;
        std::string id(reinterpret_cast<const char*>(p), id_length);
        if (!ids.insert(id).second)
            continue;
        const uint8_t* times = end_of_id + 1;
        Found entry;
        entry.marker.time_ms = get_be32(times);
        entry.order = found.size();
        const size_t sub_at = id_length + 1 + 16;
        entry.marker.label = chapter_label(m_version, p + sub_at, size - sub_at);
        found.push_back(std::move(entry));
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.marker.time_ms < b.marker.time_ms;
    });
    std::vector<Marker> result;
    result.reserve(found.size());
    for (Found& entry : found)
        result.push_back(std::move(entry.marker));
    return result;
}

bool Id3Tag::set_markers(std::vector<Marker> markers, uint32_t end_ms) {
    // 2.2 has no chapter frames.
    if (markers.size() > kMaxMarkers || written_version() == 2)
        return false;
    std::stable_sort(markers.begin(), markers.end(),
                     [](const Marker& a, const Marker& b) { return a.time_ms < b.time_ms; });
    const int version = written_version();
    m_frames.erase(std::remove_if(m_frames.begin(), m_frames.end(),
                                  [](const Id3Frame& f) {
                                      return f.id == kId3Chapter || f.id == kId3Contents;
                                  }),
                   m_frames.end());
    if (markers.empty())
        return true;
    std::vector<uint8_t> table(kTableId, kTableId + sizeof kTableId);
    table.push_back(kTopLevel | kOrdered);
    table.push_back(uint8_t(markers.size()));
    for (size_t i = 0; i < markers.size(); ++i) {
        const std::string id = "chp" + std::to_string(i);
        std::vector<uint8_t> data(id.begin(), id.end());
        data.push_back(0);
        const uint32_t start = markers[i].time_ms;
        const uint32_t end =
            i + 1 < markers.size() ? markers[i + 1].time_ms : std::max(start, end_ms);
        put_be32(data, start);
        put_be32(data, end);
        put_be32(data, kNoOffset);
        put_be32(data, kNoOffset);
        const std::vector<uint8_t> label = id3_encode_text(markers[i].label);
        data.insert(data.end(), kId3Title, kId3Title + 4);
        put_size(data, uint32_t(label.size()), version);
        data.push_back(0);
        data.push_back(0);
        data.insert(data.end(), label.begin(), label.end());
        Id3Frame frame;
        frame.id = kId3Chapter;
        frame.data = audio::ByteSlice::copy_of(data.size(), data.data());
        m_frames.push_back(std::move(frame));
        table.insert(table.end(), id.begin(), id.end());
        table.push_back(0);
    }
    Id3Frame contents;
    contents.id = kId3Contents;
    contents.data = audio::ByteSlice::copy_of(table.size(), table.data());
    m_frames.push_back(std::move(contents));
    return true;
}

} // namespace formats
