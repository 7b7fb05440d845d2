#include "skin/skin_image.h"

#include "foundation/file.h"
#include "foundation/log.h"
#include "foundation/text.h"

#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace skin {

namespace {

constexpr uint16_t magic[4] = {0x0421, 0x043A, 0x0438, 0x043D};
constexpr uint32_t record_sizes[SkinImage::SectionCount] = {8, 8, 8, 4, 20, 8};
// Attribute names are addressed by 16-bit offsets.
constexpr uint32_t name_window = 0x10000;

thread_local std::string g_last_error;

// Size and magic failures pass silently; the checks of offsets and records say what they found.
std::unique_ptr<SkinImage> refuse(const std::string& reason, bool quiet = false) {
    g_last_error = reason;
    if (!quiet)
        foundation::log() << "SkinImage::from_bytes not a skin: " << reason << "\n";
    return nullptr;
}

} // namespace

uint32_t SkinImage::record_size(Section section) {
    return record_sizes[section];
}

const std::string& SkinImage::last_error() {
    return g_last_error;
}

uint16_t SkinImage::u16(uint32_t offset) const {
    uint16_t value;
    std::memcpy(&value, m_bytes.data() + offset, 2);
    return value;
}

uint32_t SkinImage::u32(uint32_t offset) const {
    uint32_t value;
    std::memcpy(&value, m_bytes.data() + offset, 4);
    return value;
}

std::unique_ptr<SkinImage> SkinImage::load(const std::u16string& path) {
    std::vector<uint8_t> bytes;
    switch (foundation::read_whole_file(path, 0x7FFFFFFF, bytes)) {
    case foundation::WholeFile::CannotOpen:
        return refuse("cannot open " + foundation::to_utf8(path));
    case foundation::WholeFile::TooLarge:
        return refuse("file too large");
    case foundation::WholeFile::CannotRead:
        foundation::log() << "Error: skin [" << foundation::to_utf8(path) << "] failed to load\n";
        break;
    case foundation::WholeFile::Read:
        break;
    }
    return from_bytes(std::move(bytes));
}

std::unique_ptr<SkinImage> SkinImage::from_bytes(std::vector<uint8_t> bytes) {
    g_last_error.clear();
    if (bytes.size() < header_size)
        return refuse("shorter than the header", true);
    if (bytes.size() > 0xFFFFFFF0u)
        return refuse("too large");
    std::unique_ptr<SkinImage> image(new SkinImage(std::move(bytes)));
    for (int i = 0; i < 4; ++i) {
        if (image->u16(2 * i) != magic[i])
            return refuse("wrong magic", true);
    }
    if (!image->validate())
        return nullptr;
    return image;
}

bool SkinImage::read_text(uint32_t offset, std::u16string* out, uint32_t* end) const {
    uint64_t pos = offset;
    if (out)
        out->clear();
    while (pos + 2 <= m_bytes.size()) {
        uint16_t unit = u16(static_cast<uint32_t>(pos));
        pos += 2;
        if (unit == 0) {
            if (end)
                *end = static_cast<uint32_t>(pos);
            return true;
        }
        if (out)
            out->push_back(static_cast<char16_t>(unit));
    }
    return false;
}

bool SkinImage::validate() {
    const uint64_t size = m_bytes.size();
    m_root = u32(72);
    uint64_t pictures = u32(76), fonts = u32(80), strings = u32(88);
    uint32_t pool = u32(84);
    if (pool > size)
        return refuse("text pool outside the file"), false;
    if (pictures + fonts + strings > (size - pool) / 2)
        return refuse("more texts than the pool can hold"), false;

    uint32_t pos = pool;
    auto read_texts = [&](uint64_t count, std::vector<std::u16string>& out) {
        out.resize(static_cast<size_t>(count));
        for (auto& text : out) {
            if (!read_text(pos, &text, &pos))
                return false;
        }
        return true;
    };
    if (!read_texts(pictures, m_picture_names) || !read_texts(fonts, m_font_specs) ||
        !read_texts(strings, m_strings))
        return refuse("text pool runs past the end"), false;

    // Named-node tree: each record once, names strictly ascending in order.
    std::vector<uint32_t> directories;
    std::unordered_set<uint32_t> seen_records;
    std::vector<uint32_t> stack;
    std::u16string previous, name;
    bool have_previous = false;
    uint32_t current = m_root;
    while (current != NodeDir::none || !stack.empty()) {
        while (current != NodeDir::none) {
            if (uint64_t(current) + 12 + 16 > size)
                return refuse("named-node record outside the file"), false;
            if (!seen_records.insert(current).second)
                return refuse("named-node tree has a loop"), false;
            stack.push_back(current);
            current = u32(current);
        }
        uint32_t record = stack.back();
        stack.pop_back();
        if (!read_text(u32(record + 8), &name, nullptr))
            return refuse("named-node name outside the file"), false;
        if (have_previous && !(previous < name))
            return refuse("named-node tree out of order"), false;
        previous = name;
        have_previous = true;
        directories.push_back(record + 12);
        current = u32(record + 4);
    }

    // Every directory reachable from a named node, with no node its own descendant.
    enum : uint8_t { Open = 1, Done = 2 };
    std::unordered_map<uint32_t, uint8_t> state;
    struct Frame {
        uint32_t dir;
        std::vector<uint32_t> children;
        size_t next;
    };
    for (uint32_t top : directories) {
        if (state.count(top))
            continue;
        std::vector<Frame> frames;
        Frame first{top, {}, 0};
        if (!validate_directory(top, first.children))
            return false;
        state[top] = Open;
        frames.push_back(std::move(first));
        while (!frames.empty()) {
            Frame& frame = frames.back();
            if (frame.next == frame.children.size()) {
                state[frame.dir] = Done;
                frames.pop_back();
                continue;
            }
            uint32_t child = frame.children[frame.next++];
            auto found = state.find(child);
            if (found != state.end()) {
                if (found->second == Open)
                    return refuse("node is its own descendant"), false;
                continue;
            }
            Frame next{child, {}, 0};
            if (!validate_directory(child, next.children))
                return false;
            state[child] = Open;
            frames.push_back(std::move(next));
        }
    }
    return true;
}

