#include "platform/font_engine.h"

#include "platform/utf.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <hb-ft.h>
#include <hb.h>
#include <mutex>
#include <unicode/uchar.h>
#include <unordered_map>

namespace platform {

namespace {

// FreeType's library and fontconfig's configuration are shared by every face.
std::mutex g_mutex;
FT_Library g_library = nullptr;
bool g_fontconfig_ready = false;

// A face never opens more stand-ins than this; characters beyond get the missing glyph.
constexpr size_t max_faces = 24;

FT_Library library() {
    std::lock_guard lock(g_mutex);
    if (!g_library && FT_Init_FreeType(&g_library) != 0)
        g_library = nullptr;
    return g_library;
}

struct FontFile {
    std::string path;
    int index{0};
    bool operator==(const FontFile&) const = default;
};

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Called with g_mutex held.
bool fontconfig_ready() {
    if (!g_fontconfig_ready) {
        g_fontconfig_ready = FcInit() == FcTrue;
        // Releases the configuration FcInit loaded; every pattern here is freed at once.
        if (g_fontconfig_ready)
            std::atexit(FcFini);
    }
    return g_fontconfig_ready;
}

// The pattern of a request: its family, then DejaVu Sans, in its weight and slant, outlines only.
FcPattern* request_pattern(const FontRequest& request) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return nullptr;
    std::string face = trimmed(request.face);
    if (!face.empty())
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("DejaVu Sans"));
    FcPatternAddInteger(pattern, FC_WEIGHT, request.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    return pattern;
}

// Which faces may stand in for a character: monochrome ones, any, or colour ones.
enum class Color { Never, Allowed, Only };

// The best match for a pattern; with a character, only a face that has it, of the colour kind
// asked for.
bool match_pattern(FcPattern* pattern, char32_t character, Color kind, FontFile& file) {
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match)
        return false;
    FcChar8* path = nullptr;
    int index = 0;
    bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path;
    if (found && character != 0) {
        FcCharSet* charset = nullptr;
        FcBool color = FcFalse;
        FcPatternGetBool(match, FC_COLOR, 0, &color);
        found = FcPatternGetCharSet(match, FC_CHARSET, 0, &charset) == FcResultMatch && charset &&
                FcCharSetHasChar(charset, character) &&
                (kind == Color::Allowed || (kind == Color::Only) == bool(color));
    }
    if (found) {
        file.path = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch)
            file.index = index;
    }
    FcPatternDestroy(match);
    return found;
}

bool match_font(const FontRequest& request, FontFile& file) {
    std::lock_guard lock(g_mutex);
    if (!fontconfig_ready())
        return false;
    FcPattern* pattern = request_pattern(request);
    return pattern && match_pattern(pattern, 0, Color::Allowed, file);
}

// An installed face that has the character, as close to the request as fontconfig finds. For an
// emoji only a colour face; otherwise a monochrome one when there is one, else a colour one.
bool match_stand_in(const FontRequest& request, char32_t character, bool emoji, FontFile& file) {
    std::lock_guard lock(g_mutex);
    if (!fontconfig_ready())
        return false;
    const Color passes[2][2] = {{Color::Never, Color::Allowed}, {Color::Only, Color::Only}};
    for (Color kind : passes[emoji]) {
        FcPattern* pattern = request_pattern(request);
        if (!pattern)
            return false;
        if (FcCharSet* charset = FcCharSetCreate()) {
            FcCharSetAddChar(charset, character);
            FcPatternAddCharSet(pattern, FC_CHARSET, charset);
            FcCharSetDestroy(charset);
        }
        if (kind != Color::Allowed)
            FcPatternAddBool(pattern, FC_COLOR, kind == Color::Only ? FcTrue : FcFalse);
        if (match_pattern(pattern, character, kind, file))
            return true;
        if (emoji)
            break;
    }
    return false;
}

