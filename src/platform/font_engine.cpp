#include "platform/font_engine.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

std::mutex g_mutex;
FT_Library g_library = nullptr;
bool g_fontconfig_ready = false;

FT_Library library() {
    std::lock_guard lock(g_mutex);
    if (!g_library && FT_Init_FreeType(&g_library) != 0)
        g_library = nullptr;
    return g_library;
}

struct FontFile {
    std::string path;
    int index{0};
};

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool match_font(const FontRequest& request, FontFile& file) {
    std::lock_guard lock(g_mutex);
    if (!g_fontconfig_ready) {
        g_fontconfig_ready = FcInit() == FcTrue;
        // Releases the configuration FcInit loaded; every pattern here is freed at once.
        if (g_fontconfig_ready)
            std::atexit(FcFini);
    }
    if (!g_fontconfig_ready)
        return false;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return false;
    std::string face = trimmed(request.face);
    if (!face.empty())
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("DejaVu Sans"));
    FcPatternAddInteger(pattern, FC_WEIGHT, request.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
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
    if (found) {
        file.path = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch)
            file.index = index;
    }
    FcPatternDestroy(match);
    return found;
}

class FreeTypeFace final : public FontFace {
public:
    FreeTypeFace(FT_Face face, const FontRequest& request) : m_face(face) {
        m_embolden = request.bold && !(face->style_flags & FT_STYLE_FLAG_BOLD);
        m_oblique = request.italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);
        if (m_oblique) {
            FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};
            FT_Set_Transform(m_face, &shear, nullptr);
        }
        const FT_Size_Metrics& metrics = m_face->size->metrics;
        m_ascent = static_cast<int32_t>((metrics.ascender + 63) >> 6);
        m_descent = static_cast<int32_t>((-metrics.descender + 63) >> 6);
        if (FT_IS_SCALABLE(m_face)) {
            FT_Fixed scale = metrics.y_scale;
            m_underline_position = std::max<int32_t>(
                1, static_cast<int32_t>((-FT_MulFix(m_face->underline_position, scale) + 32) >> 6));
            m_underline_thickness = std::max<int32_t>(
                1, static_cast<int32_t>((FT_MulFix(m_face->underline_thickness, scale) + 32) >> 6));
        }
        m_family = face->family_name ? face->family_name : "";
    }
    ~FreeTypeFace() override {
        std::lock_guard lock(g_mutex);
        FT_Done_Face(m_face);
    }

    int32_t ascent() const override { return m_ascent; }
    int32_t descent() const override { return m_descent; }
    int32_t underline_position() const override { return m_underline_position; }
    int32_t underline_thickness() const override { return m_underline_thickness; }
    std::string family() const override { return m_family; }

    void advances(std::u16string_view text, int32_t* widths) override {
        for (size_t i = 0; i < text.size(); ++i)
            widths[i] = render(text[i]).advance;
    }

    const GlyphImage& glyph(char16_t code) override { return render(code).image; }

private:
    struct Entry {
        GlyphImage image;
        int32_t advance{0};
    };

    const Entry& render(char16_t code) {
        auto found = m_glyphs.find(code);
        if (found != m_glyphs.end())
            return found->second;
        Entry& entry = m_glyphs[code];
        FT_UInt index = FT_Get_Char_Index(m_face, code);
        if (FT_Load_Glyph(m_face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL) != 0)
            return entry;
        FT_GlyphSlot slot = m_face->glyph;
        if (m_embolden)
            FT_GlyphSlot_Embolden(slot);
        entry.advance = static_cast<int32_t>((slot->advance.x + 32) >> 6);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
            return entry;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY)
            return entry;
        entry.image.width = static_cast<int32_t>(bitmap.width);
        entry.image.rows = static_cast<int32_t>(bitmap.rows);
        entry.image.left = slot->bitmap_left;
        entry.image.top = slot->bitmap_top;
        entry.image.coverage.resize(size_t(bitmap.width) * bitmap.rows);
        for (unsigned y = 0; y < bitmap.rows; ++y) {
            const unsigned char* from = bitmap.buffer + static_cast<ptrdiff_t>(y) * bitmap.pitch;
            std::copy(from, from + bitmap.width, entry.image.coverage.begin() + y * bitmap.width);
        }
        return entry;
    }

    FT_Face m_face;
    bool m_embolden{false};
    bool m_oblique{false};
    int32_t m_ascent{0};
    int32_t m_descent{0};
    int32_t m_underline_position{1};
    int32_t m_underline_thickness{1};
    std::string m_family;
    std::unordered_map<char16_t, Entry> m_glyphs;
};

FT_Face open_file(const FontFile& file, int32_t pixel_height) {
    FT_Library lib = library();
    if (!lib)
        return nullptr;
    std::lock_guard lock(g_mutex);
    FT_Face face = nullptr;
    if (FT_New_Face(lib, file.path.c_str(), file.index, &face) != 0)
        return nullptr;
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixel_height)) != 0) {
        FT_Done_Face(face);
        return nullptr;
    }
    return face;
}

} // namespace

std::unique_ptr<FontFace> open_font_face(const FontRequest& request) {
    int32_t pixel_height = std::clamp<int32_t>(request.pixel_height, 1, 2048);
    std::vector<FontFile> candidates;
    FontFile matched;
    if (match_font(request, matched))
        candidates.push_back(matched);
    const char* dejavu = "/usr/share/fonts/truetype/dejavu/";
    std::string style = request.bold && request.italic ? "-BoldOblique"
                        : request.bold                 ? "-Bold"
                        : request.italic               ? "-Oblique"
                                                       : "";
    candidates.push_back({std::string(dejavu) + "DejaVuSans" + style + ".ttf", 0});
    candidates.push_back({std::string(dejavu) + "DejaVuSans.ttf", 0});
    for (const FontFile& file : candidates) {
        if (FT_Face face = open_file(file, pixel_height))
            return std::make_unique<FreeTypeFace>(face, request);
    }
    return nullptr;
}

} // namespace platform
