// The keypad's letter captions: the current language's alphabet picked from the keypad map.

#include "localisation/text_table.h"
#include "screens/keyboard_container.h"

#include <filesystem>
#include <gtest/gtest.h>

using screens::KeyMap;
using screens::keypad_caption;

namespace {

KeyMap shipped_keys() {
    localisation::TextTable table;
    EXPECT_TRUE(table.load(
        std::filesystem::path(std::string(QV_SOURCE_DIR) + "/data/keyboard.txt").u16string()));
    return KeyMap(table);
}

std::u16string shipped_letters(const char* language) {
    localisation::TextTable table;
    EXPECT_TRUE(
        table.load(std::filesystem::path(std::string(QV_SOURCE_DIR) + "/data/" + language + ".lng")
                       .u16string()));
    return table.text(u"Keypad_letters", u"");
}

} // namespace

TEST(KeypadCaption, LettersOfTheAlphabetInItsOrderEachOnce) {
    KeyMap keys;
    keys.set(u'3', u"3d\u0451e\u0434fe\u0435");
    // The alphabet's order, not the map's; digits and letters of other alphabets left out.
    EXPECT_EQ(keypad_caption(keys, u'3', u"abcdef"), u"def");
    EXPECT_EQ(keypad_caption(keys, u'3', u"\u0434\u0435\u0451"), u"\u0434\u0435\u0451");
    // A letter the alphabet lists twice still shows once.
    EXPECT_EQ(keypad_caption(keys, u'3', u"eed"), u"ed");
    // No alphabet, or none of its letters under the key: nothing, the skin's caption stays.
    EXPECT_EQ(keypad_caption(keys, u'3', u""), u"");
    EXPECT_EQ(keypad_caption(keys, u'3', u"xyz"), u"");
    // A key without an entry stands for itself only.
    EXPECT_EQ(keypad_caption(keys, u'9', u"abc"), u"");
    EXPECT_EQ(keypad_caption(keys, u'9', u"9"), u"9");
}

// Every letter of each shipped alphabet is on one letter key, so that a filter can reach every
// word; the other keys keep the skin's captions.
TEST(KeypadCaption, EveryLetterOfEachShippedAlphabetIsOnOneKey) {
    const KeyMap keys = shipped_keys();
    for (const auto& file :
         std::filesystem::directory_iterator(std::string(QV_SOURCE_DIR) + "/data")) {
        if (file.path().extension() != ".lng")
            continue;
        SCOPED_TRACE(file.path().filename().string());
        const std::u16string letters = shipped_letters(file.path().stem().string().c_str());
        ASSERT_FALSE(letters.empty());
        std::u16string all;
        for (char16_t key = u'2'; key <= u'9'; ++key)
            all += keypad_caption(keys, key, letters);
        EXPECT_EQ(all.size(), letters.size());
        EXPECT_EQ(keypad_caption(keys, u'1', letters) + keypad_caption(keys, u'0', letters), u"");
    }
}