bool SkinImage::validate_directory(uint32_t dir, std::vector<uint32_t>& children) const {
    const uint64_t size = m_bytes.size();
    if (uint64_t(dir) + 16 > size)
        return refuse("node directory outside the file"), false;
    uint16_t bounds[7];
    for (int i = 0; i < 7; ++i)
        bounds[i] = u16(dir + 2 * i);
    uint32_t count = u16(dir + 14);
    if (16 + 4 * uint64_t(count) > bounds[0])
        return refuse("attribute sections overlap the child list"), false;
    for (int i = 0; i < 6; ++i) {
        if (bounds[i + 1] < bounds[i])
            return refuse("attribute section bounds out of order"), false;
        if ((bounds[i + 1] - bounds[i]) % record_sizes[i] != 0)
            return refuse("attribute section of broken records"), false;
    }
    if (uint64_t(dir) + bounds[6] > size)
        return refuse("attribute section outside the file"), false;

    std::u16string previous, name;
    for (int section = 0; section < SectionCount; ++section) {
        uint32_t step = record_sizes[section];
        for (uint32_t at = dir + bounds[section]; at < dir + bounds[section + 1]; at += step) {
            uint16_t name_offset = u16(at);
            if (!read_text(name_offset, &name, nullptr))
                return refuse("attribute name outside the file"), false;
            if (at != dir + bounds[section] && !(previous < name))
                return refuse("attribute section not sorted"), false;
            previous = name;
            switch (section) {
            case Fonts:
                if (u32(at + 4) >= m_font_specs.size())
                    return refuse("font index past the font table"), false;
                break;
            case Strings:
                if (u16(at + 2) >= m_strings.size())
                    return refuse("string index past the string table"), false;
                break;
            case Pictures:
                if (m_bytes[at + 18] >= m_picture_names.size())
                    return refuse("picture index past the picture table"), false;
                break;
            default:
                break;
            }
        }
    }
    children.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        children[i] = u32(dir + 16 + 4 * i);
        if (uint64_t(children[i]) + 16 > size)
            return refuse("child directory outside the file"), false;
    }
    return true;
}

int SkinImage::compare_name(std::u16string_view wanted, uint32_t offset) const {
    for (size_t i = 0;; ++i, offset += 2) {
        uint16_t stored = u16(offset);
        if (i == wanted.size())
            return stored == 0 ? 0 : -1;
        if (stored == 0)
            return 1;
        uint16_t unit = static_cast<uint16_t>(wanted[i]);
        if (unit != stored)
            return unit < stored ? -1 : 1;
    }
}

NodeDir SkinImage::find_named_node(std::u16string_view name) const {
    uint32_t record = m_root;
    while (record != NodeDir::none) {
        int order = compare_name(name, u32(record + 8));
        if (order == 0)
            return NodeDir{record + 12};
        record = order < 0 ? u32(record) : u32(record + 4);
    }
    return NodeDir{};
}

std::vector<std::pair<std::u16string, NodeDir>> SkinImage::named_nodes() const {
    std::vector<std::pair<std::u16string, NodeDir>> result;
    std::vector<uint32_t> stack;
    uint32_t current = m_root;
    while (current != NodeDir::none || !stack.empty()) {
        while (current != NodeDir::none) {
            stack.push_back(current);
            current = u32(current);
        }
        uint32_t record = stack.back();
        stack.pop_back();
        std::u16string name;
        read_text(u32(record + 8), &name, nullptr);
        result.emplace_back(std::move(name), NodeDir{record + 12});
        current = u32(record + 4);
    }
    return result;
}

