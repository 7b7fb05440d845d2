#pragma once

// A skin font: one platform face made from a font specification, with its line metrics and a
// per-character width cache, and the text drawing of labels into RGB565 surfaces.
// User-interface thread only.

#include "skin/font_spec.h"
#include "skin/skin_color.h"
#include "skin/surface.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {
class FontFace;
struct FontRequest;
} // namespace platform

namespace skin {

enum class HAlign { Left, Center, Right, Justify };
enum class VAlign { Top, VCenter, Bottom };

// "LEFT", "CENTER", "RIGHT", "JUSTIFY"; anything else is Left.
HAlign halign_from_name(std::u16string_view name);
// "TOP", "VCENTER", "BOTTOM"; anything else is Top.
VAlign valign_from_name(std::u16string_view name);

class FontRep {
public:
    // Creates the face when the size is non-zero (height -(size * scale * 96) / 72, at most 31
    // characters of the face name). A face that cannot be made is logged and leaves the font
    // without one: it then measures and draws with the fallback face, line height 20.
    explicit FontRep(const FontSpec& spec);
    ~FontRep();
    FontRep(const FontRep&) = delete;
    FontRep& operator=(const FontRep&) = delete;

    // The program's font for labels that name none: "Tahoma", 12 points.
    static std::shared_ptr<FontRep> default_font();

    // Test seam: what opens platform faces (empty restores the real font engine).
    using FaceOpener =
        std::function<std::unique_ptr<platform::FontFace>(const platform::FontRequest&)>;
    static void set_face_opener_for_testing(FaceOpener opener);
    // The vertical dots per inch written to the log at creation (the height formula uses 96).
    static void set_screen_dpi(int32_t dpi);

    const FontSpec& spec() const { return m_spec; }
    bool has_font() const { return m_face != nullptr; }
    int32_t line_height() const { return m_line_height; }
    int32_t descent() const { return m_descent; }

    // One advance width per character; characters never measured before cost one font-engine
    // call for the whole text, cached ones none.
    void character_widths(std::u16string_view text, std::vector<int32_t>& widths);
    int32_t text_width(std::u16string_view text);

    struct Extent {
        int32_t width{0};
        int32_t height{0};
        bool operator==(const Extent&) const = default;
    };
    // Lines broken only at line feeds: the widest line, and lines x line height. An empty text
    // is 0 wide and one line high.
    Extent measure(std::u16string_view text);

    // Draws text in the area (x, y, width, height) of target, clipped to the area and the
    // target's clip, anti-aliased in colour (alpha unused). Without wrap: one line, cut with an
    // end ellipsis when too wide, placed by halign and valign. With wrap: broken at spaces and
    // line feeds, a word too wide for a line cut with an ellipsis, the last line that fits
    // ending in an ellipsis when more follow, placed by halign from the top. Nothing for an
    // empty text.
    void draw_text(RenderSurface& target, SkinColor color, std::u16string_view text, int32_t x,
                   int32_t y, int32_t width, int32_t height, HAlign halign, VAlign valign,
                   bool wrap);

private:
    struct Line {
        std::u16string text;
        int32_t width;
    };
    platform::FontFace* face() const;
    int32_t cached_width(char16_t c) const;
    void store_width(char16_t c, int32_t width);
    Line fit_with_ellipsis(std::u16string_view text, int32_t width);
    Line cut_with_ellipsis(std::u16string_view text, int32_t width);
    void wrap_paragraph(std::u16string_view paragraph, int32_t width, std::vector<Line>& lines);
    void layout(std::u16string_view text, int32_t width, int32_t height, bool wrap,
                std::vector<Line>& lines);
    void draw_line(Surface& out, const Rect& clip, const Line& line, int32_t x, int32_t top,
                   uint16_t color);

    FontSpec m_spec;
    std::unique_ptr<platform::FontFace> m_face;
    int32_t m_line_height{20};
    int32_t m_descent{0};
    int32_t m_ascent{20};
    std::array<int32_t, 256> m_narrow_widths;
    std::unordered_map<char16_t, int32_t> m_wide_widths;
    std::u16string m_missing;
    std::vector<size_t> m_missing_positions;
    std::vector<int32_t> m_missing_widths;
    std::vector<int32_t> m_widths;
};

} // namespace skin
