#pragma once

// The platform's font engine: FreeType faces found through fontconfig. A face named by a skin
// ("Tahoma" and others) resolves to the closest installed face; DejaVu Sans is the fallback.
// Faces are used from one thread at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct FontRequest {
    std::string face;         // family name, UTF-8
    int32_t pixel_height{16}; // character height (em size) in pixels
    bool bold{false};
    bool italic{false};
};

// An anti-aliased glyph: coverage 0-255, width bytes per row, placed at (left, -top) from the
// pen on the baseline.
struct GlyphImage {
    int32_t width{0};
    int32_t rows{0};
    int32_t left{0};
    int32_t top{0};
    std::vector<uint8_t> coverage;
};

class FontFace {
public:
    virtual ~FontFace() = default;

    // Pixels above and below the baseline; a line is ascent + descent high.
    virtual int32_t ascent() const = 0;
    virtual int32_t descent() const = 0;
    // Top of the underline below the baseline, and its thickness, in pixels.
    virtual int32_t underline_position() const = 0;
    virtual int32_t underline_thickness() const = 0;
    // One advance width in pixels per code unit of text.
    virtual void advances(std::u16string_view text, int32_t* widths) = 0;
    // The rendered glyph of one code unit, kept for the life of the face.
    virtual const GlyphImage& glyph(char16_t code) = 0;
    // The family the request resolved to.
    virtual std::string family() const = 0;
};

// None when no face can be opened at all (not even the fallback).
std::unique_ptr<FontFace> open_font_face(const FontRequest& request);

} // namespace platform
