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
