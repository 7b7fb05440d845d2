#include "skin/font_rep.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/font_engine.h"

#include <algorithm>
#include <chrono>

namespace skin {

namespace {

constexpr size_t max_face_length = 31;
constexpr std::u16string_view ellipsis = u"...";

FontRep::FaceOpener& face_opener() {
    static FontRep::FaceOpener opener;
    return opener;
}

int32_t g_screen_dpi = 96;

std::unique_ptr<platform::FontFace> open_face(const platform::FontRequest& request) {
    if (face_opener())
        return face_opener()(request);
    return platform::open_font_face(request);
}

// Stands in for the platform's current font when a FontRep has none of its own.
platform::FontFace* fallback_face() {
    static std::unique_ptr<platform::FontFace> face =
        platform::open_font_face(platform::FontRequest{"DejaVu Sans", 16, false, false});
    return face.get();
}

inline uint16_t blend_565(uint16_t target, uint16_t color, unsigned coverage) {
    if (coverage >= 255)
        return color;
    unsigned a = coverage + (coverage >> 7);
    int tr = target >> 11, tg = (target >> 5) & 0x3F, tb = target & 0x1F;
    int cr = color >> 11, cg = (color >> 5) & 0x3F, cb = color & 0x1F;
    int r = tr + (((cr - tr) * static_cast<int>(a)) >> 8);
    int g = tg + (((cg - tg) * static_cast<int>(a)) >> 8);
    int b = tb + (((cb - tb) * static_cast<int>(a)) >> 8);
    return static_cast<uint16_t>((r << 11) | (g << 5) | b);
}

bool is_break_space(char16_t c) {
    return c == u' ' || c == u'\t';
}

} // namespace

HAlign halign_from_name(std::u16string_view name) {
    if (name == u"CENTER")
        return HAlign::Center;
    if (name == u"RIGHT")
        return HAlign::Right;
    if (name == u"JUSTIFY")
        return HAlign::Justify;
    return HAlign::Left;
}

VAlign valign_from_name(std::u16string_view name) {
    if (name == u"VCENTER")
        return VAlign::VCenter;
    if (name == u"BOTTOM")
        return VAlign::Bottom;
    return VAlign::Top;
}

void FontRep::set_face_opener_for_testing(FaceOpener opener) {
    face_opener() = std::move(opener);
}

void FontRep::set_screen_dpi(int32_t dpi) {
    g_screen_dpi = dpi;
}

std::shared_ptr<FontRep> FontRep::default_font() {
    static std::shared_ptr<FontRep> font = std::make_shared<FontRep>(FontSpec{});
    return font;
}

FontRep::FontRep(const FontSpec& spec) : m_spec(spec) {
    m_narrow_widths.fill(-1);
    if (m_spec.face.size() > max_face_length)
        m_spec.face.resize(max_face_length);
    m_missing.reserve(100);
    m_missing_positions.reserve(100);
    m_missing_widths.reserve(100);
    m_widths.reserve(100);
    if (m_spec.size == 0)
        return;
    auto started = std::chrono::steady_clock::now();
    int32_t height = m_spec.log_font_height();
    foundation::log() << "dpiy=" << g_screen_dpi << " log_font.lfHeight=" << height << "\n";
    platform::FontRequest request;
    request.face = foundation::to_utf8(m_spec.face);
    request.pixel_height = height < 0 ? -height : height;
    request.bold = m_spec.bold;
    request.italic = m_spec.italic;
    if (request.pixel_height > 0)
        m_face = open_face(request);
    if (!m_face)
        foundation::log() << "ERROR: FontRep::FontRep() Failed to create font\n";
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    foundation::log() << "Creating font: {" << m_spec.face << "} elapsed=" << elapsed << "\n";
    if (m_face) {
        m_ascent = m_face->ascent();
        m_descent = m_face->descent();
        m_line_height = m_ascent + m_descent;
    }
}

FontRep::~FontRep() = default;

platform::FontFace* FontRep::face() const {
    return m_face ? m_face.get() : fallback_face();
}

int32_t FontRep::cached_width(char16_t c) const {
    if (c < 256)
        return m_narrow_widths[c];
    auto found = m_wide_widths.find(c);
    return found == m_wide_widths.end() ? -1 : found->second;
}

void FontRep::store_width(char16_t c, int32_t width) {
    if (c < 256)
        m_narrow_widths[c] = width;
    else
        m_wide_widths[c] = width;
}

void FontRep::character_widths(std::u16string_view text, std::vector<int32_t>& widths) {
    widths.resize(text.size());
    m_missing.clear();
    m_missing_positions.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        int32_t width = cached_width(text[i]);
        widths[i] = width;
        if (width >= 0)
            continue;
        // A character missing twice in one text is measured once.
        if (m_missing.find(text[i]) == std::u16string::npos)
            m_missing.push_back(text[i]);
        m_missing_positions.push_back(i);
    }
    if (m_missing.empty())
        return;
    m_missing_widths.assign(m_missing.size(), 0);
    if (platform::FontFace* f = face())
        f->advances(m_missing, m_missing_widths.data());
    for (size_t k = 0; k < m_missing.size(); ++k)
        store_width(m_missing[k], std::max<int32_t>(0, m_missing_widths[k]));
    for (size_t position : m_missing_positions)
        widths[position] = cached_width(text[position]);
}

