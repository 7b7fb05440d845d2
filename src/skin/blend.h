#pragma once

// How source pixels meet target pixels. A blend picks its span operation once per draw call;
// the span then runs over a whole row with no per-pixel dispatch.
//
// Skin bitmaps carry their transparency in the 5-6-5 pixels: 0xF81F is the transparent key, a
// pixel with the green low bit (0x0020) set is opaque, any other pixel is a soft pixel (an
// anti-aliased edge or shadow) stored premultiplied.

#include <cstdint>

namespace skin {

inline constexpr uint16_t key_color = 0xF81F;
inline constexpr uint16_t opaque_bit = 0x0020;

class Blend {
public:
    enum class Kind : uint8_t { Copy, Keyed, Fade, Fill, Tint };

    // target = source
    static Blend copy() { return Blend(Kind::Copy, 0, 0); }
    // Keyed levels 0-4: 0 copies all but the key; 1 and 2 add a quarter and a half of the
    // target under soft pixels; 3 mixes soft pixels between level 2 and 4; 4 copies only
    // opaque pixels.
    static Blend keyed(int level);
    // The keyed level for a skin alpha: alpha / 64, limited to 0-4.
    static Blend keyed_for_alpha(uint32_t alpha);
    // Seventeen levels, (alpha + 8) / 16 limited to 0-16: 16 keeps the pixels, lower levels keep
    // level/16 of each channel. As a fill it dims the target; as a copy, the source.
    static Blend fade(uint32_t alpha);
    // target = colour, whatever the source.
    static Blend fill(uint16_t color) { return Blend(Kind::Fill, 0, color); }
    // Each channel multiplied by factor (0-255) and divided by 256: of the source in a copy, of
    // the target in a fill.
    static Blend tint(int factor);

    Kind kind() const { return m_kind; }
    int level() const { return m_level; }
    uint16_t color() const { return m_color; }

    using CopySpan = void (*)(uint16_t* target, const uint16_t* source, int count,
                              const Blend& blend);
    using FillSpan = void (*)(uint16_t* target, int count, const Blend& blend);

    CopySpan copy_span() const;
    // None for blends that need a source (copy and keyed).
    FillSpan fill_span() const;

    bool operator==(const Blend&) const = default;

private:
    Blend(Kind kind, int level, uint16_t color) : m_kind(kind), m_level(level), m_color(color) {}

    Kind m_kind;
    int m_level;
    uint16_t m_color;
};

} // namespace skin
