#pragma once

// The skin's scale: screen pixels per design pixel, in half steps (1, 1.5, 2, 3, 4.5, ...), so
// that the 240 x 320 design fills a phone's window 360 points wide as well as a desktop's window
// twice its size. Every place and length a skin gives goes through apply(), one rounding for
// all of them: a design coordinate c lands on c x scale rounded half up. Both edges of a part go
// through the same function, so parts that touch in the design touch on screen, and a length
// never comes out shorter than its exact size (a text measured at the scale fits its box).

#include <cstdint>
#include <string>

namespace skin {

class Scale {
public:
    // The density the skins are designed for: 96 dots per inch is scale 1.
    static constexpr int32_t design_dpi = 96;
    static constexpr int32_t max_halves = 16;

    constexpr Scale() = default;
    static constexpr Scale whole(int32_t times) { return from_halves(2 * times); }
    // Limited to 1 .. max_halves / 2.
    static constexpr Scale from_halves(int32_t halves) {
        Scale scale;
        scale.m_halves = halves < 2 ? 2 : halves > max_halves ? max_halves : halves;
        return scale;
    }
    // A screen of that many dots per inch draws at its multiple of 96, to the half step below.
    static constexpr Scale for_dpi(int32_t dpi) { return from_halves(dpi / (design_dpi / 2)); }

    constexpr int32_t halves() const { return m_halves; }
    constexpr bool is_whole() const { return m_halves % 2 == 0; }
    constexpr int32_t dpi() const { return design_dpi * m_halves / 2; }

    // A design coordinate or length in screen pixels.
    constexpr int32_t apply(int32_t design) const {
        const int64_t twice = int64_t(design) * m_halves + 1;
        return int32_t(twice >= 0 ? twice / 2 : (twice - 1) / 2);
    }
    // The design pixel (or pixel of a picture drawn at scale 1) that screen pixel p shows when
    // a drawing is enlarged.
    constexpr int64_t design_pixel(int64_t p) const { return p * 2 / m_halves; }

    // "1", "1.5", "2", ...: as the names of pictures drawn at this scale carry it
    // (NAME@1.5x.bmp).
    std::string name() const { return std::to_string(m_halves / 2) + (is_whole() ? "" : ".5"); }

    bool operator==(const Scale&) const = default;

private:
    int32_t m_halves{2};
};

} // namespace skin