// Opens a face at the pixel height. A face of fixed bitmap sizes (colour emoji) is opened only
// when strike_scale is given: at its smallest size not below the height (else its largest),
// with the factor that scales that size to the height.
FT_Face open_file(const FontFile& file, int32_t pixel_height, double* strike_scale = nullptr) {
    FT_Library lib = library();
    if (!lib)
        return nullptr;
    std::lock_guard lock(g_mutex);
    FT_Face face = nullptr;
    if (FT_New_Face(lib, file.path.c_str(), file.index, &face) != 0)
        return nullptr;
    bool ready = false;
    if (FT_IS_SCALABLE(face)) {
        ready = FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixel_height)) == 0;
    } else if (strike_scale && FT_HAS_FIXED_SIZES(face) && face->num_fixed_sizes > 0) {
        int best = 0;
        FT_Pos want = FT_Pos(pixel_height) * 64;
        for (int i = 1; i < face->num_fixed_sizes; ++i) {
            FT_Pos size = face->available_sizes[i].y_ppem;
            FT_Pos chosen = face->available_sizes[best].y_ppem;
            bool fits = size >= want, chosen_fits = chosen >= want;
            if ((fits && (!chosen_fits || size < chosen)) ||
                (!fits && !chosen_fits && size > chosen))
                best = i;
        }
        FT_Pos ppem = face->available_sizes[best].y_ppem;
        ready = ppem > 0 && FT_Select_Size(face, best) == 0;
        if (ready)
            *strike_scale = double(want) / double(ppem);
    }
    if (!ready) {
        FT_Done_Face(face);
        return nullptr;
    }
    return face;
}

constexpr FT_Int32 load_flags = FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL;
constexpr FT_Int32 color_load_flags = FT_LOAD_DEFAULT | FT_LOAD_COLOR;