uint32_t SkinImage::child_count(NodeDir dir) const {
    return dir.valid() ? u16(dir.offset + 14) : 0;
}

NodeDir SkinImage::child(NodeDir dir, uint32_t index) const {
    if (index >= child_count(dir))
        return NodeDir{};
    return NodeDir{u32(dir.offset + 16 + 4 * index)};
}

bool SkinImage::has_integers(NodeDir dir) const {
    return dir.valid() && u16(dir.offset + 2) != u16(dir.offset);
}

bool SkinImage::has_points(NodeDir dir) const {
    return dir.valid() && u16(dir.offset + 6) != u16(dir.offset + 4);
}

std::optional<uint32_t> SkinImage::find_record(NodeDir dir, Section section,
                                               std::u16string_view name) const {
    if (!dir.valid())
        return std::nullopt;
    uint32_t start = dir.offset + u16(dir.offset + 2 * section);
    uint32_t end = dir.offset + u16(dir.offset + 2 * (section + 1));
    uint32_t size = record_sizes[section];
    uint32_t lo = 0, hi = (end - start) / size;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        uint32_t at = start + mid * size;
        int order = compare_name(name, u16(at));
        if (order == 0)
            return at;
        if (order < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return std::nullopt;
}

std::optional<uint32_t> SkinImage::find_integer(NodeDir dir, std::u16string_view name) const {
    auto at = find_record(dir, Integers, name);
    return at ? std::optional<uint32_t>(u32(*at + 4)) : std::nullopt;
}

std::optional<uint32_t> SkinImage::find_font(NodeDir dir, std::u16string_view name) const {
    auto at = find_record(dir, Fonts, name);
    return at ? std::optional<uint32_t>(u32(*at + 4)) : std::nullopt;
}

std::optional<SkinPoint> SkinImage::find_point(NodeDir dir, std::u16string_view name) const {
    auto at = find_record(dir, Points, name);
    if (!at)
        return std::nullopt;
    int32_t x = static_cast<int16_t>(u16(*at + 4));
    int32_t y = static_cast<int16_t>(u16(*at + 6));
    return SkinPoint{m_scale.apply(x), m_scale.apply(y)};
}

std::optional<uint32_t> SkinImage::find_string(NodeDir dir, std::u16string_view name) const {
    auto at = find_record(dir, Strings, name);
    return at ? std::optional<uint32_t>(u16(*at + 2)) : std::nullopt;
}

std::optional<PictureRecord> SkinImage::find_picture(NodeDir dir, std::u16string_view name) const {
    auto at = find_record(dir, Pictures, name);
    if (!at)
        return std::nullopt;
    auto corner = [&](uint32_t offset) {
        return SkinPoint{m_scale.apply(u16(*at + offset)), m_scale.apply(u16(*at + offset + 2))};
    };
    PictureRecord record;
    record.outer_min = corner(2);
    record.inner_min = corner(6);
    record.inner_max = corner(10);
    record.outer_max = corner(14);
    record.picture = m_bytes[*at + 18];
    record.flag = m_bytes[*at + 19] != 0;
    return record;
}

std::optional<SkinColor> SkinImage::find_color(NodeDir dir, std::u16string_view name) const {
    auto at = find_record(dir, Colors, name);
    if (!at)
        return std::nullopt;
    return SkinColor{m_bytes[*at + 4], m_bytes[*at + 5], m_bytes[*at + 6], 255};
}

uint32_t SkinImage::get_integer(NodeDir dir, std::u16string_view name, uint32_t fallback) const {
    return find_integer(dir, name).value_or(fallback);
}

SkinPoint SkinImage::get_point(NodeDir dir, std::u16string_view name, SkinPoint fallback) const {
    return find_point(dir, name).value_or(fallback);
}

SkinColor SkinImage::get_color(NodeDir dir, std::u16string_view name, SkinColor fallback) const {
    return find_color(dir, name).value_or(fallback);
}

std::vector<std::u16string> SkinImage::attribute_names(NodeDir dir, Section section) const {
    std::vector<std::u16string> names;
    if (!dir.valid())
        return names;
    uint32_t start = dir.offset + u16(dir.offset + 2 * section);
    uint32_t end = dir.offset + u16(dir.offset + 2 * (section + 1));
    for (uint32_t at = start; at < end; at += record_sizes[section]) {
        std::u16string name;
        read_text(u16(at), &name, nullptr);
        names.push_back(std::move(name));
    }
    return names;
}

} // namespace skin
