#include "skin/blend.h"

#include <algorithm>
#include <cstring>

namespace skin {

namespace {

inline uint16_t scale_channels(uint16_t pixel, unsigned factor, unsigned shift) {
    unsigned r = ((pixel >> 11) * factor) >> shift;
    unsigned g = (((pixel >> 5) & 0x3F) * factor) >> shift;
    unsigned b = ((pixel & 0x1F) * factor) >> shift;
    return static_cast<uint16_t>((r << 11) | (g << 5) | b);
}

// Soft pixel at level 3: half the pixel plus three quarters of the target, per channel,
// saturated.
inline uint16_t mix_level3(uint16_t pixel, uint16_t target) {
    unsigned r = ((pixel >> 11) >> 1) + (((target >> 11) * 3) >> 2);
    unsigned g = (((pixel >> 5) & 0x3F) >> 1) + ((((target >> 5) & 0x3F) * 3) >> 2);
    unsigned b = ((pixel & 0x1F) >> 1) + (((target & 0x1F) * 3) >> 2);
    r = std::min(r, 0x1Fu);
    g = std::min(g, 0x3Fu);
    b = std::min(b, 0x1Fu);
    return static_cast<uint16_t>((r << 11) | (g << 5) | b);
}

void copy_plain(uint16_t* target, const uint16_t* source, int count, const Blend&) {
    std::memcpy(target, source, static_cast<size_t>(count) * 2);
}

void copy_keyed0(uint16_t* target, const uint16_t* source, int count, const Blend&) {
    for (int i = 0; i < count; ++i) {
        uint16_t p = source[i];
        if (p != key_color)
            target[i] = p;
    }
}

template <int Level> inline void keyed_pixel(uint16_t* target, uint16_t p) {
    if (p & opaque_bit) {
        *target = p;
    } else if (p != key_color) {
        uint16_t t = *target;
        if constexpr (Level == 1)
            *target = static_cast<uint16_t>(p + ((t & 0xE79F) >> 2));
        else if constexpr (Level == 2)
            *target = static_cast<uint16_t>(p + ((t & 0xF7DF) >> 1));
        else
            *target = mix_level3(p, t);
    }
}

// Two pixels at a time: runs of opaque art, the common case, move as 32-bit words.
template <int Level>
void copy_keyed_soft(uint16_t* target, const uint16_t* source, int count, const Blend&) {
    constexpr uint32_t both_opaque = (uint32_t(opaque_bit) << 16) | opaque_bit;
    int i = 0;
    for (; i + 1 < count; i += 2) {
        uint32_t pair;
        std::memcpy(&pair, source + i, 4);
        if ((pair & both_opaque) == both_opaque) {
            std::memcpy(target + i, &pair, 4);
            continue;
        }
        keyed_pixel<Level>(target + i, source[i]);
        keyed_pixel<Level>(target + i + 1, source[i + 1]);
    }
    if (i < count)
        keyed_pixel<Level>(target + i, source[i]);
}

void copy_keyed4(uint16_t* target, const uint16_t* source, int count, const Blend&) {
    for (int i = 0; i < count; ++i) {
        if (source[i] & opaque_bit)
            target[i] = source[i];
    }
}

void copy_fade(uint16_t* target, const uint16_t* source, int count, const Blend& blend) {
    unsigned level = static_cast<unsigned>(blend.level());
    if (level >= 16) {
        std::memcpy(target, source, static_cast<size_t>(count) * 2);
        return;
    }
    for (int i = 0; i < count; ++i)
        target[i] = scale_channels(source[i], level, 4);
}

void copy_fill(uint16_t* target, const uint16_t*, int count, const Blend& blend) {
    std::fill(target, target + count, blend.color());
}

void copy_tint(uint16_t* target, const uint16_t* source, int count, const Blend& blend) {
    unsigned factor = static_cast<unsigned>(blend.level());
    for (int i = 0; i < count; ++i)
        target[i] = scale_channels(source[i], factor, 8);
}

void fill_color(uint16_t* target, int count, const Blend& blend) {
    std::fill(target, target + count, blend.color());
}

void fill_fade(uint16_t* target, int count, const Blend& blend) {
    unsigned level = static_cast<unsigned>(blend.level());
    if (level >= 16)
        return;
    for (int i = 0; i < count; ++i)
        target[i] = scale_channels(target[i], level, 4);
}

void fill_tint(uint16_t* target, int count, const Blend& blend) {
    unsigned factor = static_cast<unsigned>(blend.level());
    for (int i = 0; i < count; ++i)
        target[i] = scale_channels(target[i], factor, 8);
}

} // namespace

Blend Blend::keyed(int level) {
    return Blend(Kind::Keyed, std::clamp(level, 0, 4), 0);
}

Blend Blend::keyed_for_alpha(uint32_t alpha) {
    return Blend(Kind::Keyed, static_cast<int>(std::min<uint32_t>(alpha / 64, 4)), 0);
}

Blend Blend::fade(uint32_t alpha) {
    uint64_t level = (uint64_t(alpha) + 8) / 16;
    return Blend(Kind::Fade, static_cast<int>(std::min<uint64_t>(level, 16)), 0);
}

Blend Blend::tint(int factor) {
    return Blend(Kind::Tint, std::clamp(factor, 0, 255), 0);
}

Blend::CopySpan Blend::copy_span() const {
    switch (m_kind) {
    case Kind::Copy:
        return copy_plain;
    case Kind::Keyed:
        switch (m_level) {
        case 0:
            return copy_keyed0;
        case 1:
            return copy_keyed_soft<1>;
        case 2:
            return copy_keyed_soft<2>;
        case 3:
            return copy_keyed_soft<3>;
        default:
            return copy_keyed4;
        }
    case Kind::Fade:
        return copy_fade;
    case Kind::Fill:
        return copy_fill;
    case Kind::Tint:
        return copy_tint;
    }
    return copy_plain;
}

Blend::FillSpan Blend::fill_span() const {
    switch (m_kind) {
    case Kind::Fill:
        return fill_color;
    case Kind::Fade:
        return fill_fade;
    case Kind::Tint:
        return fill_tint;
    default:
        return nullptr;
    }
}

} // namespace skin
