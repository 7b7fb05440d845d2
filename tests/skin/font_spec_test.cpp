#include "skin/font_spec.h"

#include <gtest/gtest.h>

using skin::apply_font_spec;
using skin::FontSpec;

namespace {

FontSpec parsed(std::u16string_view text) {
    FontSpec spec;
    apply_font_spec(text, spec);
    return spec;
}

} // namespace

TEST(FontSpec, ReadsAllFieldsAndStopsAtTheFirstBadOne) {
    FontSpec full = parsed(u"14 1 0 1 Courier New");
    EXPECT_EQ(full.size, 14);
    EXPECT_TRUE(full.bold);
    EXPECT_FALSE(full.italic);
    EXPECT_TRUE(full.underline);
    EXPECT_EQ(full.face, u"Courier New");

    FontSpec partial = parsed(u"14 1");
    EXPECT_EQ(partial.size, 14);
    EXPECT_TRUE(partial.bold);
    EXPECT_FALSE(partial.italic);
    EXPECT_EQ(partial.face, u"Tahoma");

    FontSpec signs = parsed(u"  +9\t-2 +0 0   Verdana");
    EXPECT_EQ(signs.size, 9);
    EXPECT_TRUE(signs.bold); // non-zero
    EXPECT_FALSE(signs.italic);
    EXPECT_EQ(signs.face, u"Verdana");

    FontSpec bad = parsed(u"12 x 1 1 Arial");
    EXPECT_EQ(bad.size, 12);
    EXPECT_FALSE(bad.bold);
    EXPECT_FALSE(bad.italic);
    EXPECT_EQ(bad.face, u"Tahoma");

    EXPECT_EQ(parsed(u"- 3").size, 12); // a sign must be followed by digits
    EXPECT_EQ(parsed(u"").face, u"Tahoma");
    EXPECT_EQ(parsed(u"10 0 0 0").face, u"Tahoma");
    EXPECT_EQ(parsed(u"99999999999 0 0 0 A").size, 2147483647);
}

TEST(FontSpec, HeightFormula) {
    auto height = [](int size, int scale) {
        FontSpec spec;
        spec.size = size;
        spec.scale = scale;
        return spec.log_font_height();
    };
    EXPECT_EQ(height(12, 1), -16);
    EXPECT_EQ(height(12, 2), -32);
    EXPECT_EQ(height(9, 1), -12);
    EXPECT_EQ(height(10, 1), -13);
    EXPECT_EQ(height(-10, 1), 13); // truncated toward zero
}
