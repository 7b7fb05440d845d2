#pragma once

// The platform's font engine: FreeType faces found through fontconfig, shaped with HarfBuzz.
// A face named by a skin ("Tahoma" and others) resolves to the closest installed face; DejaVu
// Sans is the fallback. Characters the face lacks are drawn from another installed face that has
// them, chosen per character through fontconfig: a monochrome outline face when one has the
// character (drawn in the text colour like the rest), else a colour one. Emoji (characters
// shown as emoji by default, or followed by U+FE0F) come from a colour emoji face when one is
// installed (Noto Color Emoji's bitmaps, scaled down to the text size), else as text.
// Faces are used from one thread at a time.

#include <cstddef>
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
// pen on the baseline. A colour glyph (an emoji from a colour font) also has its own RGB565
// colour per pixel, drawn instead of the text colour.
struct GlyphImage {
    int32_t width{0};
    int32_t rows{0};
    int32_t left{0};
    int32_t top{0};
    std::vector<uint8_t> coverage;
    std::vector<uint16_t> color; // empty, or one per coverage byte
};

// One glyph of shaped text. Offsets and advance are whole pixels; y_offset grows upwards.
struct ShapedGlyph {
    uint32_t glyph{0};   // glyph index in its face
    uint32_t face{0};    // 0 the requested face, 1 and up the faces that stood in for it
    int32_t advance{0};  // pen movement after the glyph
    int32_t x_offset{0}; // glyph position relative to the pen
    int32_t y_offset{0};
    uint32_t cluster{0}; // offset in the text of the first code unit the glyph stands for
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
    // Shapes text[begin, end), a run of one direction, and appends its glyphs in visual order
    // (left to right). The text around the run is context only (Arabic joining across a run's
    // edge). Characters the face lacks come from a stand-in face; characters no installed face
    // has become the face's missing glyph.
    virtual void shape(std::u16string_view text, size_t begin, size_t end, bool right_to_left,
                       std::vector<ShapedGlyph>& glyphs) = 0;
    // The rendered image of a glyph from shape(), kept for the life of the face.
    virtual const GlyphImage& glyph_image(uint32_t face, uint32_t glyph) = 0;
    // The family the request resolved to (face 0) or of a stand-in face; empty when unknown.
    virtual std::string family(uint32_t face) const = 0;
};

// None when no face can be opened at all (not even the fallback).
std::unique_ptr<FontFace> open_font_face(const FontRequest& request);

// Replaces the fontconfig configuration for the rest of the process with the one in the given
// fonts.conf (tests use their own fonts). Faces already open keep what they found.
bool use_font_configuration(const std::string& fonts_conf_path);

// The paragraph direction for bidirectional layout; Auto follows the first strong character
// (left to right when there is none).
enum class TextDirection { Auto, LeftToRight, RightToLeft };

// A run of one direction, [begin, end) in the text.
struct DirectionalRun {
    size_t begin{0};
    size_t end{0};
    bool right_to_left{false};
};

// The directional runs of one line in visual order, left to right, by the Unicode
// bidirectional algorithm; right_to_left_paragraph tells the resolved paragraph direction.
// A text with no right-to-left character is one left-to-right run without further work.
void directional_runs(std::u16string_view text, TextDirection direction,
                      std::vector<DirectionalRun>& runs, bool& right_to_left_paragraph);

// Offsets where a user-perceived character (an extended grapheme cluster: a base with its
// marks, a surrogate pair, an emoji sequence) begins, ascending, then text.size().
void grapheme_boundaries(std::u16string_view text, std::vector<size_t>& boundaries);

// Offsets after 0 where a wrapped line may begin, ascending, then text.size(). Text written with
// spaces between words breaks only after spaces (a run of spaces or tabs); text with Chinese,
// Japanese, Korean, Thai, Lao, Khmer or Myanmar characters follows the Unicode line breaking
// rules, which also break between ideographs.
void line_breaks(std::u16string_view text, std::vector<size_t>& breaks);

} // namespace platform
