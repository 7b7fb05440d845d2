// Language files: encodings, line forms, bad input and loading.

#include "localisation/text_table.h"
#include "support/temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>

using localisation::TextTable;

namespace {

std::vector<uint8_t> bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> utf16(const std::u16string& text, bool mark = true) {
    std::vector<uint8_t> out;
    if (mark)
        out = {0xFF, 0xFE};
    for (char16_t c : text) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

TEST(TextTableParse, EqualsSignOrBlankEndsTheKey) {
    auto entries = TextTable::parse(bytes("Delete=Remove all\nMove = To card\n"));
    EXPECT_EQ(entries.at(u"Delete"), u"Remove all");
    // A blank ends the key: the equals sign and what follows is the text.
    EXPECT_EQ(entries.at(u"Move"), u"= To card");
    EXPECT_EQ(entries.size(), 2u);
}

TEST(TextTableParse, TextAfterTheEqualsSignKeepsItsBlanks) {
    auto entries = TextTable::parse(bytes("  Key=  spaced out  \r\n\tOther\t\ttabbed text"));
    EXPECT_EQ(entries.at(u"Key"), u"  spaced out  ");
    EXPECT_EQ(entries.at(u"Other"), u"tabbed text");
}

TEST(TextTableParse, AnyLineEndWorksAndEmptyKeysAddNothing) {
    auto entries =
        TextTable::parse(bytes("A=1\rB=2\r\nC=3\n\r\n\n=orphan\n   \nD\nE=%count% files"));
    EXPECT_EQ(entries.at(u"A"), u"1");
    EXPECT_EQ(entries.at(u"B"), u"2");
    EXPECT_EQ(entries.at(u"C"), u"3");
    EXPECT_EQ(entries.at(u"D"), u"");
    EXPECT_EQ(entries.at(u"E"), u"%count% files");
    EXPECT_EQ(entries.size(), 5u);
}

TEST(TextTableParse, LaterLinesReplaceEarlierOnesAndKeysKeepTheirCase) {
    auto entries = TextTable::parse(bytes("Exit=first\nexit=lower\nExit=second\n"));
    EXPECT_EQ(entries.at(u"Exit"), u"second");
    EXPECT_EQ(entries.at(u"exit"), u"lower");
}

TEST(TextTableParse, Utf16WithTheMarkDropsAnOddByte) {
    auto data = utf16(u"Cancel=\u041e\u0442\u043c\u0435\u043d\u0430\r\nOK=\u0414\u0430");
    data.push_back(0x41);
    auto entries = TextTable::parse(data);
    EXPECT_EQ(entries.at(u"Cancel"), u"\u041e\u0442\u043c\u0435\u043d\u0430");
    EXPECT_EQ(entries.at(u"OK"), u"\u0414\u0430");
}

TEST(TextTableParse, Utf16BigEndianWithItsMark) {
    std::vector<uint8_t> data{0xFE, 0xFF};
    for (char16_t c : std::u16string(u"Exit=\u0412\u044b\u0445\u043e\u0434\nK=\U0001F3A4")) {
        data.push_back(uint8_t(c >> 8));
        data.push_back(uint8_t(c));
    }
    data.push_back(0x41);
    auto entries = TextTable::parse(data);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.at(u"Exit"), u"\u0412\u044b\u0445\u043e\u0434");
    EXPECT_EQ(entries.at(u"K"), u"\U0001F3A4");
}

TEST(TextTableParse, AFewBadBytesInUtf8AreReplacedNotTheWholeFileReadAsLatin1) {
    // Russian texts with one byte damaged, a stray continuation byte and a cut sequence.
    auto entries = TextTable::parse(bytes("Exit=\xD0\x92\xD1\x8B\xD1\x85\xD0\xBE\xD0\xB4\n"
                                          "Cancel=\xD0\x9E\xFF\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xB0\n"
                                          "Help=\x80\xD0\xA1\n"
                                          "Last=\xD0"));
    EXPECT_EQ(entries.at(u"Exit"), u"\u0412\u044b\u0445\u043e\u0434");
    EXPECT_EQ(entries.at(u"Cancel"), u"\u041e\uFFFD\u043c\u0435\u043d\u0430");
    EXPECT_EQ(entries.at(u"Help"), u"\uFFFD\u0421");
    EXPECT_EQ(entries.at(u"Last"), u"\uFFFD");
    // With its mark a file is UTF-8 however damaged.
    EXPECT_EQ(TextTable::parse(bytes("\xEF\xBB\xBFK=Caf\xE9")).at(u"K"), u"Caf\uFFFD");
}

TEST(TextTableParse, EightBitIsUtf8WhenValidElseLatin1) {
    auto utf8 = TextTable::parse(bytes("Exit=Caf\xC3\xA9 \xF0\x9F\x8E\xA4\n"));
    EXPECT_EQ(utf8.at(u"Exit"), u"Caf\u00e9 \U0001F3A4");
    auto marked = TextTable::parse(bytes("\xEF\xBB\xBFKey=x"));
    EXPECT_EQ(marked.at(u"Key"), u"x");
    // A lone 0xE9 is not UTF-8: the whole file is Latin-1.
    auto latin1 = TextTable::parse(bytes("Exit=Caf\xE9\nOther=\xC3\xA9"));
    EXPECT_EQ(latin1.at(u"Exit"), u"Caf\u00e9");
    EXPECT_EQ(latin1.at(u"Other"), u"\u00c3\u00a9");
    // Overlong forms and encoded surrogates are not valid UTF-8 either.
    EXPECT_EQ(TextTable::parse(bytes("K=\xC0\xAF")).at(u"K"), u"\u00c0\u00af");
    EXPECT_EQ(TextTable::parse(bytes("K=\xED\xA0\x80")).at(u"K"), u"\u00ed\u00a0\u0080");
    // A sequence cut at the end of the file.
    EXPECT_EQ(TextTable::parse(bytes("K=\xE2\x82")).at(u"K"), u"\u00e2\u0082");
}

TEST(TextTableParse, EmptyAndBinaryInputGiveWhatCanBeRead) {
    EXPECT_TRUE(TextTable::parse({}).empty());
    // One byte that is not UTF-8 is a Latin-1 key without text.
    EXPECT_EQ(TextTable::parse({0xFF}).at(u"\u00ff"), u"");
    EXPECT_TRUE(TextTable::parse({0xFF, 0xFE}).empty());
    std::vector<uint8_t> noise(4096);
    uint32_t state = 12345;
    for (auto& b : noise) {
        state = state * 1103515245 + 12345;
        b = uint8_t(state >> 16);
    }
    auto entries = TextTable::parse(noise);
    for (const auto& [key, text] : entries) {
        EXPECT_FALSE(key.empty());
        EXPECT_EQ(key.find_first_of(u"=\r\n \t"), std::u16string::npos);
        EXPECT_EQ(text.find_first_of(u"\r\n"), std::u16string::npos);
    }
}

TEST(TextTableLoad, MissingKeyShowsTheKey) {
    TextTable table;
    EXPECT_EQ(table.text(u"Sorry_no_memory"), u"Sorry_no_memory");
    EXPECT_EQ(table.text(u"Sorry_no_memory", u"fallback"), u"fallback");
}

TEST(TextTableLoad, AFailedLoadKeepsThePreviousTable) {
    testing_support::TempDir dir;
    std::ofstream(dir / "english.lng") << "Exit=Quit\n";
    TextTable table;
    std::u16string english = (dir / "english.lng").u16string();
    ASSERT_TRUE(table.load(english));
    EXPECT_EQ(table.text(u"Exit"), u"Quit");
    EXPECT_EQ(table.path(), english);

    EXPECT_FALSE(table.load((dir / "missing.lng").u16string()));
    std::filesystem::create_directory(dir / "folder.lng");
    EXPECT_FALSE(table.load((dir / "folder.lng").u16string()));
    // Over a megabyte is refused.
    {
        std::ofstream huge(dir / "huge.lng");
        huge << "Exit=Huge\n" << std::string(TextTable::max_file_size, 'x');
    }
    EXPECT_FALSE(table.load((dir / "huge.lng").u16string()));
    EXPECT_EQ(table.text(u"Exit"), u"Quit");
    EXPECT_EQ(table.path(), english);

    // Files without a single key are not languages: empty, blank, or keys without lines.
    std::ofstream(dir / "empty.lng").flush();
    std::ofstream(dir / "blank.lng") << "\r\n  \n\t\n";
    std::ofstream(dir / "equals.lng") << "=Exit\n = x\n";
    for (const char* name : {"empty.lng", "blank.lng", "equals.lng"}) {
        EXPECT_FALSE(table.load((dir / name).u16string())) << name;
        EXPECT_EQ(table.text(u"Exit"), u"Quit") << name;
        EXPECT_EQ(table.path(), english) << name;
    }
}

TEST(TextTableLoad, AFileOfExactlyTheLimitIsRead) {
    testing_support::TempDir dir;
    {
        std::ofstream file(dir / "limit.lng");
        std::string line = "Key=" + std::string(TextTable::max_file_size - 4, 'y');
        file << line;
    }
    TextTable table;
    ASSERT_TRUE(table.load((dir / "limit.lng").u16string()));
    EXPECT_EQ(table.text(u"Key").size(), TextTable::max_file_size - 4);
}

} // namespace
