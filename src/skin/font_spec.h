#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace skin {

// What a skin font is made from: size in points, scale (1, or 2 on hi-res displays), style
// flags and face name.
struct FontSpec {
    int32_t size{12};
    int32_t scale{1};
    bool bold{false};
    bool italic{false};
    bool underline{false};
    std::u16string face{u"Tahoma"};

    // The platform font height: -(size * scale * 96) / 72, truncated toward zero (negative for
    // a character height, as a LOGFONT has it).
    int32_t log_font_height() const;

    bool operator==(const FontSpec&) const = default;
};

// Reads "size bold italic underline face" over the fields of spec: each integer may follow white
// space and one sign, and is decimal; after the fourth, white space is skipped and the rest is
// the face. Reading stops at the first field that does not parse; later fields keep what spec
// held before.
void apply_font_spec(std::u16string_view text, FontSpec& spec);

} // namespace skin
