#include "skin/font_rep.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/font_engine.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>

namespace skin {

namespace {

constexpr size_t max_face_length = 31;
constexpr std::u16string_view ellipsis = u"...";
// Shaped lines kept per font and direction before the cache starts again.
constexpr size_t max_cached_lines = 1024;

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
    if (m_spec.face.size() > max_face_length)
        m_spec.face.resize(max_face_length);
    m_scratch.reserve(100);
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

FontRep::Line FontRep::shaped(std::u16string_view text, Direction direction) {
    LineCache& cache = m_lines[static_cast<size_t>(direction)];
    auto found = cache.find(text);
    if (found != cache.end())
        return found->second;
    // Bounded: a full cache starts again; lines in use stay alive through their holders.
    if (cache.size() >= max_cached_lines)
        cache.clear();
    Line line = shape_line(text, direction);
    cache.emplace(std::u16string(text), line);
    return line;
}

FontRep::Line FontRep::shape_line(std::u16string_view text, Direction direction) {
    auto line = std::make_shared<ShapedLine>();
    line->text = text;
    line->direction = direction;
    const size_t n = text.size();
    bool right_to_left = false;
    platform::directional_runs(text, direction, m_runs, right_to_left);
    line->right_to_left = right_to_left;
    platform::FontFace* f = face();
    // A cut or a caret may stand where a grapheme and a shaping cluster both begin.
    m_starts.assign(n + 1, 0);
    for (const platform::DirectionalRun& run : m_runs) {
        size_t first = line->glyphs.size();
        if (f)
            f->shape(text, run.begin, run.end, run.right_to_left, line->glyphs);
        m_starts[run.begin] = 1;
        for (size_t g = first; g < line->glyphs.size(); ++g)
            if (line->glyphs[g].cluster < n)
                m_starts[line->glyphs[g].cluster] = 1;
    }
    platform::grapheme_boundaries(text, m_graphemes);
    for (size_t at : m_graphemes)
        if (at < n && m_starts[at] == 1)
            m_starts[at] = 2;
    // The clusters, and the cluster of every offset.
    std::vector<uint32_t> cluster_of(n + 1, 0);
    for (size_t at = 0; at < n; ++at) {
        if (at == 0 || m_starts[at] == 2)
            line->stops.push_back(static_cast<uint32_t>(at));
        cluster_of[at] = static_cast<uint32_t>(line->stops.size() - 1);
    }
    line->stops.push_back(static_cast<uint32_t>(n));
    const size_t count = line->stops.size() - 1;
    line->widths.assign(count, 0);
    line->lefts.assign(count, INT32_MAX);
    line->rights.assign(count, INT32_MIN);
    line->cluster_right_to_left.assign(count, 0);
    for (const platform::DirectionalRun& run : m_runs)
        for (size_t at = run.begin; at < run.end && at < n; ++at)
            line->cluster_right_to_left[cluster_of[at]] = run.right_to_left;
    int32_t pen = 0;
    for (const platform::ShapedGlyph& glyph : line->glyphs) {
        if (count > 0) {
            uint32_t k = cluster_of[std::min<size_t>(glyph.cluster, n - 1)];
            line->widths[k] += glyph.advance;
            line->lefts[k] = std::min(line->lefts[k], pen);
            line->rights[k] = std::max(line->rights[k], pen + glyph.advance);
        }
        pen += glyph.advance;
    }
    line->width = std::max<int32_t>(0, pen);
    // A cluster without glyphs sits at the edge of the one before it.
    for (size_t k = 0; k < count; ++k)
        if (line->lefts[k] > line->rights[k]) {
            int32_t at = k == 0 ? (right_to_left ? line->width : 0)
                                : (line->cluster_right_to_left[k - 1] ? line->lefts[k - 1]
                                                                      : line->rights[k - 1]);
            line->lefts[k] = line->rights[k] = at;
        }
    return line;
}

FontRep::Direction FontRep::resolved(const ShapedLine& line) {
    return line.right_to_left ? Direction::RightToLeft : Direction::LeftToRight;
}

void FontRep::character_widths(std::u16string_view text, std::vector<int32_t>& widths) {
    widths.assign(text.size(), 0);
    if (text.empty())
        return;
    Line line = shaped(text, Direction::Auto);
    for (size_t k = 0; k < line->clusters(); ++k)
        widths[line->stops[k]] = line->widths[k];
}

int32_t FontRep::text_width(std::u16string_view text) {
    return text.empty() ? 0 : shaped(text, Direction::Auto)->width;
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

void FontRep::caret_stops(std::u16string_view text, std::vector<CaretStop>& stops) {
    stops.clear();
    if (text.empty()) {
        stops.push_back({0, 0});
        return;
    }
    Line line = shaped(text, Direction::Auto);
    const size_t count = line->clusters();
    for (size_t k = 0; k < count; ++k) {
        bool rtl = line->cluster_right_to_left[k];
        stops.push_back({line->stops[k], rtl ? line->rights[k] : line->lefts[k]});
    }
    bool rtl = count > 0 && line->cluster_right_to_left[count - 1];
    int32_t end = count == 0 ? 0 : (rtl ? line->lefts[count - 1] : line->rights[count - 1]);
    stops.push_back({text.size(), end});
}

size_t FontRep::offset_at(std::u16string_view text, int32_t x) {
    thread_local std::vector<CaretStop> stops;
    caret_stops(text, stops);
    size_t best = 0;
    int32_t distance = INT32_MAX;
    for (const CaretStop& stop : stops) {
        int32_t d = std::abs(stop.x - x);
        if (d < distance) {
            distance = d;
            best = stop.offset;
        }
    }
    return best;
}

FontRep::Line FontRep::cut_with_ellipsis(std::u16string_view text, int32_t width,
                                         Direction direction) {
    Line whole = shaped(text, direction);
    Direction paragraph = resolved(*whole);
    int32_t room = width - text_width(ellipsis);
    size_t keep = 0;
    int32_t used = 0;
    while (keep < whole->clusters() && used + whole->widths[keep] <= room)
        used += whole->widths[keep++];
    while (true) {
        // Spaces before the ellipsis are dropped.
        while (keep > 0 && is_break_space(text[whole->stops[keep] - 1]))
            --keep;
        m_scratch.assign(text.substr(0, whole->stops[keep]));
        m_scratch += ellipsis;
        // The shorter text may shape wider (a final form, lost kerning): cut one more cluster.
        Line cut = shaped(m_scratch, paragraph);
        if (cut->width <= width || keep == 0)
            return cut;
        --keep;
    }
}

FontRep::Line FontRep::fit_with_ellipsis(std::u16string_view text, int32_t width,
                                         Direction direction) {
    Line line = shaped(text, direction);
    if (line->width <= width)
        return line;
    return cut_with_ellipsis(text, width, direction);
}

std::u16string FontRep::fitted_line(std::u16string_view text, int32_t width) {
    thread_local std::vector<Line> lines;
    layout(text, width, m_line_height, false, lines);
    return lines.empty() ? std::u16string() : lines.front()->text;
}

void FontRep::wrap_paragraph(std::u16string_view paragraph, int32_t width,
                             std::vector<Line>& lines) {
    Line whole = shaped(paragraph, Direction::Auto);
    Direction direction = resolved(*whole);
    const size_t n = paragraph.size();
    // Each cluster's width on its first code unit; every break is a cluster boundary.
    std::vector<int32_t>& widths = m_widths;
    widths.assign(n, 0);
    for (size_t k = 0; k < whole->clusters(); ++k)
        widths[whole->stops[k]] = whole->widths[k];
    platform::line_breaks(paragraph, m_breaks);
    size_t pos = 0, next_break = 0;
    do {
        // Greedy: words (up to the next break, less their trailing spaces) while they fit; a
        // first word wider than the line is cut.
        int32_t used = 0, pending = 0;
        size_t fit_end = pos, i = pos;
        bool cut = false;
        while (i < n) {
            while (m_breaks[next_break] <= i)
                ++next_break;
            size_t segment_end = m_breaks[next_break];
            size_t word_end = segment_end;
            while (word_end > i && is_break_space(paragraph[word_end - 1]))
                --word_end;
            int32_t word = 0;
            for (size_t k = i; k < word_end; ++k)
                word += widths[k];
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
            for (i = word_end; i < segment_end; ++i)
                pending += widths[i];
        }
        std::u16string_view piece = paragraph.substr(pos, fit_end - pos);
        lines.push_back(cut ? cut_with_ellipsis(piece, width, direction)
                            : shaped(piece, direction));
        pos = std::max(fit_end, pos + 1);
        while (pos < n && is_break_space(paragraph[pos]))
            ++pos;
    } while (pos < n);
}

void FontRep::layout(std::u16string_view text, int32_t width, int32_t height, bool wrap,
                     std::vector<Line>& lines) {
    lines.clear();
    if (!wrap) {
        if (text.find_first_of(u"\r\n") == std::u16string_view::npos) {
            lines.push_back(fit_with_ellipsis(text, width, Direction::Auto));
            return;
        }
        std::u16string single(text);
        std::replace(single.begin(), single.end(), u'\n', u' ');
        std::replace(single.begin(), single.end(), u'\r', u' ');
        lines.push_back(fit_with_ellipsis(single, width, Direction::Auto));
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
        const std::u16string& text_of_last = last->text;
        if (text_of_last.size() < ellipsis.size() ||
            text_of_last.compare(text_of_last.size() - ellipsis.size(), ellipsis.size(),
                                 ellipsis) != 0) {
            Line keep = last;
            last = cut_with_ellipsis(keep->text, width, keep->direction);
        }
    }
}

void FontRep::draw_line(Surface& out, const Rect& clip, const ShapedLine& line, int32_t x,
                        int32_t top, uint16_t color) {
    platform::FontFace* f = face();
    if (!f)
        return;
    int32_t baseline = top + (m_face ? m_ascent : f->ascent());
    int32_t pen = x;
    for (const platform::ShapedGlyph& shaped_glyph : line.glyphs) {
        const platform::GlyphImage& glyph = f->glyph_image(shaped_glyph.face, shaped_glyph.glyph);
        int32_t gx = pen + shaped_glyph.x_offset + glyph.left;
        int32_t gy = baseline - shaped_glyph.y_offset - glyph.top;
        pen += shaped_glyph.advance;
        if (glyph.width == 0 || gx >= clip.right || gy >= clip.bottom ||
            gx + glyph.width <= clip.left || gy + glyph.rows <= clip.top)
            continue;
        int32_t x0 = std::max(gx, clip.left), x1 = std::min(gx + glyph.width, clip.right);
        int32_t y0 = std::max(gy, clip.top), y1 = std::min(gy + glyph.rows, clip.bottom);
        const bool own_colors = !glyph.color.empty();
        for (int32_t y = y0; y < y1; ++y) {
            size_t start = size_t(y - gy) * glyph.width;
            const uint8_t* coverage = glyph.coverage.data() + start;
            const uint16_t* colors = own_colors ? glyph.color.data() + start : nullptr;
            uint16_t* row = out.row(y);
            for (int32_t px = x0; px < x1; ++px) {
                unsigned c = coverage[px - gx];
                if (c)
                    row[px] = blend_565(row[px], own_colors ? colors[px - gx] : color, c);
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
            left = x + (width - line->width) / 2;
        else if (halign == HAlign::Right)
            left = x + width - line->width;
        if (top < clip.bottom && top + m_line_height > clip.top)
            draw_line(*target.surface(), clip, *line, left, top, c565);
        top += m_line_height;
    }
}

} // namespace skin
