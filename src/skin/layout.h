#pragma once

// The placement rules of components inside their parent, one axis at a time. The low edge is
// the left or top edge, the high edge the right or bottom one. Pure arithmetic: components
// collect their children's rules and measured sizes into LayoutItems and apply the ranges.

#include <cstdint>
#include <span>
#include <string_view>

namespace skin {

enum class Axis { X, Y };

// How a component anchors itself on one axis (skin values "MIN_SIDE" .. "MAX_SIDE_NO_SIZE").
enum class Anchor : int32_t {
    MinSide = 0,       // b0 from the low edge; natural size
    BothSide = 1,      // b0 and b1 kept; stretched between them
    MaxSide = 2,       // b1 from the high edge; natural size
    Ratio = 3,         // natural size at b0, asking room for both borders
    Center = 4,        // natural size, centred between b0 and b1
    MinSideNoSize = 5, // like MinSide, asking the parent for no room
    MaxSideNoSize = 6, // like MaxSide, asking the parent for no room
};

// The exact attribute text; anything else gives fallback.
Anchor anchor_from_name(std::u16string_view name, Anchor fallback = Anchor::BothSide);

// A component's measured sizes on one axis: preferred and minimum.
struct Measure {
    int32_t preferred{0};
    int32_t minimum{0};
    bool operator==(const Measure&) const = default;
};

// A position and a length on one axis, in form coordinates.
struct Range {
    int32_t position{0};
    int32_t size{0};
    bool operator==(const Range&) const = default;
};

// One child's rule on one axis.
struct LayoutItem {
    Anchor mode{Anchor::BothSide};
    int32_t b0{0}; // border to the low edge
    int32_t b1{0}; // border to the high edge
    Measure measure;
    int32_t ratio{0}; // share of a table's spare room; 0 or less: none
};

namespace layout {

// Room a child of size s asks of its parent.
int32_t room(Anchor mode, int32_t b0, int32_t s, int32_t b1);
// The borders that count in a table slot.
int32_t extent(Anchor mode, int32_t b0, int32_t b1);
// The child's length inside a slot of length slot.
int32_t child_size(Anchor mode, int32_t b0, int32_t s, int32_t b1, int32_t slot);
// The child's offset from the slot's start.
int32_t child_offset(Anchor mode, int32_t b0, int32_t size, int32_t b1, int32_t slot);

// A plain container over all its children (hidden ones too).
Measure measure_plain(int32_t design, std::span<const LayoutItem> children);
// A child of a plain container at position x with length length.
Range place_plain(const LayoutItem& child, int32_t x, int32_t length);

// A table along its axis, over its visible children only.
Measure measure_table(int32_t design, std::span<const LayoutItem> visible);
// Ranges of the visible children of a table at position x with length length: the minimum
// sizes first, growth towards the preferred sizes in even passes, then spare room by ratio;
// with too little room, shares of it by minimum size. out holds one range per item.
void place_table(std::span<const LayoutItem> visible, int32_t x, int32_t length,
                 std::span<Range> out);

} // namespace layout

} // namespace skin
