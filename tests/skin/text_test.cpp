#include "forms_fixture.h"
#include "platform/font_engine.h"
#include "skin/font_rep.h"
#include "support/golden_png.h"
#include "support/test_fonts.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>

using namespace skin;

namespace {

class Text : public ::testing::Test {
protected:
    void SetUp() override {
        // The same fonts on every machine, whatever else is installed.
        ASSERT_EQ(testing_support::use_test_fonts(), "");
        FontRep::set_face_opener_for_testing([this](const platform::FontRequest& request) {
            requests.push_back(request);
            return platform::open_font_face(request);
        });
    }
    void TearDown() override { FontRep::set_face_opener_for_testing({}); }

    static FontSpec spec(int size, std::u16string face = dejavu) {
        return FontSpec{.size = size, .scale = {}, .face = std::move(face)};
    }
    static inline const std::u16string dejavu = u"DejaVu Sans";

    std::vector<platform::FontRequest> requests;
};

const std::u16string_view ellipsis = u"...";

} // namespace

TEST_F(Text, FontFollowsTheSpecificationMeasuresAndCuts) {
    FontRep bold(FontSpec{.size = 12, .scale = Scale::whole(2), .bold = true, .face = dejavu});
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(std::tuple(requests[0].pixel_height, requests[0].bold, requests[0].italic),
              std::tuple(32, true, false));
    EXPECT_TRUE(bold.has_font());
    EXPECT_EQ(bold.line_height(), 38); // ascent + descent of DejaVu Sans at 32 pixels
    EXPECT_GT(bold.descent(), 0);

    FontRep long_face(spec(9, u"A face name that is longer than thirty-one characters"));
    EXPECT_TRUE(long_face.spec().face.size() == 31 && requests.back().pixel_height == 12);

    FontRep zero(spec(0));
    EXPECT_EQ(requests.size(), 2u); // size 0 makes no font
    EXPECT_EQ(std::tuple(zero.has_font(), zero.line_height(), zero.descent()),
              std::tuple(false, 20, 0));

    FontRep tahoma(spec(12, u"Tahoma"));
    EXPECT_TRUE(tahoma.has_font() && tahoma.text_width(u"Tahoma") > 0);

    FontRep font(spec(12));
    std::vector<int32_t> widths;
    font.character_widths(u"iiWW", widths);
    ASSERT_EQ(widths.size(), 4u);
    EXPECT_TRUE(widths[0] == widths[1] && widths[2] == widths[3] && widths[2] > widths[0]);
    EXPECT_EQ(font.text_width(u"iiWW"), 2 * widths[0] + 2 * widths[2]);
    EXPECT_EQ(font.measure(u"").width, 0);
    auto two = font.measure(u"short\nlonger line");
    EXPECT_EQ(std::tuple(two.width, two.height),
              std::tuple(font.text_width(u"longer line"), 2 * font.line_height()));

    // A cut line ends in an ellipsis and stays inside its box.
    RenderSurface target;
    target.recreate(200, 80);
    // Where text drawn on black in the box lands, the target clipped to clip_width.
    const auto ink_of = [&](std::u16string_view text, int32_t x, int32_t y, int32_t w, int32_t h,
                            bool wrap, int32_t clip_width = 200) {
        target.fill(Rect{0, 0, 200, 80}, Blend::fill(0));
        ClipScope clip(target, 0, 0, clip_width, 80);
        font.draw_text(target, SkinColor{255, 255, 255}, text, x, y, w, h, HAlign::Left,
                       VAlign::Top, wrap);
        return forms_test::ink(target, 0);
    };
    const std::u16string long_text = u"A rather long line of text that cannot fit";
    Rect drawn = ink_of(long_text, 10, 5, 100, 20, false);
    EXPECT_TRUE(drawn.left >= 10 && drawn.right <= 110 && drawn.top >= 5 && drawn.bottom <= 25);
    EXPECT_GT(drawn.right, 110 - font.text_width(u"...") - 6);
    // Wrapped: the lines that fit, inside the box.
    const int lh = font.line_height();
    Rect wrapped = ink_of(long_text, 0, 0, 120, 2 * lh, true);
    EXPECT_TRUE(wrapped.bottom > lh && wrapped.bottom <= 2 * lh && wrapped.right <= 120);
    EXPECT_LE(ink_of(u"WWWWWW", 0, 0, 200, 80, false, 30).right, 30);
}

