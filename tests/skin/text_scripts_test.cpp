// Text in other scripts than Latin: stand-in faces, right-to-left lines, clusters that cuts and
// carets keep whole. Drawn with the test's own fonts (support/test_fonts.h).

#include "skin/font_rep.h"
#include "skin/text_golden.h"
#include "support/test_fonts.h"

#include <gtest/gtest.h>

using namespace skin;

namespace {

class Scripts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(testing_support::use_test_fonts(), ""); }

    static FontSpec spec(int size) {
        FontSpec s;
        s.size = size;
        s.face = u"DejaVu Sans";
        return s;
    }

    // The pixels of one text drawn white on black at the left of a 120 x 30 surface.
    static std::vector<uint16_t> pixels(FontRep& font, std::u16string_view text) {
        RenderSurface target;
        target.recreate(120, 30);
        target.fill(Rect{0, 0, 120, 30}, Blend::fill(0));
        font.draw_text(target, SkinColor{255, 255, 255}, text, 0, 0, 120, 30, HAlign::Left,
                       VAlign::Top, false);
        std::vector<uint16_t> out;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 120; ++x)
                out.push_back(target.surface()->pixel(x, y));
        return out;
    }

    static bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
};

const std::u16string_view ellipsis = u"...";

} // namespace

TEST_F(Scripts, CharactersTheFaceLacksAreDrawnNotBoxed) {
    FontRep font(spec(12));
    // A missing glyph is the same box for every character: different characters drawn the same
    // would mean boxes.
    const std::u16string pairs[][2] = {
        {u"\u674E", u"\u660E"},         // Chinese
        {u"\U0001F4DE", u"\U0001F44D"}, // emoji outside the basic plane
        {u"\u0928", u"\u0926"},         // Devanagari
        {u"\u05D0", u"\u05E9"},         // Hebrew
        {u"\u0633", u"\u0645"},         // Arabic
    };
    for (const auto& pair : pairs) {
        auto first = pixels(font, pair[0]), second = pixels(font, pair[1]);
        EXPECT_NE(first, second);
        EXPECT_NE(first, std::vector<uint16_t>(first.size(), 0));
        EXPECT_GT(font.text_width(pair[0]), 0);
    }
    // A character outside the basic plane is one character wide, not two missing ones.
    std::vector<int32_t> widths;
    font.character_widths(u"\U0001F4DE", widths);
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_GT(widths[0], 0);
    EXPECT_EQ(widths[1], 0);
}

TEST_F(Scripts, RightToLeftTextReadsFromTheRight) {
    FontRep font(spec(12));
    std::vector<FontRep::CaretStop> stops;
    // Hebrew: the first letter at the right edge, the caret moving left as the text goes on.
    const std::u16string hebrew = u"\u05D0\u05D1\u05D2";
    font.caret_stops(hebrew, stops);
    ASSERT_EQ(stops.size(), 4u);
    EXPECT_EQ(stops.front().x, font.text_width(hebrew));
    EXPECT_EQ(stops.back().x, 0);
    for (size_t i = 1; i < stops.size(); ++i)
        EXPECT_LT(stops[i].x, stops[i - 1].x);

    // Latin then Hebrew in a left-to-right line: the Hebrew word's start is the line's right end.
    const std::u16string mixed = u"abc \u05D0\u05D1\u05D2";
    font.caret_stops(mixed, stops);
    ASSERT_EQ(stops.size(), 8u);
    EXPECT_EQ(stops[0].x, 0);
    EXPECT_EQ(stops[4].x, font.text_width(mixed));
    EXPECT_EQ(stops[7].x, font.text_width(u"abc "));

    // An Arabic name with a number: the paragraph is right to left, the digits left to right.
    const std::u16string arabic = u"\u0633\u0644\u0627\u0645 12";
    font.caret_stops(arabic, stops);
    int32_t width = font.text_width(arabic);
    EXPECT_EQ(stops.front().x, width);
    auto at = [&](size_t offset) {
        for (const auto& s : stops)
            if (s.offset == offset)
                return s.x;
        ADD_FAILURE() << "no stop at " << offset;
        return -1;
    };
    EXPECT_LT(at(6), at(7)); // "1" left of "2"
    EXPECT_LT(at(7), at(3)); // the number left of the word
    // The word drawn alone and in the line looks the same: joined letters, right to left.
    EXPECT_EQ(font.text_width(u"\u0633\u0644\u0627\u0645") + font.text_width(u" 12"), width);
}