int32_t FontRep::text_width(std::u16string_view text) {
    character_widths(text, m_widths);
    int32_t total = 0;
    for (int32_t width : m_widths)
        total += width;
    return total;
}

FontRep::Extent FontRep::measure(std::u16string_view text) {
    if (text.empty())
        return Extent{0, m_line_height};
    Extent extent;
    size_t start = 0;
    while (true) {
        size_t end = text.find(u'\n', start);
        std::u16string_view line = text.substr(
            start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
        if (!line.empty() && line.back() == u'\r')
            line.remove_suffix(1);
        extent.width = std::max(extent.width, text_width(line));
        extent.height += m_line_height;
        if (end == std::u16string_view::npos)
            break;
        start = end + 1;
    }
    return extent;
}

FontRep::Line FontRep::cut_with_ellipsis(std::u16string_view text, int32_t width) {
    int32_t room = width - text_width(ellipsis);
    character_widths(text, m_widths);
    size_t keep = 0;
    int32_t used = 0;
    while (keep < text.size() && used + m_widths[keep] <= room)
        used += m_widths[keep++];
    // Spaces before the ellipsis are dropped.
    while (keep > 0 && is_break_space(text[keep - 1]))
        --keep;
    std::u16string cut(text.substr(0, keep));
    cut += ellipsis;
    return Line{cut, text_width(cut)};
}

FontRep::Line FontRep::fit_with_ellipsis(std::u16string_view text, int32_t width) {
    int32_t full = text_width(text);
    if (full <= width)
        return Line{std::u16string(text), full};
    return cut_with_ellipsis(text, width);
}

void FontRep::wrap_paragraph(std::u16string_view paragraph, int32_t width,
                             std::vector<Line>& lines) {
    character_widths(paragraph, m_widths);
    std::vector<int32_t> widths = m_widths;
    const size_t n = paragraph.size();
    size_t pos = 0;
    do {
        // Greedy: words while they fit; a first word wider than the line is cut.
        int32_t used = 0, pending = 0;
        size_t fit_end = pos, i = pos;
        bool cut = false;
        while (i < n) {
            size_t word_end = i;
            int32_t word = 0;
            while (word_end < n && !is_break_space(paragraph[word_end]))
                word += widths[word_end++];
            if (fit_end == pos) {
                if (word > width) {
                    fit_end = word_end;
                    cut = true;
                    break;
                }
            } else if (used + pending + word > width) {
                break;
            }
            used += pending + word;
            fit_end = word_end;
            pending = 0;
            i = word_end;
            while (i < n && is_break_space(paragraph[i]))
                pending += widths[i++];
        }
        std::u16string_view piece = paragraph.substr(pos, fit_end - pos);
        lines.push_back(cut ? cut_with_ellipsis(piece, width) : Line{std::u16string(piece), used});
        pos = std::max(fit_end, pos + 1);
        while (pos < n && is_break_space(paragraph[pos]))
            ++pos;
    } while (pos < n);
}

void FontRep::layout(std::u16string_view text, int32_t width, int32_t height, bool wrap,
                     std::vector<Line>& lines) {
    lines.clear();
    if (!wrap) {
        std::u16string single(text);
        std::replace(single.begin(), single.end(), u'\n', u' ');
        std::replace(single.begin(), single.end(), u'\r', u' ');
        lines.push_back(fit_with_ellipsis(single, width));
        return;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos)
            end = text.size();
        std::u16string_view paragraph = text.substr(start, end - start);
        if (!paragraph.empty() && paragraph.back() == u'\r')
            paragraph.remove_suffix(1);
        wrap_paragraph(paragraph, width, lines);
        start = end + 1;
    }
    size_t fitting =
        static_cast<size_t>(std::max<int32_t>(1, height / std::max<int32_t>(1, m_line_height)));
    if (lines.size() > fitting) {
        lines.resize(fitting);
        Line& last = lines.back();
        if (last.text.size() < ellipsis.size() ||
            last.text.compare(last.text.size() - ellipsis.size(), ellipsis.size(), ellipsis) != 0)
            last = cut_with_ellipsis(last.text, width);
    }
}