TEST_F(Text, CutsAndCaretsKeepClustersWholeAndTheGoldenImage) {
    FontRep font(spec(10));
    const std::u16string texts[] = {
        u"Anna \U0001F600\U0001F44D\U0001F4DE \U0001F469\u200D\U0001F469\u200D\U0001F467 x\u0301y",
        u"\u0928\u092E\u0938\u094D\u0924\u0947 \u0915\u094D\u0937\u093F \u0926\u0941\u0928\u093F",
        u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645",
        u"\u674E\u5C0F\u660E\u674E\u5C0F\u660E\U0001F4DE\U0001F4DE",
    };
    const int32_t dots = font.text_width(ellipsis);
    std::vector<FontRep::CaretStop> stops;
    for (const std::u16string& text : texts) {
        font.caret_stops(text, stops);
        std::vector<size_t> offsets;
        for (const auto& stop : stops)
            offsets.push_back(stop.offset);
        ASSERT_EQ(offsets.front(), 0u);
        ASSERT_EQ(offsets.back(), text.size());
        for (size_t offset : offsets)
            EXPECT_FALSE(offset > 0 && offset < text.size() &&
                         (text[offset - 1] >= 0xD800 && text[offset - 1] <= 0xDBFF));
        const int32_t full = font.text_width(text);
        int cuts = 0;
        for (int32_t width = 0; width <= full + 2; ++width) {
            std::u16string line = font.fitted_line(text, width);
            if (line == text) {
                EXPECT_LE(full, width);
                continue;
            }
            ++cuts;
            ASSERT_GE(line.size(), ellipsis.size());
            ASSERT_EQ(line.substr(line.size() - ellipsis.size()), ellipsis);
            std::u16string kept = line.substr(0, line.size() - ellipsis.size());
            ASSERT_EQ(text.compare(0, kept.size(), kept), 0);
            EXPECT_TRUE(std::find(offsets.begin(), offsets.end(), kept.size()) != offsets.end())
                << "cut at " << kept.size() << " in width " << width;
            if (width >= dots) {
                EXPECT_LE(font.text_width(line), width);
            }
        }
        EXPECT_GT(cuts, 3);
    }

    // Carets step over a combining mark and a surrogate pair.
    const std::u16string word = u"x\u0301\U0001F4DEab";
    font.caret_stops(word, stops);
    ASSERT_EQ(stops.size(), 5u);
    EXPECT_EQ(std::tuple(stops[1].offset, stops[2].offset, stops[3].offset),
              std::tuple(2u, 4u, 5u));
    for (size_t i = 1; i < stops.size(); ++i)
        EXPECT_GT(stops[i].x, stops[i - 1].x);
    EXPECT_EQ(stops.back().x, font.text_width(word));
    EXPECT_EQ(std::tuple(font.offset_at(word, -5), font.offset_at(word, stops[2].x + 1),
                         font.offset_at(word, 10000)),
              std::tuple(0u, 4u, word.size()));
    font.caret_stops(u"", stops);
    EXPECT_EQ(stops, (std::vector<FontRep::CaretStop>{{0, 0}}));

    // Bold, underlined, italic, wrapped and right-aligned text, then a row of each script.
    RenderSurface target;
    target.recreate(220, 214);
    target.fill(Rect{0, 0, 220, 214}, Blend::fill(SkinColor{20, 40, 80}.to_565()));
    FontRep bold(FontSpec{.size = 10, .scale = {}, .bold = true, .face = dejavu}),
        title(FontSpec{.size = 10, .scale = {}, .bold = true, .underline = true, .face = dejavu}),
        body(FontSpec{.size = 8, .scale = {}, .italic = true, .face = dejavu});
    const SkinColor white{255, 255, 255}, blue{200, 230, 255};
    title.draw_text(target, SkinColor{255, 220, 120}, u"Quillory", 0, 0, 220, 24, HAlign::Center,
                    VAlign::VCenter, false);
    body.draw_text(target, blue, u"Wrapped words in a box that ends here", 4, 24, 152, 40,
                   HAlign::Right, VAlign::Top, true);
    struct Row {
        FontRep* font;
        std::u16string text;
        HAlign halign;
    };
    const Row rows[] = {
        {&bold, u"Record \u674E\u5C0F\u660E 14:10", HAlign::Left},
        {&font, u"\U0001F4DE Anna \U0001F44D \U0001F972 x\u0301", HAlign::Left},
        {&font, u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645",
         HAlign::Right},
        {&font, u"\u05E9\u05DC\u05D5\u05DD 123 abc", HAlign::Right},
        {&bold, u"\u0928\u092E\u0938\u094D\u0924\u0947 \u0915\u094D\u0937\u093F", HAlign::Left},
        {&font, u"Call \u0633\u0644\u0627\u0645 \u674E\u5C0F\u660E \U0001F600\U0001F600\U0001F600",
         HAlign::Left},
    };
    int y = 66;
    for (const Row& row : rows) {
        row.font->draw_text(target, &row == &rows[0] ? white : blue, row.text, 2, y,
                            &row == &rows[5] ? 128 : 216, 22, row.halign, VAlign::VCenter, false);
        y += 24;
    }
    // Antialiased text may move by a shade between font library versions.
    EXPECT_TRUE(testing_support::matches_golden(target, "skin/text.png", 64));
}