TEST_F(Scripts, CutsAndCaretsKeepClustersWhole) {
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
            EXPECT_FALSE(offset > 0 && offset < text.size() && is_high_surrogate(text[offset - 1]));
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

    // Carets step over a combining mark, a surrogate pair and a ligature-free pair of letters.
    const std::u16string word = u"x\u0301\U0001F4DEab";
    font.caret_stops(word, stops);
    ASSERT_EQ(stops.size(), 5u);
    EXPECT_EQ(stops[1].offset, 2u);
    EXPECT_EQ(stops[2].offset, 4u);
    EXPECT_EQ(stops[3].offset, 5u);
    for (size_t i = 1; i < stops.size(); ++i)
        EXPECT_GT(stops[i].x, stops[i - 1].x);
    EXPECT_EQ(stops.back().x, font.text_width(word));
    EXPECT_EQ(font.offset_at(word, -5), 0u);
    EXPECT_EQ(font.offset_at(word, stops[2].x + 1), 4u);
    EXPECT_EQ(font.offset_at(word, 10000), word.size());
    font.caret_stops(u"", stops);
    EXPECT_EQ(stops, (std::vector<FontRep::CaretStop>{{0, 0}}));
}

TEST_F(Scripts, WrappedRightToLeftLinesStayInTheirBox) {
    FontRep font(spec(10));
    RenderSurface target;
    target.recreate(100, 80);
    target.fill(Rect{0, 0, 100, 80}, Blend::fill(0));
    const std::u16string paragraph =
        u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645 "
        u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645";
    ASSERT_GT(font.text_width(paragraph), 70);
    font.draw_text(target, SkinColor{255, 255, 255}, paragraph, 10, 0, 70, 80, HAlign::Right,
                   VAlign::Top, true);
    int top = 80, bottom = 0, left = 100, right = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x)
            if (target.surface()->pixel(x, y) != 0) {
                top = std::min(top, y);
                bottom = std::max(bottom, y + 1);
                left = std::min(left, x);
                right = std::max(right, x + 1);
            }
    EXPECT_GE(left, 10);
    EXPECT_LE(right, 80);
    EXPECT_GT(bottom - top, font.line_height()); // more than one line
}

TEST_F(Scripts, ChineseWrapsBetweenCharacters) {
    FontRep font(spec(10));
    const std::u16string sentence = u"\u674E\u5C0F\u660E\u7684\u5F55\u97F3\u5DF2\u7ECF\u4FDD"
                                    u"\u5B58\u597D\u4E86\u3002";
    const int32_t one = font.text_width(u"\u674E");
    const int32_t box = 4 * one + one / 2; // four characters a line
    RenderSurface target;
    target.recreate(100, 120);
    target.fill(Rect{0, 0, 100, 120}, Blend::fill(0));
    font.draw_text(target, SkinColor{255, 255, 255}, sentence, 0, 0, box, 120, HAlign::Left,
                   VAlign::Top, true);
    // Inked rows per text line: four, four, three characters (the full stop may not begin a
    // line, so it takes the character before it along), then two; none cut with dots.
    const int lh = font.line_height();
    for (int line = 0; line < 4; ++line) {
        int right = 0;
        for (int y = line * lh; y < (line + 1) * lh; ++y)
            for (int x = 0; x < 100; ++x)
                if (target.surface()->pixel(x, y) != 0)
                    right = std::max(right, x + 1);
        const int characters[] = {4, 4, 3, 2};
        EXPECT_GT(right, (characters[line] - 1) * one + 2) << "line " << line;
        EXPECT_LE(right, box);
    }
}

TEST_F(Scripts, GoldenMixedScripts) {
    RenderSurface target;
    target.recreate(220, 150);
    target.fill(Rect{0, 0, 220, 150}, Blend::fill(SkinColor{20, 40, 80}.to_565()));
    FontRep font(spec(10));
    FontSpec bold_spec = spec(10);
    bold_spec.bold = true;
    FontRep bold(bold_spec);
    const SkinColor white{255, 255, 255}, blue{200, 230, 255};
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
    int y = 2;
    for (const Row& row : rows) {
        // The last row is cut: it ends in an ellipsis.
        int32_t width = &row == &rows[5] ? 128 : 216;
        row.font->draw_text(target, &row == &rows[0] ? white : blue, row.text, 2, y, width, 22,
                            row.halign, VAlign::VCenter, false);
        y += 24;
    }
    text_golden::expect_golden(target, "text_scripts_golden");
}