// Scales a premultiplied BGRA bitmap by the factor (at most 1) into coverage and RGB565 colour,
// each target pixel the average of the source pixels that fall into it.
void scale_color_bitmap(const FT_Bitmap& bitmap, double scale, GlyphImage& out) {
    int32_t width = std::max<int32_t>(1, int32_t(std::ceil(bitmap.width * scale)));
    int32_t rows = std::max<int32_t>(1, int32_t(std::ceil(bitmap.rows * scale)));
    std::vector<uint32_t> sums(size_t(width) * rows * 5, 0); // b, g, r, a, count
    for (unsigned y = 0; y < bitmap.rows; ++y) {
        const unsigned char* from = bitmap.buffer + static_cast<ptrdiff_t>(y) * bitmap.pitch;
        int32_t ty = std::min<int32_t>(rows - 1, int32_t(y * scale));
        for (unsigned x = 0; x < bitmap.width; ++x) {
            int32_t tx = std::min<int32_t>(width - 1, int32_t(x * scale));
            uint32_t* sum = &sums[(size_t(ty) * width + tx) * 5];
            for (int c = 0; c < 4; ++c)
                sum[c] += from[x * 4 + c];
            ++sum[4];
        }
    }
    out.width = width;
    out.rows = rows;
    out.coverage.assign(size_t(width) * rows, 0);
    out.color.assign(size_t(width) * rows, 0);
    for (size_t i = 0; i < out.coverage.size(); ++i) {
        const uint32_t* sum = &sums[i * 5];
        if (sum[4] == 0 || sum[3] == 0)
            continue;
        out.coverage[i] = uint8_t(sum[3] / sum[4]);
        // Premultiplied sums divided by the alpha sum give the colour itself.
        uint32_t b = std::min<uint32_t>(255, sum[0] * 255 / sum[3]);
        uint32_t g = std::min<uint32_t>(255, sum[1] * 255 / sum[3]);
        uint32_t r = std::min<uint32_t>(255, sum[2] * 255 / sum[3]);
        out.color[i] = uint16_t(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    }
}

// One FreeType face with its HarfBuzz font and rendered glyphs.
struct Face {
    Face(FT_Face ft_face, FontFile from, const FontRequest& request, double strike_scale = 1.0)
        : ft(ft_face), file(std::move(from)), scale(strike_scale), color(FT_HAS_COLOR(ft_face)) {
        bool embolden = request.bold && !(ft->style_flags & FT_STYLE_FLAG_BOLD) && !color;
        if (embolden) {
            // What FT_GlyphSlot_Embolden adds to each advance.
            extra_advance = FT_MulFix(ft->units_per_EM, ft->size->metrics.y_scale) / 24;
            emboldened = true;
        }
        if (request.italic && !(ft->style_flags & FT_STYLE_FLAG_ITALIC) && !color) {
            FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};
            FT_Set_Transform(ft, &shear, nullptr);
        }
        hb = hb_ft_font_create(ft, nullptr);
        hb_ft_font_set_load_flags(hb, color ? color_load_flags : load_flags);
        family = ft->family_name ? ft->family_name : "";
    }
    ~Face() {
        hb_font_destroy(hb);
        std::lock_guard lock(g_mutex);
        FT_Done_Face(ft);
    }
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    bool has(char32_t character) const { return FT_Get_Char_Index(ft, character) != 0; }

    const GlyphImage& image(uint32_t glyph) {
        auto found = images.find(glyph);
        if (found != images.end())
            return found->second;
        GlyphImage& out = images[glyph];
        if (FT_Load_Glyph(ft, glyph, color ? color_load_flags : load_flags) != 0)
            return out;
        FT_GlyphSlot slot = ft->glyph;
        if (color && slot->format == FT_GLYPH_FORMAT_BITMAP &&
            slot->bitmap.pixel_mode == FT_PIXEL_MODE_BGRA) {
            // Only ever made smaller: text larger than the bitmaps gets them at their own size.
            double factor = std::min(1.0, scale);
            scale_color_bitmap(slot->bitmap, factor, out);
            out.left = int32_t(std::lround(slot->bitmap_left * factor));
            out.top = int32_t(std::lround(slot->bitmap_top * factor));
            return out;
        }
        if (emboldened)
            FT_GlyphSlot_Embolden(slot);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
            return out;
        const FT_Bitmap& bitmap = slot->bitmap;
        bool gray = bitmap.pixel_mode == FT_PIXEL_MODE_GRAY;
        if (!gray && bitmap.pixel_mode != FT_PIXEL_MODE_MONO)
            return out;
        out.width = static_cast<int32_t>(bitmap.width);
        out.rows = static_cast<int32_t>(bitmap.rows);
        out.left = slot->bitmap_left;
        out.top = slot->bitmap_top;
        out.coverage.resize(size_t(bitmap.width) * bitmap.rows);
        for (unsigned y = 0; y < bitmap.rows; ++y) {
            const unsigned char* from = bitmap.buffer + static_cast<ptrdiff_t>(y) * bitmap.pitch;
            uint8_t* to = out.coverage.data() + size_t(y) * bitmap.width;
            if (gray) {
                std::copy(from, from + bitmap.width, to);
            } else {
                for (unsigned x = 0; x < bitmap.width; ++x)
                    to[x] = (from[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            }
        }
        return out;
    }

    FT_Face ft;
    FontFile file;
    double scale{1.0}; // from a bitmap size to the text size
    bool color{false};
    hb_font_t* hb{nullptr};
    bool emboldened{false};
    FT_Pos extra_advance{0};
    std::string family;
    std::unordered_map<uint32_t, GlyphImage> images;
};

bool is_mark(hb_unicode_funcs_t* unicode, char32_t c) {
    switch (hb_unicode_general_category(unicode, c)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
        return true;
    default:
        return false;
    }
}

// Joiners, variation selectors and emoji modifiers belong to the character before them.
bool is_attached(char32_t c) {
    return c == 0x200C || c == 0x200D || (c >= 0xFE00 && c <= 0xFE0F) ||
           (c >= 0xE0100 && c <= 0xE01EF) || (c >= 0x1F3FB && c <= 0x1F3FF) ||
           (c >= 0xE0020 && c <= 0xE007F);
}

bool is_neutral_script(hb_script_t script) {
    return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED ||
           script == HB_SCRIPT_UNKNOWN;
}

class FreeTypeFace final : public FontFace {
public:
    FreeTypeFace(std::unique_ptr<Face> primary, const FontRequest& request) : m_request(request) {
        FT_Face ft = primary->ft;
        const FT_Size_Metrics& metrics = ft->size->metrics;
        m_ascent = static_cast<int32_t>((metrics.ascender + 63) >> 6);
        m_descent = static_cast<int32_t>((-metrics.descender + 63) >> 6);
        FT_Fixed scale = metrics.y_scale;
        m_underline_position = std::max<int32_t>(
            1, static_cast<int32_t>((-FT_MulFix(ft->underline_position, scale) + 32) >> 6));
        m_underline_thickness = std::max<int32_t>(
            1, static_cast<int32_t>((FT_MulFix(ft->underline_thickness, scale) + 32) >> 6));
        m_faces.push_back(std::move(primary));
        m_buffer = hb_buffer_create();
        m_unicode = hb_unicode_funcs_get_default();
    }
    ~FreeTypeFace() override { hb_buffer_destroy(m_buffer); }

    int32_t ascent() const override { return m_ascent; }
    int32_t descent() const override { return m_descent; }
    int32_t underline_position() const override { return m_underline_position; }
    int32_t underline_thickness() const override { return m_underline_thickness; }
    std::string family(uint32_t face) const override {
        return face < m_faces.size() ? m_faces[face]->family : std::string();
    }

    void shape(std::u16string_view text, size_t begin, size_t end, bool right_to_left,
               std::vector<ShapedGlyph>& glyphs) override {
        end = std::min(end, text.size());
        if (begin >= end)
            return;
        itemize(text, begin, end);
        size_t first_glyph = glyphs.size();
        // Segments are shaped in logical order; in a right-to-left run they stand in reverse.
        m_segment_starts.clear();
        for (const Segment& segment : m_segments) {
            m_segment_starts.push_back(glyphs.size());
            shape_segment(text, segment, right_to_left, glyphs);
        }
        if (right_to_left && m_segments.size() > 1) {
            m_reordered.clear();
            for (size_t s = m_segments.size(); s-- > 0;) {
                size_t from = m_segment_starts[s];
                size_t to = s + 1 < m_segments.size() ? m_segment_starts[s + 1] : glyphs.size();
                m_reordered.insert(m_reordered.end(), glyphs.begin() + from, glyphs.begin() + to);
            }
            std::copy(m_reordered.begin(), m_reordered.end(), glyphs.begin() + first_glyph);
        }
    }

    const GlyphImage& glyph_image(uint32_t face, uint32_t glyph) override {
        static const GlyphImage none;
        return face < m_faces.size() ? m_faces[face]->image(glyph) : none;
    }

private:
    struct Segment {
        size_t begin;
        size_t end;
        uint32_t face;
        hb_script_t script;
    };

    // Splits text[begin, end) where the face or the script changes; marks and joiners stay with
    // the character they belong to, common characters take the script around them.
    void itemize(std::u16string_view text, size_t begin, size_t end) {
        m_segments.clear();
        m_chars.clear();
        for (size_t i = begin; i < end;) {
            size_t length = 1, next_length = 1;
            char32_t c = code_point_at(text.substr(0, end), i, length);
            char32_t next =
                i + length < end ? code_point_at(text.substr(0, end), i + length, next_length) : 0;
            // Emoji presentation: by default, or asked for by a variation selector.
            bool emoji = next == 0xFE0F || (next != 0xFE0E && c > 0xFF &&
                                            u_hasBinaryProperty(c, UCHAR_EMOJI_PRESENTATION));
            uint32_t previous = m_chars.empty() ? 0 : m_chars.back().face;
            uint32_t face = previous;
            bool attached = !m_chars.empty() && (is_attached(c) || is_mark(m_unicode, c));
            if (!attached || !m_faces[previous]->has(c))
                face = attached && is_attached(c) ? previous : face_for(c, emoji);
            m_chars.push_back({i, i + length, face, hb_unicode_script(m_unicode, c)});
            i += length;
        }
        // Common and inherited characters take the script before them, leading ones the first
        // script after them.
        hb_script_t current = HB_SCRIPT_COMMON;
        for (const Segment& c : m_chars)
            if (!is_neutral_script(c.script)) {
                current = c.script;
                break;
            }
        for (Segment& c : m_chars) {
            if (is_neutral_script(c.script))
                c.script = current;
            else
                current = c.script;
        }
        for (const Segment& c : m_chars) {
            if (!m_segments.empty() && m_segments.back().face == c.face &&
                m_segments.back().script == c.script)
                m_segments.back().end = c.end;
            else
                m_segments.push_back(c);
        }
    }

    void shape_segment(std::u16string_view text, const Segment& segment, bool right_to_left,
                       std::vector<ShapedGlyph>& glyphs) {
        Face& face = *m_faces[segment.face];
        hb_buffer_clear_contents(m_buffer);
        hb_buffer_add_utf16(m_buffer, reinterpret_cast<const uint16_t*>(text.data()),
                            static_cast<int>(text.size()), static_cast<unsigned>(segment.begin),
                            static_cast<int>(segment.end - segment.begin));
        hb_buffer_set_direction(m_buffer, right_to_left ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        hb_buffer_set_script(m_buffer,
                             segment.script == HB_SCRIPT_COMMON ? HB_SCRIPT_LATIN : segment.script);
        hb_buffer_set_language(m_buffer, hb_language_get_default());
        hb_shape(face.hb, m_buffer, nullptr, 0);
        unsigned count = 0;
        const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(m_buffer, &count);
        const hb_glyph_position_t* position = hb_buffer_get_glyph_positions(m_buffer, &count);
        for (unsigned g = 0; g < count; ++g) {
            ShapedGlyph out;
            out.glyph = info[g].codepoint;
            out.face = segment.face;
            FT_Pos advance = position[g].x_advance;
            if (advance != 0)
                advance += face.extra_advance;
            if (face.scale != 1.0) {
                out.advance = int32_t(std::lround(advance * face.scale / 64));
                out.x_offset = int32_t(std::lround(position[g].x_offset * face.scale / 64));
                out.y_offset = int32_t(std::lround(position[g].y_offset * face.scale / 64));
            } else {
                out.advance = static_cast<int32_t>((advance + 32) >> 6);
                out.x_offset = static_cast<int32_t>((position[g].x_offset + 32) >> 6);
                out.y_offset = static_cast<int32_t>((position[g].y_offset + 32) >> 6);
            }
            out.cluster = info[g].cluster;
            glyphs.push_back(out);
        }
    }

    // The face for a character: this one when it has it, else a stand-in found once per
    // character; the missing glyph of this face when no installed face has it. An emoji comes
    // from a colour face when one is installed.
    uint32_t face_for(char32_t c, bool emoji) {
        if (c < 0x20)
            return 0;
        if (!emoji && m_faces[0]->has(c))
            return 0;
        const char32_t key = emoji ? (c | 0x80000000u) : c;
        auto known = m_face_of.find(key);
        if (known != m_face_of.end())
            return known->second;
        uint32_t chosen = 0;
        FontFile file;
        if (match_stand_in(m_request, c, emoji, file))
            chosen = open_stand_in(file, c);
        if (emoji && chosen == 0)
            chosen = face_for(c, false);
        m_face_of.emplace(key, chosen);
        return chosen;
    }

    // The index of the face in the file (opened now if it is new) when it has the character.
    uint32_t open_stand_in(const FontFile& file, char32_t c) {
        auto open = std::find_if(m_faces.begin(), m_faces.end(),
                                 [&](const auto& face) { return face->file == file; });
        if (open != m_faces.end())
            return (*open)->has(c) ? static_cast<uint32_t>(open - m_faces.begin()) : 0;
        if (m_faces.size() >= max_faces)
            return 0;
        double scale = 1.0;
        FT_Face ft = open_file(file, m_request.pixel_height, &scale);
        if (!ft)
            return 0;
        m_faces.push_back(std::make_unique<Face>(ft, file, m_request, scale));
        return m_faces.back()->has(c) ? static_cast<uint32_t>(m_faces.size() - 1) : 0;
    }

    FontRequest m_request;
    int32_t m_ascent{0};
    int32_t m_descent{0};
    int32_t m_underline_position{1};
    int32_t m_underline_thickness{1};
    std::vector<std::unique_ptr<Face>> m_faces;
    std::unordered_map<char32_t, uint32_t> m_face_of;
    hb_buffer_t* m_buffer{nullptr};
    hb_unicode_funcs_t* m_unicode{nullptr};
    std::vector<Segment> m_chars;
    std::vector<Segment> m_segments;
    std::vector<size_t> m_segment_starts;
    std::vector<ShapedGlyph> m_reordered;
};

} // namespace

std::unique_ptr<FontFace> open_font_face(const FontRequest& request) {
    FontRequest clamped = request;
    clamped.pixel_height = std::clamp<int32_t>(request.pixel_height, 1, 2048);
    std::vector<FontFile> candidates;
    FontFile matched;
    if (match_font(clamped, matched))
        candidates.push_back(matched);
    const char* dejavu = "/usr/share/fonts/truetype/dejavu/";
    std::string style = request.bold && request.italic ? "-BoldOblique"
                        : request.bold                 ? "-Bold"
                        : request.italic               ? "-Oblique"
                                                       : "";
    candidates.push_back({std::string(dejavu) + "DejaVuSans" + style + ".ttf", 0});
    candidates.push_back({std::string(dejavu) + "DejaVuSans.ttf", 0});
    for (const FontFile& file : candidates) {
        if (FT_Face face = open_file(file, clamped.pixel_height))
            return std::make_unique<FreeTypeFace>(std::make_unique<Face>(face, file, clamped),
                                                  clamped);
    }
    return nullptr;
}

bool use_font_configuration(const std::string& fonts_conf_path) {
    std::lock_guard lock(g_mutex);
    if (!fontconfig_ready())
        return false;
    FcConfig* config = FcConfigCreate();
    if (!config)
        return false;
    if (!FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(fonts_conf_path.c_str()),
                              FcTrue) ||
        !FcConfigBuildFonts(config) || !FcConfigSetCurrent(config)) {
        FcConfigDestroy(config);
        return false;
    }
    // The library holds the current configuration.
    FcConfigDestroy(config);
    return true;
}

} // namespace platform
