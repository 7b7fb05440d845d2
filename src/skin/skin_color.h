#pragma once

#include <cstdint>

namespace skin {

// A colour of the skin: red, green, blue and alpha bytes. Colours read from a skin file always
// carry alpha 255; the screen takes the 5-6-5 form.
struct SkinColor {
    uint8_t red{0};
    uint8_t green{0};
    uint8_t blue{0};
    uint8_t alpha{255};

    uint16_t to_565() const {
        return static_cast<uint16_t>(((red & 0xF8) << 8) | ((green & 0xFC) << 3) | (blue >> 3));
    }
    bool operator==(const SkinColor&) const = default;
};

} // namespace skin