void FontRep::draw_line(Surface& out, const Rect& clip, const Line& line, int32_t x, int32_t top,
                        uint16_t color) {
    platform::FontFace* f = face();
    if (!f)
        return;
    int32_t baseline = top + (m_face ? m_ascent : f->ascent());
    character_widths(line.text, m_widths);
    int32_t pen = x;
    for (size_t i = 0; i < line.text.size(); ++i) {
        const platform::GlyphImage& glyph = f->glyph(line.text[i]);
        int32_t gx = pen + glyph.left;
        int32_t gy = baseline - glyph.top;
        pen += m_widths[i];
        if (glyph.width == 0 || gx >= clip.right || gy >= clip.bottom ||
            gx + glyph.width <= clip.left || gy + glyph.rows <= clip.top)
            continue;
        int32_t x0 = std::max(gx, clip.left), x1 = std::min(gx + glyph.width, clip.right);
        int32_t y0 = std::max(gy, clip.top), y1 = std::min(gy + glyph.rows, clip.bottom);
        for (int32_t y = y0; y < y1; ++y) {
            const uint8_t* coverage = glyph.coverage.data() + size_t(y - gy) * glyph.width;
            uint16_t* row = out.row(y);
            for (int32_t px = x0; px < x1; ++px) {
                unsigned c = coverage[px - gx];
                if (c)
                    row[px] = blend_565(row[px], color, c);
            }
        }
    }
    if (m_spec.underline && m_face) {
        int32_t y0 = std::max(baseline + f->underline_position(), clip.top);
        int32_t y1 =
            std::min(baseline + f->underline_position() + f->underline_thickness(), clip.bottom);
        int32_t x0 = std::max(x, clip.left), x1 = std::min(pen, clip.right);
        for (int32_t y = y0; y < y1; ++y)
            std::fill(out.row(y) + x0, out.row(y) + std::max(x0, x1), color);
    }
}

void FontRep::draw_text(RenderSurface& target, SkinColor color, std::u16string_view text, int32_t x,
                        int32_t y, int32_t width, int32_t height, HAlign halign, VAlign valign,
                        bool wrap) {
    if (text.empty() || !target.surface())
        return;
    Rect clip = Rect::of_size(x, y, width, height)
                    .intersect(target.clip())
                    .intersect(Rect{0, 0, target.width(), target.height()});
    if (clip.empty())
        return;
    thread_local std::vector<Line> lines;
    layout(text, width, height, wrap, lines);
    int32_t top = y;
    if (!wrap) {
        if (valign == VAlign::VCenter)
            top = y + (height - m_line_height) / 2;
        else if (valign == VAlign::Bottom)
            top = y + height - m_line_height;
    }
    uint16_t c565 = color.to_565();
    for (const Line& line : lines) {
        int32_t left = x;
        if (halign == HAlign::Center)
            left = x + (width - line.width) / 2;
        else if (halign == HAlign::Right)
            left = x + width - line.width;
        if (top < clip.bottom && top + m_line_height > clip.top)
            draw_line(*target.surface(), clip, line, left, top, c565);
        top += m_line_height;
    }
}

} // namespace skin
