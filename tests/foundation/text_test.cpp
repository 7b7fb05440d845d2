#include "foundation/number.h"
#include "foundation/text.h"

#include <gtest/gtest.h>

using namespace foundation;

TEST(BaseN, BytesMakeTheRoundTripThroughEveryAlphabetSize) {
    const struct {
        std::u16string alphabet;
        std::vector<uint8_t> bytes;
        std::u16string text;
    } cases[] = {
        {u"0123456789ABCDEF", {0x0F, 0xA0}, u"0FA0"},
        {u"0123456789ABCDEF", {}, u""},
        // 00001 11110 10000 0(0000): the last group is padded.
        {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", {0x0F, 0xA0}, u"B6QA"},
        // Ten characters: only the first eight are used, 24 bits make eight groups of 111.
        {u"0123456789", {0xFF, 0xFF, 0xFF}, u"77777777"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.alphabet));
        EXPECT_EQ(to_base_n(c.bytes, c.alphabet), c.text);
        EXPECT_EQ(from_base_n(c.text, c.alphabet), c.bytes);
    }
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A};
    EXPECT_EQ(from_base_n(to_base_n(bytes, u"0123456789"), u"0123456789"), bytes);
    EXPECT_EXIT(to_base_n({1}, u"0"), ::testing::ExitedWithCode(0),
                "Alphabet size is too small @ to_base_n");
}

TEST(Text, NumbersBothWaysAndWideningFollowTheCFormats) {
    EXPECT_EQ(to_text(int32_t(-2147483647 - 1)), u"-2147483648");
    EXPECT_EQ(to_text(0.1), u"0.100000");
    EXPECT_EQ(widen("\xE9"), std::u16string(1, char16_t(0xE9)));
    EXPECT_TRUE(starts_with(u"%app_path%/x", u"%app_path%"));
    EXPECT_FALSE(starts_with(u"%app", u"%app_path%"));
    // Only the whole text in range is a number.
    const struct {
        std::string text;
        int base;
        std::optional<uint32_t> value;
    } cases[] = {
        {"16", 10, 16},         {"+16", 10, 16}, {"0x10", 0, 16},
        {"010", 0, 8},          {"0", 0, 0},     {"4294967295", 10, 4294967295u},
        {"4294967296", 10, {}}, {"-1", 10, {}},  {"", 10, {}},
        {" 1", 10, {}},         {"1 ", 10, {}},  {"+-1", 10, {}},
        {"0x", 0, {}},          {"0x-1", 0, {}}, {"ff", 16, 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse_number<uint32_t>(c.text, c.base), c.value);
    }
    EXPECT_EQ(parse_number<int>("-12"), -12);
    EXPECT_EQ(parse_number<int>("-0x10", 0), -16);
    EXPECT_EQ(parse_number<double>("2.5"), 2.5);
    EXPECT_EQ(parse_number<double>("1e-3"), 0.001);
    EXPECT_EQ(parse_number<double>("2.5s"), std::nullopt);
    EXPECT_EQ(parse_number<int>(u"42"), 42);
    EXPECT_EQ(parse_number<int>(u"4\u0662"), std::nullopt) << "digits outside ASCII are none";
}

TEST(Utf, WellFormedTextConvertsBothWaysLoneSurrogatesAreReplaced) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\x99z"; // a é € 🎙 z
    const std::u16string wide = from_utf8(text);
    EXPECT_EQ(wide, u"a\u00e9\u20ac\U0001F399z");
    EXPECT_EQ(to_utf8(wide), text);
    EXPECT_EQ(from_utf8(text, Utf8Errors::Replace), wide);
    // Lone surrogates become the replacement character.
    const std::pair<std::u16string, std::string> cases[] = {
        {{char16_t(0xD800)}, "\xEF\xBF\xBD"},
        {{u'a', char16_t(0xDBFF), u'b'},
         "a\xEF\xBF\xBD"
         "b"},
        {{char16_t(0xDC10)}, "\xEF\xBF\xBD"},
        {{u'x', char16_t(0xD83C)}, "x\xEF\xBF\xBD"},        // a pair cut at the end
        {{char16_t(0xDC80), char16_t(0xDCFF)}, "\x80\xFF"}, // escape units stand for their bytes
    };
    for (const auto& [wide, narrow] : cases)
        EXPECT_EQ(to_utf8(wide), narrow);
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
