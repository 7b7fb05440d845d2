#include "foundation/text.h"

#include <gtest/gtest.h>

using namespace foundation;

namespace {
const std::u16string hex = u"0123456789ABCDEF";
const std::u16string base32 = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
} // namespace

TEST(BaseN, HexadecimalIsTwoUpperCaseDigitsPerByte) {
    EXPECT_EQ(to_base_n({0x0F, 0xA0}, hex), u"0FA0");
    EXPECT_EQ(to_base_n({}, hex), u"");
    EXPECT_EQ(from_base_n(u"0FA0", hex), (std::vector<uint8_t>{0x0F, 0xA0}));
}

TEST(BaseN, FiveBitAlphabetPadsTheLastGroup) {
    // 0x0F 0xA0 = 00001 11110 10000 0(0000)
    EXPECT_EQ(to_base_n({0x0F, 0xA0}, base32), u"B6QA");
    EXPECT_EQ(from_base_n(u"B6QA", base32), (std::vector<uint8_t>{0x0F, 0xA0}));
}

TEST(BaseN, TenCharacterAlphabetUsesItsFirstEight) {
    // 0xFF 0xFF 0xFF = 24 bits = eight groups of 111.
    EXPECT_EQ(to_base_n({0xFF, 0xFF, 0xFF}, u"0123456789"), u"77777777");
    std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A};
    EXPECT_EQ(from_base_n(to_base_n(bytes, u"0123456789"), u"0123456789"), bytes);
}

TEST(BaseNDeath, AlphabetOfOneCharacterIsFatal) {
    EXPECT_EXIT(to_base_n({1}, u"0"), ::testing::ExitedWithCode(0),
                "Alphabet size is too small @ to_base_n");
}

TEST(Text, NumbersAndWideningFollowTheCFormats) {
    EXPECT_EQ(to_text(int32_t(-2147483647 - 1)), u"-2147483648");
    EXPECT_EQ(to_text(0.1), u"0.100000");
    EXPECT_EQ(widen("\xE9"), std::u16string(1, char16_t(0xE9)));
    EXPECT_TRUE(starts_with(u"%app_path%/x", u"%app_path%"));
    EXPECT_FALSE(starts_with(u"%app", u"%app_path%"));
}

TEST(Utf, WellFormedTextConvertsBothWays) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\x99z"; // a é € 🎙 z
    const std::u16string wide = from_utf8(text);
    EXPECT_EQ(wide, u"a\u00e9\u20ac\U0001F399z");
    EXPECT_EQ(to_utf8(wide), text);
    EXPECT_EQ(from_utf8(text, Utf8Errors::Replace), wide);
}

TEST(Utf, BytesThatAreNotUtf8MakeTheRoundTripUnchanged) {
    const std::string names[] = {
        "Record \xE9t\xE9.mp3",           // Latin-1
        "\xC3",                           // cut sequence at the end
        "\xC0\x80 overlong",              // overlong NUL
        "\xED\xA0\x80 surrogate",         // an encoded surrogate
        "\xF4\x90\x80\x80 beyond",        // above U+10FFFF
        "\xED\xB2\x80 escape-looking",    // the UTF-8 form of an escape unit
        "\xE2\x82 cut then \xE2\x82\xAC", // a cut sequence before a good one
        "\xFF\xFE",
    };
    for (const std::string& name : names) {
        const std::u16string wide = from_utf8(name);
        EXPECT_EQ(to_utf8(wide), name) << name;
        for (char16_t unit : wide)
            EXPECT_FALSE(unit >= 0xD800 && unit <= 0xDBFF) << "no high surrogate from an escape";
    }
    EXPECT_EQ(from_utf8("\xE9t\xE9"), (std::u16string{char16_t(0xDCE9), u't', char16_t(0xDCE9)}));
    EXPECT_EQ(from_utf8("\xE9t\xE2\x82", Utf8Errors::Replace), u"\uFFFDt\uFFFD\uFFFD");
}

TEST(Utf, LoneSurrogatesBecomeTheReplacementCharacter) {
    EXPECT_EQ(to_utf8(std::u16string{char16_t(0xD800)}), "\xEF\xBF\xBD");
    EXPECT_EQ(to_utf8(std::u16string{u'a', char16_t(0xDBFF), u'b'}), "a\xEF\xBF\xBD"
                                                                     "b");
    EXPECT_EQ(to_utf8(std::u16string{char16_t(0xDC10)}), "\xEF\xBF\xBD");
    // A pair split across the end.
    EXPECT_EQ(to_utf8(std::u16string{u'x', char16_t(0xD83C)}), "x\xEF\xBF\xBD");
    // An escape unit stands for its byte.
    EXPECT_EQ(to_utf8(std::u16string{char16_t(0xDC80), char16_t(0xDCFF)}), "\x80\xFF");
}
