#include "platform/font_engine.h"
#include "support/test_fonts.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>

using namespace platform;

namespace {

class FontEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(testing_support::use_test_fonts(), "");
        face = open_font_face(FontRequest{"DejaVu Sans", 20, false, false});
        ASSERT_TRUE(face);
    }

    std::vector<ShapedGlyph> shape(std::u16string_view text, bool rtl = false) {
        std::vector<ShapedGlyph> glyphs;
        face->shape(text, 0, text.size(), rtl, glyphs);
        return glyphs;
    }

    std::unique_ptr<FontFace> face;
};

} // namespace

// Characters the face lacks come from a face that has them; emoji in colour even where another
// face has them, text-style symbols as emoji only when a variation selector asks.
TEST_F(FontEngine, CharactersTheFaceLacksComeFromAFaceThatHasThem) {
    EXPECT_EQ(face->family(0), "DejaVu Sans");
    const struct {
        std::u16string text;
        std::string family;
        bool every_glyph{false}; // every glyph from that face, drawn
    } cases[] = {
        {u"Anna", "DejaVu Sans", true},
        {u"李小明", "WenQuanYi Micro Hei", true},
        {u"नमस्ते", "FreeSans", true},
        {u"\U0001F700", "Symbola", true}, // an alchemical symbol: monochrome
        {u"\U0001F600", "Noto Color Emoji"},
        {u"\U0001F4DE", "Noto Color Emoji"},
        {u"\u263A", "DejaVu Sans"},
        {u"\u263A\uFE0F", "Noto Color Emoji"},
        {u"\U0001F600\uFE0E", "DejaVu Sans"},
        // A family of three people joined by zero-width joiners is one picture.
        {u"\U0001F469\u200D\U0001F469\u200D\U0001F467", "Noto Color Emoji"},
    };
    for (const auto& [text, family, every_glyph] : cases) {
        auto glyphs = shape(text);
        ASSERT_FALSE(glyphs.empty()) << family;
        EXPECT_EQ(face->family(glyphs[0].face), family);
        if (every_glyph)
            for (const ShapedGlyph& g : glyphs) {
                EXPECT_NE(g.glyph, 0u) << family; // never the missing glyph
                EXPECT_EQ(face->family(g.face), family);
                EXPECT_GT(face->glyph_image(g.face, g.glyph).width + g.advance, 0);
            }
    }
    EXPECT_EQ(shape(u"\U0001F469\u200D\U0001F469\u200D\U0001F467").size(), 1u);
    // Mixed in one run: each character from its own face, the faces opened once.
    auto mixed = shape(u"A李\U0001F44D李A");
    ASSERT_EQ(mixed.size(), 5u);
    EXPECT_EQ(std::vector<size_t>({mixed[0].face, mixed[4].face}), std::vector<size_t>({0, 0}));
    EXPECT_EQ(mixed[1].face, mixed[3].face);
    EXPECT_EQ(std::set<size_t>({0, mixed[1].face, mixed[2].face}).size(), 3u);
    EXPECT_EQ(face->family(5), "");
}

TEST_F(FontEngine, BidirectionalRunsInVisualOrder) {
    std::vector<DirectionalRun> runs;
    bool rtl = true;
    directional_runs(u"abc \u05D0\u05D1\u05D2 def", TextDirection::Auto, runs, rtl);
    EXPECT_FALSE(rtl);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].end, 4u);
    EXPECT_TRUE(runs[1].right_to_left && runs[1].begin == 4 && runs[1].end == 7);
    EXPECT_FALSE(runs[2].right_to_left);

    // A Hebrew paragraph: its Latin word and number stand to the left of the Hebrew.
    directional_runs(u"\u05D0\u05D1\u05D2 abc 12", TextDirection::Auto, runs, rtl);
    EXPECT_TRUE(rtl);
    ASSERT_GE(runs.size(), 2u);
    EXPECT_FALSE(runs.front().right_to_left);
    EXPECT_EQ(runs.back().begin, 0u);
    EXPECT_TRUE(runs.back().right_to_left);

    directional_runs(u"", TextDirection::Auto, runs, rtl);
    EXPECT_TRUE(runs.empty());
}

TEST_F(FontEngine, GraphemeAndLineBoundaries) {
    const std::pair<std::u16string, std::vector<size_t>> graphemes[] = {
        {u"a\U0001F600b", {0, 1, 3, 4}},
        {u"e\u0301x", {0, 2, 3}},
        {u"\U0001F469\u200D\U0001F469\u200D\U0001F467!", {0, 8, 9}}, // one family
        {u"ab\r\n", {0, 1, 2, 4}},
        {u"", {0}},
    };
    std::vector<size_t> at;
    for (const auto& [text, expected] : graphemes) {
        grapheme_boundaries(text, at);
        EXPECT_EQ(at, expected);
    }
    const std::pair<std::u16string, std::vector<size_t>> lines[] = {
        // Spaced scripts break after spaces only: not at the hyphens of a date.
        {u"Record 2026-12-06  14:10", {7, 19, 24}},
        {u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627", {6, 8}},
        // Chinese breaks between ideographs, never before a closing punctuation mark.
        {u"\u674E\u5C0F\u660E\u3002\u4F60\u597D", {1, 2, 4, 5, 6}},
        {u"", {0}},
    };
    for (const auto& [text, expected] : lines) {
        line_breaks(text, at);
        EXPECT_EQ(at, expected);
    }
}

TEST_F(FontEngine, EmojiAreOneGlyphInColourAtTheTextSize) {
    auto glyphs = shape(u"a\U0001F972");
    ASSERT_EQ(glyphs.size(), 2u);
    const ShapedGlyph& emoji = glyphs[1];
    EXPECT_EQ(face->family(emoji.face), "Noto Color Emoji");
    // The bitmaps are 109 pixels per em: scaled to the 20-pixel text.
    const GlyphImage& image = face->glyph_image(emoji.face, emoji.glyph);
    for (int size : {emoji.advance, image.width})
        EXPECT_TRUE(size >= 14 && size <= 30) << size;
    EXPECT_LE(image.rows, 30);
    EXPECT_GE(image.top, 10);
    ASSERT_EQ(image.color.size(), image.coverage.size());
    // A yellow face: opaque pixels with much more red than blue.
    int yellow = 0;
    for (size_t i = 0; i < image.color.size(); ++i)
        yellow +=
            image.coverage[i] > 200 && (image.color[i] >> 11) > 24 && (image.color[i] & 31) < 12;
    EXPECT_GT(yellow, image.width * image.rows / 4);
    // A monochrome glyph has no colours of its own.
    EXPECT_TRUE(face->glyph_image(glyphs[0].face, glyphs[0].glyph).color.empty());
    // A character outside the basic plane is one glyph.
    glyphs = shape(u"a\U0001F600b");
    ASSERT_EQ(glyphs.size(), 3u);
    EXPECT_EQ(glyphs[0].cluster, 0u);
    EXPECT_EQ(glyphs[1].cluster, 1u);
    EXPECT_EQ(glyphs[2].cluster, 3u); // after both halves of the pair
    EXPECT_NE(glyphs[1].glyph, 0u);
    // A lone surrogate is one missing character, not a crash.
    auto lone = shape(u"a\xD83D"
                      u"b");
    EXPECT_EQ(lone.size(), 3u);
}
