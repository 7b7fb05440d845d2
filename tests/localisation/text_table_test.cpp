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

// Text as UTF-16 bytes behind a byte order mark, little- or big-endian, with an odd byte after.
std::vector<uint8_t> utf16(const std::u16string& text, bool big_endian) {
    std::vector<uint8_t> out{0xFF, 0xFE};
    if (big_endian)
        std::swap(out[0], out[1]);
    for (char16_t c : text) {
        out.push_back(uint8_t(big_endian ? c >> 8 : c));
        out.push_back(uint8_t(big_endian ? c : c >> 8));
    }
    out.push_back(0x41);
    return out;
}

struct ParseCase {
    const char* what;
    std::vector<uint8_t> data;
    std::vector<std::pair<std::u16string, std::u16string>> entries;
};

const ParseCase parse_cases[] = {
    {"an equals sign or a blank ends the key",
     bytes("Delete=Remove all\nMove = To card\n"),
     {{u"Delete", u"Remove all"}, {u"Move", u"= To card"}}},
    {"text after the equals sign keeps its blanks",
     bytes("  Key=  spaced out  \r\n\tOther\t\ttabbed text"),
     {{u"Key", u"  spaced out  "}, {u"Other", u"tabbed text"}}},
    {"any line end; empty keys add nothing",
     bytes("A=1\rB=2\r\nC=3\n\r\n\n=orphan\n   \nD\nE=%count% files"),
     {{u"A", u"1"}, {u"B", u"2"}, {u"C", u"3"}, {u"D", u""}, {u"E", u"%count% files"}}},
    {"later lines replace earlier ones; keys keep their case",
     bytes("Exit=first\nexit=lower\nExit=second\n"),
     {{u"Exit", u"second"}, {u"exit", u"lower"}}},
    {"UTF-16 with its mark drops an odd byte",
     utf16(u"Cancel=\u041e\u0442\u043c\u0435\u043d\u0430\r\nOK=\u0414\u0430", false),
     {{u"Cancel", u"\u041e\u0442\u043c\u0435\u043d\u0430"}, {u"OK", u"\u0414\u0430"}}},
    {"big-endian UTF-16 with its mark",
     utf16(u"Exit=\u0412\u044b\u0445\u043e\u0434\nK=\U0001F3A4", true),
     {{u"Exit", u"\u0412\u044b\u0445\u043e\u0434"}, {u"K", u"\U0001F3A4"}}},
    // Russian texts with one byte damaged, a stray continuation byte and a cut sequence.
    {"a few bad bytes in UTF-8 are replaced, not the whole file read as Latin-1",
     bytes("Exit=\xD0\x92\xD1\x8B\xD1\x85\xD0\xBE\xD0\xB4\n"
           "Cancel=\xD0\x9E\xFF\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xB0\nHelp=\x80\xD0\xA1\nLast=\xD0"),
     {{u"Exit", u"\u0412\u044b\u0445\u043e\u0434"},
      {u"Cancel", u"\u041e\uFFFD\u043c\u0435\u043d\u0430"},
      {u"Help", u"\uFFFD\u0421"},
      {u"Last", u"\uFFFD"}}},
    {"with its mark a file is UTF-8 however damaged",
     bytes("\xEF\xBB\xBFK=Caf\xE9"),
     {{u"K", u"Caf\uFFFD"}}},
    {"valid UTF-8",
     bytes("Exit=Caf\xC3\xA9 \xF0\x9F\x8E\xA4\n"),
     {{u"Exit", u"Caf\u00e9 \U0001F3A4"}}},
    {"a lone 0xE9 makes the whole file Latin-1",
     bytes("Exit=Caf\xE9\nOther=\xC3\xA9"),
     {{u"Exit", u"Caf\u00e9"}, {u"Other", u"\u00c3\u00a9"}}},
    {"an overlong form is not UTF-8", bytes("K=\xC0\xAF"), {{u"K", u"\u00c0\u00af"}}},
    {"an encoded surrogate is not UTF-8", bytes("K=\xED\xA0\x80"), {{u"K", u"\u00ed\u00a0\u0080"}}},
    {"a sequence cut at the end of the file", bytes("K=\xE2\x82"), {{u"K", u"\u00e2\u0082"}}},
    {"one byte that is not UTF-8 is a Latin-1 key without text", {0xFF}, {{u"\u00ff", u""}}},
    {"a lone UTF-16 mark", {0xFF, 0xFE}, {}},
    {"nothing", {}, {}},
};

TEST(TextTable, ParsesEveryEncodingAndKeepsItsTableThroughAFailedLoad) {
    for (const ParseCase& c : parse_cases) {
        SCOPED_TRACE(c.what);
        const auto entries = TextTable::parse(c.data);
        EXPECT_EQ(entries.size(), c.entries.size());
        for (const auto& [key, text] : c.entries) {
            ASSERT_TRUE(entries.count(key));
            EXPECT_TRUE(entries.at(key) == text);
        }
    }

    std::vector<uint8_t> noise(4096);
    uint32_t state = 12345;
    for (auto& b : noise)
        b = uint8_t((state = state * 1103515245 + 12345) >> 16);
    for (const auto& [key, text] : TextTable::parse(noise)) {
        EXPECT_FALSE(key.empty());
        EXPECT_EQ(key.find_first_of(u"=\r\n \t"), std::u16string::npos);
        EXPECT_EQ(text.find_first_of(u"\r\n"), std::u16string::npos);
    }

    testing_support::TempDir dir;
    std::ofstream(dir / "english.lng") << "Exit=Quit\n";
    TextTable table;
    std::u16string english = (dir / "english.lng").u16string();
    ASSERT_TRUE(table.load(english));
    EXPECT_EQ(table.text(u"Exit"), u"Quit");
    EXPECT_EQ(table.path(), english);

    std::filesystem::create_directory(dir / "folder.lng");
    // Over the size limit, or without a single key.
    std::ofstream(dir / "huge.lng") << "Exit=Huge\n" << std::string(TextTable::max_file_size, 'x');
    std::ofstream(dir / "empty.lng").flush();
    std::ofstream(dir / "blank.lng") << "\r\n  \n\t\n";
    std::ofstream(dir / "equals.lng") << "=Exit\n = x\n";
    for (const char* name :
         {"missing.lng", "folder.lng", "huge.lng", "empty.lng", "blank.lng", "equals.lng"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(table.load((dir / name).u16string()));
        EXPECT_EQ(table.text(u"Exit"), u"Quit");
        EXPECT_EQ(table.path(), english);
    }
    // A file of exactly the limit is read.
    std::ofstream(dir / "limit.lng") << "Key=" << std::string(TextTable::max_file_size - 4, 'y');
    ASSERT_TRUE(table.load((dir / "limit.lng").u16string()));
    EXPECT_EQ(table.text(u"Key").size(), TextTable::max_file_size - 4);
    // Texts given whole replace the file's; a missing key gives the fallback.
    table.assign({{u"Exit", u"Gone"}}, u"");
    EXPECT_EQ(table.text(u"Key", u"none") + table.text(u"Exit", u"none"), u"noneGone");
}

} // namespace
