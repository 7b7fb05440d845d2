#include "platform/font_engine.h"
#include "skin/font_rep.h"
#include "skin/text_golden.h"
#include "support/test_fonts.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

using namespace skin;

namespace {

// Counts the shaping requests that reach the font engine.
class CountingFace : public platform::FontFace {
public:
    CountingFace(std::unique_ptr<platform::FontFace> real, int& calls)
        : m_real(std::move(real)), m_calls(calls) {}
    int32_t ascent() const override { return m_real->ascent(); }
    int32_t descent() const override { return m_real->descent(); }
    int32_t underline_position() const override { return m_real->underline_position(); }
    int32_t underline_thickness() const override { return m_real->underline_thickness(); }
    void shape(std::u16string_view text, size_t begin, size_t end, bool right_to_left,
               std::vector<platform::ShapedGlyph>& glyphs) override {
        ++m_calls;
        m_real->shape(text, begin, end, right_to_left, glyphs);
    }
    const platform::GlyphImage& glyph_image(uint32_t face, uint32_t glyph) override {
        return m_real->glyph_image(face, glyph);
    }
    std::string family(uint32_t face) const override { return m_real->family(face); }

private:
    std::unique_ptr<platform::FontFace> m_real;
    int& m_calls;
};

class Text : public ::testing::Test {
protected:
    void SetUp() override {
        // The same fonts on every machine, whatever else is installed.
        ASSERT_EQ(testing_support::use_test_fonts(), "");
        FontRep::set_face_opener_for_testing([this](const platform::FontRequest& request) {
            requests.push_back(request);
            auto real = platform::open_font_face(request);
            return real ? std::make_unique<CountingFace>(std::move(real), calls) : nullptr;
        });
    }
    void TearDown() override { FontRep::set_face_opener_for_testing({}); }

    static FontSpec spec(int size, std::u16string face = u"DejaVu Sans") {
        FontSpec s;
        s.size = size;
        s.face = std::move(face);
        return s;
    }

    int calls = 0;
    std::vector<platform::FontRequest> requests;
};

// Where a non-background pixel occurs in a surface.
Rect ink(const RenderSurface& s, uint16_t background) {
    Rect r{s.width(), s.height(), -1, -1};
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x)
            if (s.surface()->pixel(x, y) != background) {
                r.left = std::min(r.left, x);
                r.top = std::min(r.top, y);
                r.right = std::max(r.right, x + 1);
                r.bottom = std::max(r.bottom, y + 1);
            }
    return r;
}

} // namespace

TEST_F(Text, FontRequestFollowsTheSpecification) {
    FontSpec s = spec(12);
    s.scale = 2;
    s.bold = true;
    FontRep bold(s);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].pixel_height, 32);
    EXPECT_TRUE(requests[0].bold);
    EXPECT_FALSE(requests[0].italic);
    EXPECT_TRUE(bold.has_font());
    EXPECT_EQ(bold.line_height(), 38); // ascent + descent of DejaVu Sans at 32 pixels
    EXPECT_GT(bold.descent(), 0);

    FontRep long_face(spec(9, u"A face name that is longer than thirty-one characters"));
    EXPECT_EQ(long_face.spec().face.size(), 31u);
    EXPECT_EQ(requests.back().pixel_height, 12);

    FontRep zero(spec(0));
    EXPECT_EQ(requests.size(), 2u); // size 0 makes no font
    EXPECT_FALSE(zero.has_font());
    EXPECT_EQ(zero.line_height(), 20);
    EXPECT_EQ(zero.descent(), 0);

    // "Tahoma" resolves to an installed face.
    FontRep tahoma(spec(12, u"Tahoma"));
    EXPECT_TRUE(tahoma.has_font());
    EXPECT_GT(tahoma.text_width(u"Tahoma"), 0);
}

TEST_F(Text, WidthsAreCachedPerText) {
    FontRep font(spec(12));
    calls = 0;
    auto first = font.measure(u"Record 12");
    EXPECT_EQ(calls, 1);
    auto second = font.measure(u"Record 12");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(first, second);
    RenderSurface target;
    target.recreate(200, 30);
    font.draw_text(target, SkinColor{255, 255, 255}, u"Record 12", 0, 0, 200, 30, HAlign::Left,
                   VAlign::Top, false);
    EXPECT_EQ(calls, 1); // drawing reuses what measuring shaped
    font.measure(u"xyz");
    EXPECT_EQ(calls, 2);

    std::vector<int32_t> widths;
    font.character_widths(u"iiWW", widths);
    ASSERT_EQ(widths.size(), 4u);
    EXPECT_EQ(widths[0], widths[1]);
    EXPECT_GT(widths[2], widths[0]);
    EXPECT_EQ(font.text_width(u"iiWW"), 2 * widths[0] + 2 * widths[2]);
    EXPECT_EQ(first.width, font.text_width(u"Record 12"));
    EXPECT_EQ(first.height, font.line_height());
}

