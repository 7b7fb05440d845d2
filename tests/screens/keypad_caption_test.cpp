// The keypad's letter captions: the current language's alphabet picked from the keypad map.

#include "localisation/text_table.h"
#include "screens/keyboard_container.h"

#include <filesystem>
#include <gtest/gtest.h>

using screens::KeyMap;
using screens::keypad_caption;
namespace fs = std::filesystem;

// The alphabet's order, not the map's, each letter once; other alphabets and digits left out.
TEST(KeypadCaption, LettersOfTheAlphabetInItsOrderEachOnce) {
    KeyMap keys;
    keys.set(u'3', u"3d\u0451e\u0434fe\u0435");
    const std::tuple<char16_t, std::u16string, std::u16string> cases[] = {
        {u'3', u"abcdef", u"def"}, {u'3', u"\u0434\u0435\u0451", u"\u0434\u0435\u0451"},
        {u'3', u"eed", u"ed"},     {u'3', u"", u""},
        {u'3', u"xyz", u""},       {u'9', u"abc", u""},
        {u'9', u"9", u"9"}};
    for (const auto& [key, alphabet, caption] : cases)
        EXPECT_EQ(keypad_caption(keys, key, alphabet), caption) << alphabet.size();
}

// Every letter of each shipped alphabet is on one letter key, so that a filter reaches every word.
TEST(KeypadCaption, EveryLetterOfEachShippedAlphabetIsOnOneKey) {
    const fs::path data = fs::path(QV_SOURCE_DIR) / "data";
    localisation::TextTable map;
    ASSERT_TRUE(map.load((data / "keyboard.txt").u16string()));
    const KeyMap keys(map);
    for (const auto& file : fs::directory_iterator(data)) {
        if (file.path().extension() != ".lng")
            continue;
        SCOPED_TRACE(file.path().filename().string());
        localisation::TextTable language;
        ASSERT_TRUE(language.load(file.path().u16string()));
        const std::u16string letters = language.text(u"Keypad_letters", u"");
        ASSERT_FALSE(letters.empty());
        std::u16string all;
        for (char16_t key = u'2'; key <= u'9'; ++key)
            all += keypad_caption(keys, key, letters);
        EXPECT_EQ(all.size(), letters.size());
        EXPECT_EQ(keypad_caption(keys, u'1', letters) + keypad_caption(keys, u'0', letters), u"");
    }
}
