#pragma once

// A skin file held in memory and read in place. Node directories, attribute records and texts
// are found by walking offsets inside the image; nothing is unpacked. Every offset, count and
// record the lookups can reach is checked once when the image is made, so lookups never read
// outside the bytes.

#include "skin/scale.h"
#include "skin/skin_color.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

// A node directory: its byte offset in the image. The default value refers to no node.
struct NodeDir {
    static constexpr uint32_t none = 0xFFFFFFFF;
    uint32_t offset{none};

    bool valid() const { return offset != none; }
    bool operator==(const NodeDir&) const = default;
};

struct SkinPoint {
    int32_t x{0};
    int32_t y{0};
    bool operator==(const SkinPoint&) const = default;
};

// A picture attribute as stored: the picture table index, the four corners (already scaled by
// the skin's scale when handed out) and the flag byte.
struct PictureRecord {
    uint32_t picture{0};
    SkinPoint outer_min;
    SkinPoint inner_min;
    SkinPoint inner_max;
    SkinPoint outer_max;
    bool flag{false};
    bool operator==(const PictureRecord&) const = default;
};

class SkinImage {
public:
    static constexpr size_t header_size = 92;

    // Takes the bytes of a skin file. Returns none (and logs why) when they are not a skin:
    // too short, wrong magic, an offset or count outside the bytes, an unsorted attribute
    // section, an index past its table, a loop among nodes.
    static std::unique_ptr<SkinImage> from_bytes(std::vector<uint8_t> bytes);
    // Reads the whole file first (path macros allowed).
    static std::unique_ptr<SkinImage> load(const std::u16string& path);

    // Why the last from_bytes on this thread refused its bytes; for tests and tools.
    static const std::string& last_error();

    const std::vector<uint8_t>& bytes() const { return m_bytes; }

    // Every point and picture corner goes through this (the skin's scale) when handed out: the
    // screen's pixels per design pixel.
    Scale scale() const { return m_scale; }
    void set_scale(Scale scale) { m_scale = scale; }

    uint32_t picture_count() const { return static_cast<uint32_t>(m_picture_names.size()); }
    uint32_t font_count() const { return static_cast<uint32_t>(m_font_specs.size()); }
    uint32_t string_count() const { return static_cast<uint32_t>(m_strings.size()); }
    const std::u16string& picture_name(uint32_t i) const { return m_picture_names.at(i); }
    const std::u16string& font_spec(uint32_t i) const { return m_font_specs.at(i); }
    const std::u16string& string_at(uint32_t i) const { return m_strings.at(i); }

    // Directories handed to the operations below must come from this image (a named node, or a
    // child of one); an invalid NodeDir answers with nothing.
    NodeDir find_named_node(std::u16string_view name) const;
    // Every named node, in name order (for tools).
    std::vector<std::pair<std::u16string, NodeDir>> named_nodes() const;

    uint32_t child_count(NodeDir dir) const;
    NodeDir child(NodeDir dir, uint32_t index) const;

    bool has_integers(NodeDir dir) const;
    bool has_points(NodeDir dir) const;

    std::optional<uint32_t> find_integer(NodeDir dir, std::u16string_view name) const;
    std::optional<uint32_t> find_font(NodeDir dir, std::u16string_view name) const;
    // Scaled by the skin's scale.
    std::optional<SkinPoint> find_point(NodeDir dir, std::u16string_view name) const;
    std::optional<uint32_t> find_string(NodeDir dir, std::u16string_view name) const;
    // Corners scaled by the skin's scale.
    std::optional<PictureRecord> find_picture(NodeDir dir, std::u16string_view name) const;
    std::optional<SkinColor> find_color(NodeDir dir, std::u16string_view name) const;

    uint32_t get_integer(NodeDir dir, std::u16string_view name, uint32_t fallback) const;
    // The fallback comes back unscaled.
    SkinPoint get_point(NodeDir dir, std::u16string_view name, SkinPoint fallback) const;
    SkinColor get_color(NodeDir dir, std::u16string_view name, SkinColor fallback) const;

    // The six attribute kinds in section order, with their record sizes.
    enum Section { Integers = 0, Fonts, Points, Strings, Pictures, Colors, SectionCount };
    static uint32_t record_size(Section section);

    // Raw access for tools: the attribute names of one section of a directory, in order.
    std::vector<std::u16string> attribute_names(NodeDir dir, Section section) const;

private:
    explicit SkinImage(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    bool validate();
    bool read_text(uint32_t offset, std::u16string* out, uint32_t* end) const;
    bool validate_directory(uint32_t offset, std::vector<uint32_t>& children) const;
    std::optional<uint32_t> find_record(NodeDir dir, Section section,
                                        std::u16string_view name) const;
    int compare_name(std::u16string_view wanted, uint32_t offset) const;
    uint16_t u16(uint32_t offset) const;
    uint32_t u32(uint32_t offset) const;

    std::vector<uint8_t> m_bytes;
    Scale m_scale;
    uint32_t m_root{NodeDir::none};
    std::vector<std::u16string> m_picture_names;
    std::vector<std::u16string> m_font_specs;
    std::vector<std::u16string> m_strings;
};

} // namespace skin