TEST_F(Text, MeasuresLinesAndEmptyText) {
    FontRep font(spec(12));
    EXPECT_EQ(font.measure(u"").width, 0);
    auto two = font.measure(u"short\nlonger line");
    EXPECT_EQ(two.width, font.text_width(u"longer line"));
    EXPECT_EQ(two.height, 2 * font.line_height());
}

TEST_F(Text, AlignsInItsBox) {
    FontRep font(spec(12));
    RenderSurface target;
    target.recreate(200, 60);
    auto box = [&](HAlign h, VAlign v) {
        target.fill(Rect{0, 0, 200, 60}, Blend::fill(0));
        font.draw_text(target, SkinColor{255, 255, 255}, u"Mid", 20, 10, 160, 40, h, v, false);
        return ink(target, 0);
    };
    Rect left = box(HAlign::Left, VAlign::Top);
    Rect center = box(HAlign::Center, VAlign::VCenter);
    Rect right = box(HAlign::Right, VAlign::Bottom);
    Rect justify = box(HAlign::Justify, VAlign::Top);
    int w = font.text_width(u"Mid");
    EXPECT_NEAR(left.left, 20, 2);
    EXPECT_NEAR(right.right, 180, 2);
    EXPECT_NEAR(center.left, 20 + (160 - w) / 2, 2);
    EXPECT_EQ(justify, left);
    EXPECT_LT(left.top, center.top);
    EXPECT_LT(center.top, right.top);
    EXPECT_LE(right.bottom, 50);
    EXPECT_GE(left.top, 10);

    target.fill(Rect{0, 0, 200, 60}, Blend::fill(0));
    font.draw_text(target, SkinColor{255, 255, 255}, u"", 0, 0, 200, 60, HAlign::Left, VAlign::Top,
                   false);
    EXPECT_EQ(ink(target, 0).right, -1);
}

TEST_F(Text, CutsWithAnEllipsisAndStaysInsideTheBox) {
    FontRep font(spec(12));
    RenderSurface target;
    target.recreate(200, 80);
    target.fill(Rect{0, 0, 200, 80}, Blend::fill(0));
    const std::u16string long_text = u"A rather long line of text that cannot fit";
    font.draw_text(target, SkinColor{255, 255, 255}, long_text, 10, 5, 100, 20, HAlign::Left,
                   VAlign::Top, false);
    Rect drawn = ink(target, 0);
    EXPECT_GE(drawn.left, 10);
    EXPECT_LE(drawn.right, 110);
    EXPECT_GE(drawn.top, 5);
    EXPECT_LE(drawn.bottom, 25);
    // The ellipsis is drawn: three dots at the right end of the box.
    EXPECT_GT(drawn.right, 110 - font.text_width(u"...") - 6);

    // Wrapped: several lines, the last visible one ends in an ellipsis.
    target.fill(Rect{0, 0, 200, 80}, Blend::fill(0));
    int lh = font.line_height();
    font.draw_text(target, SkinColor{255, 255, 255}, long_text, 0, 0, 120, 2 * lh, HAlign::Left,
                   VAlign::Top, true);
    Rect wrapped = ink(target, 0);
    EXPECT_GT(wrapped.bottom, lh);
    EXPECT_LE(wrapped.bottom, 2 * lh);
    EXPECT_LE(wrapped.right, 120);

    // Clipped by the target's clip.
    target.fill(Rect{0, 0, 200, 80}, Blend::fill(0));
    {
        ClipScope clip(target, 0, 0, 30, 80);
        font.draw_text(target, SkinColor{255, 255, 255}, u"WWWWWW", 0, 0, 200, 80, HAlign::Left,
                       VAlign::Top, false);
    }
    EXPECT_LE(ink(target, 0).right, 30);
}

TEST_F(Text, GoldenImages) {
    RenderSurface target;
    target.recreate(160, 64);
    target.fill(Rect{0, 0, 160, 64}, Blend::fill(SkinColor{20, 40, 80}.to_565()));
    FontSpec bold = spec(10);
    bold.bold = true;
    bold.underline = true;
    FontRep title(bold);
    title.draw_text(target, SkinColor{255, 220, 120}, u"Quillory", 0, 0, 160, 24, HAlign::Center,
                    VAlign::VCenter, false);
    FontSpec italic = spec(8);
    italic.italic = true;
    FontRep body(italic);
    body.draw_text(target, SkinColor{200, 230, 255}, u"Wrapped words in a box that ends here", 4,
                   24, 152, 40, HAlign::Right, VAlign::Top, true);
    text_golden::expect_golden(target, "text_golden");
}
