#pragma once

// A skin font: one platform face made from a font specification, with its line metrics, a cache
// of shaped lines (the widths of every text measured or drawn), and the text drawing of labels
// into RGB565 surfaces.
// User-interface thread only.

#include "platform/font_engine.h"
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

namespace skin {

enum class HAlign { Left, Center, Right, Justify };
enum class VAlign { Top, VCenter, Bottom };

// "LEFT", "CENTER", "RIGHT", "JUSTIFY"; anything else is Left.
HAlign halign_from_name(std::u16string_view name);
// "TOP", "VCENTER", "BOTTOM"; anything else is Top.
VAlign valign_from_name(std::u16string_view name);

class FontRep {
public:
    // Creates the face when the size is non-zero (height spec.log_font_height(), at most 31
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

    // One advance width per code unit: the width of each cluster (a character with its marks,
    // a surrogate pair, a ligature) on its first code unit, 0 on the others. A text costs one
    // shaping the first time it is measured or drawn with this font and none after.
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

    // A place in a one-line text where a caret may stand and where the text may be cut: it
    // splits no cluster, grapheme or surrogate pair. x is the caret's distance from the left
    // edge of the line as draw_text lays it out (right-to-left runs included).
    struct CaretStop {
        size_t offset{0};
        int32_t x{0};
        bool operator==(const CaretStop&) const = default;
    };
    // Every caret stop of the text, by ascending offset, from 0 to text.size().
    void caret_stops(std::u16string_view text, std::vector<CaretStop>& stops);
    // The offset of the caret stop nearest to x.
    size_t offset_at(std::u16string_view text, int32_t x);

    // The line draw_text shows for a one-line text in width pixels: the text itself when it
    // fits, else its longest start that fits before an ellipsis ("..."), cut at a caret stop.
    std::u16string fitted_line(std::u16string_view text, int32_t width);

    // Draws text in the area (x, y, width, height) of target, clipped to the area and the
    // target's clip, anti-aliased in colour (alpha unused). Lines are laid out by the
    // bidirectional algorithm, the paragraph direction taken from the first strong character;
    // characters the face lacks come from a stand-in face. Without wrap: one line, cut with an
    // end ellipsis when too wide, placed by halign and valign. With wrap: broken at spaces and
    // line feeds, a word too wide for a line cut with an ellipsis, the last line that fits
    // ending in an ellipsis when more follow, placed by halign from the top. Cuts never split a
    // cluster. Nothing for an empty text.
    void draw_text(RenderSurface& target, SkinColor color, std::u16string_view text, int32_t x,
                   int32_t y, int32_t width, int32_t height, HAlign halign, VAlign valign,
                   bool wrap);

private:
    using Direction = platform::TextDirection;
    // A shaped line: its glyphs in visual order and its clusters in logical order.
    struct ShapedLine {
        std::u16string text;
        Direction direction{Direction::Auto};
        bool right_to_left{false};                 // resolved paragraph direction
        std::vector<platform::ShapedGlyph> glyphs; // left to right
        std::vector<uint32_t> stops;               // cluster starts, then text.size()
        std::vector<int32_t> widths;               // advance of each cluster
        std::vector<int32_t> lefts;                // visual edges of each cluster
        std::vector<int32_t> rights;
        std::vector<uint8_t> cluster_right_to_left; // direction of each cluster's run
        int32_t width{0};
        size_t clusters() const { return widths.size(); }
    };
    using Line = std::shared_ptr<const ShapedLine>;
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::u16string_view text) const {
            return std::hash<std::u16string_view>{}(text);
        }
    };
    using LineCache = std::unordered_map<std::u16string, Line, TextHash, std::equal_to<>>;

    platform::FontFace* face() const;
    Line shaped(std::u16string_view text, Direction direction);
    Line shape_line(std::u16string_view text, Direction direction);
    static Direction resolved(const ShapedLine& line);
    Line fit_with_ellipsis(std::u16string_view text, int32_t width, Direction direction);
    Line cut_with_ellipsis(std::u16string_view text, int32_t width, Direction direction);
    void wrap_paragraph(std::u16string_view paragraph, int32_t width, std::vector<Line>& lines);
    void layout(std::u16string_view text, int32_t width, int32_t height, bool wrap,
                std::vector<Line>& lines);
    void draw_line(Surface& out, const Rect& clip, const ShapedLine& line, int32_t x, int32_t top,
                   uint16_t color);

    FontSpec m_spec;
    std::unique_ptr<platform::FontFace> m_face;
    int32_t m_line_height{20};
    int32_t m_descent{0};
    int32_t m_ascent{20};
    std::array<LineCache, 3> m_lines; // by direction
    std::u16string m_scratch;
    std::vector<platform::DirectionalRun> m_runs;
    std::vector<size_t> m_graphemes;
    std::vector<size_t> m_breaks;
    std::vector<uint8_t> m_starts;
    std::vector<int32_t> m_widths;
};

} // namespace skin
