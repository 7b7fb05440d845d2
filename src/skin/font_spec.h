#pragma once

#include "skin/scale.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace skin {

// What a skin font is made from: size in points, the skin's scale, style flags and face name.
struct FontSpec {
    int32_t size{12};
    Scale scale;
    bool bold{false};
    bool italic{false};
    bool underline{false};
    std::u16string face{u"Tahoma"};

    // The platform font height: -(size * scale * 96) / 72, truncated toward zero (negative for
    // a character height, as a LOGFONT has it); at a half step, the mean of the whole scales'
    // heights on either side, truncated.
    int32_t log_font_height() const;

    bool operator==(const FontSpec&) const = default;
};

// Reads "size bold italic underline face" over the fields of spec: each integer may follow white
// space and one sign, and is decimal; after the fourth, white space is skipped and the rest is
// the face. Reading stops at the first field that does not parse; later fields keep what spec
// held before.
void apply_font_spec(std::u16string_view text, FontSpec& spec);

} // namespace skin
