// A language chosen in the menu reaches every text at once, on the screen shown and on the
// screens shown later, and every control still answers after the reload (the real program,
// headless, driven by id through its inspector).

#include "foundation/text.h"
#include "localisation/text_table.h"
#include "screens/program_runner.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <string>

namespace fs = std::filesystem;
using screens_test::ProgramRunner;

namespace {

localisation::TextTable shipped(const std::string& name) {
    localisation::TextTable table;
    EXPECT_TRUE(
        table.load(fs::path(std::string(QV_SOURCE_DIR) + "/data/" + name + ".lng").u16string()));
    return table;
}

std::string utf8(const std::u16string& text) {
    return foundation::to_utf8(text);
}

// The English texts that Russian says otherwise.
std::set<std::string> english_only() {
    const auto english = shipped("english");
    const auto russian = shipped("russian");
    std::set<std::string> texts;
    for (const auto& [key, text] : english.entries())
        if (russian.text(key) != text)
            texts.insert(utf8(text));
    return texts;
}

// The inspector text without the rows of the record list and the artist and title of the
// record shown: those texts are the records' own.
std::string without_records(std::string top) {
    static const std::regex record_texts(
        "(\"id\": \"(?:frmArtist|btnName)\"[^{}]*?)\"text\": \"(?:[^\"\\\\]|\\\\.)*\"");
    top = std::regex_replace(top, record_texts, "$1");
    const size_t list = top.find("\"id\": \"list\"");
    const size_t rows = list == std::string::npos ? list : top.find("\"rows\": [", list);
    if (rows == std::string::npos)
        return top;
    size_t end = rows + 9;
    for (int depth = 1; end < top.size() && depth > 0; ++end)
        depth += top[end] == '[' ? 1 : top[end] == ']' ? -1 : 0;
    return top.erase(rows, end - rows);
}

// The texts of the top form that are English and not Russian.
std::vector<std::string> left_in_english(const std::string& top) {
    static const std::set<std::string> english = english_only();
    std::vector<std::string> found;
    for (const auto& text : ProgramRunner::texts(without_records(top)))
        if (english.count(text))
            found.push_back(text);
    return found;
}

bool has_text(const std::string& top, const std::string& text) {
    const auto texts = ProgramRunner::texts(top);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::string joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& text : texts)
        out += "\"" + text + "\" ";
    return out;
}

} // namespace

TEST(ScreensReload, ALanguageChosenInTheMenuRedrawsEveryTextAndEveryControlStillAnswers) {
    testing_support::Watchdog watchdog(120);
    testing_support::TempDir root;
    screens_test::copy_sample_records(root / "documents/My Quillory");
    const auto english = shipped("english");
    const auto russian = shipped("russian");

    ProgramRunner program(root.path());
    ASSERT_TRUE(program.wait([](const std::string& t) {
        return ProgramRunner::top_id(t) == "frmMain" && ProgramRunner::row_count(t) >= 4;
    })) << program.json();

    // With the keypad open, its letters are in the English alphabet.
    ASSERT_TRUE(program.tap("btnFilter"));
    ASSERT_TRUE(program.wait_shown("button2"));
    EXPECT_TRUE(has_text(program.top(), "abc")) << joined(ProgramRunner::texts(program.top()));

    // Settings, Language: each language under its own name.
    ASSERT_TRUE(program.tap("btnMenu"));
    ASSERT_TRUE(program.wait_form("frmMenu"));
    ASSERT_TRUE(program.tap_row_with(utf8(english.text(u"Settings"))));
    ASSERT_TRUE(program.wait(
        [&](const std::string& t) { return has_text(t, utf8(english.text(u"Language"))); }));
    ASSERT_TRUE(program.tap_row_with(utf8(english.text(u"Language"))));
    ASSERT_TRUE(program.wait([&](const std::string& t) {
        return has_text(t, "Deutsch") && has_text(t, "Fran\xc3\xa7"
                                                     "ais");
    })) << joined(ProgramRunner::texts(program.top()));
    const std::string russian_name = utf8(russian.text(u"Language_name"));
    EXPECT_FALSE(has_text(program.top(), "russian"));
    ASSERT_TRUE(program.tap_row_with(russian_name));

    // Back on the main form, every text at once: none left in English, the keypad in Cyrillic.
    ASSERT_TRUE(program.wait([&](const std::string& t) {
        return ProgramRunner::top_id(t) == "frmMain" &&
               has_text(t, "\xd0\xb0\xd0\xb1\xd0\xb2\xd0\xb3"); // "абвг"
    })) << program.json();
    EXPECT_TRUE(left_in_english(program.top()).empty()) << joined(left_in_english(program.top()));
    EXPECT_FALSE(has_text(program.top(), "abc"));

    // The controls were found again: the keypad filters and closes, the menu opens in Russian.
    ASSERT_TRUE(program.wait_shown("button2"));
    ASSERT_TRUE(program.tap("button2")); // "Anna", "bench", "2026"
    ASSERT_TRUE(program.wait([](const std::string& t) {
        return t.find("Team meeting") == std::string::npos &&
               t.find("garden bench") != std::string::npos;
    })) << program.json();
    ASSERT_TRUE(program.tap("btnCloseFilter"));
    ASSERT_TRUE(program.wait([](const std::string& t) {
        return ProgramRunner::box(t, "btnFilter").shown && ProgramRunner::row_count(t) >= 4;
    }));
    ASSERT_TRUE(program.tap("btnMenu"));
    ASSERT_TRUE(program.wait_form("frmMenu"));
    ASSERT_TRUE(program.wait([&](const std::string& t) {
        return has_text(t, utf8(russian.text(u"Settings")));
    })) << joined(ProgramRunner::texts(program.top()));
    EXPECT_TRUE(left_in_english(program.top()).empty()) << joined(left_in_english(program.top()));
    ASSERT_TRUE(program.tap_row_with(utf8(russian.text(u"Cancel"))));
    ASSERT_TRUE(program.wait_form("frmMain"));

    // A screen built before the change and shown after it speaks Russian too.
    ASSERT_TRUE(program.tap_row_with("Anna Petrova"));
    ASSERT_TRUE(program.wait_form("frmView")) << program.json();
    EXPECT_TRUE(left_in_english(program.top()).empty()) << joined(left_in_english(program.top()));
    ASSERT_TRUE(program.tap("btnClose"));
    ASSERT_TRUE(program.wait_form("frmMain"));

    // The recording screen answers its buttons after the reload (a tap right after the
    // playback's stop would count as a double tap).
    platform::sleep_ms(600);
    ASSERT_TRUE(program.tap("btnRecord"));
    ASSERT_TRUE(program.wait_form("frmRecording")) << program.json();
    EXPECT_TRUE(left_in_english(program.top()).empty()) << joined(left_in_english(program.top()));
    ASSERT_TRUE(program.wait_shown("btnPause"));
    ASSERT_TRUE(program.tap("btnPause"));
    ASSERT_TRUE(program.wait_shown("btnResume"));
    platform::sleep_ms(600);
    ASSERT_TRUE(program.tap("btnClose"));
    ASSERT_TRUE(program.wait([](const std::string& t) {
        return ProgramRunner::top_id(t) == "frmMain" && ProgramRunner::row_count(t) >= 4;
    })) << program.json();
    EXPECT_EQ(program.terminate(), 0);
}
