// A language chosen in the menu reaches every text at once, on the screen shown and on the
// screens shown later, and the controls still answer after the reload (the real program,
// headless, driven by id through its inspector).

#include "foundation/text.h"
#include "localisation/text_table.h"
#include "screens/program_scenario.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>
#include <set>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using screens_e2e::Inspection;
using screens_e2e::InspectNode;

namespace {

localisation::TextTable shipped(const std::string& name) {
    localisation::TextTable table;
    EXPECT_TRUE(table.load((fs::path(QV_SOURCE_DIR) / "data" / (name + ".lng")).u16string()));
    return table;
}

std::string text(const localisation::TextTable& table, const char16_t* key) {
    return foundation::to_utf8(table.text(key));
}

// The texts of a tree, without the record list's rows and the artist and title of the record
// shown: those texts are the records' own.
void own_texts(const InspectNode& node, std::vector<std::string>& out) {
    if (node.id == "list" || node.id == "frmArtist" || node.id == "btnName")
        return;
    if (!node.text.empty())
        out.push_back(node.text);
    for (const InspectNode& child : node.children)
        own_texts(child, out);
}

// The texts of the top form that are English and not Russian.
std::string left_in_english(const Inspection& shown) {
    static const std::set<std::string> english_only = [] {
        const auto english = shipped("english");
        const auto russian = shipped("russian");
        std::set<std::string> texts;
        for (const auto& [key, value] : english.entries())
            if (russian.text(key) != value)
                texts.insert(foundation::to_utf8(value));
        return texts;
    }();
    std::vector<std::string> texts;
    own_texts(*shown.top(), texts);
    std::string found;
    for (const auto& t : texts)
        if (english_only.count(t))
            found += "\"" + t + "\" ";
    return found;
}

} // namespace

TEST(ScreensReload, ALanguageChosenInTheMenuRedrawsEveryTextAndTheControlsStillAnswer) {
    testing_support::Watchdog watchdog(120);
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path());
    testing_support::copy_sample_records(session.records_folder());
    session.env()["LC_ALL"] = "C";
    testing_support::ScriptInput input(session.input_file());
    screens_e2e::ProgramScenario round(session, input, "reload");
    const auto english = shipped("english");
    const auto russian = shipped("russian");
    const auto program = session.start();
    ASSERT_TRUE(round.wait(
        [](const Inspection& i) { return i.at("frmMain") && i.top()->mentions("Team meeting"); },
        "the records listed"));
    auto showing = [&](const std::string& wanted) {
        return round.wait([&](const Inspection& i) { return i.top()->has_text(wanted); }, wanted);
    };

    // With the keypad open, its letters are in the English alphabet.
    round.tap("btnFilter");
    ASSERT_TRUE(showing("abc"));
    // Settings, Language: each language under its own name.
    round.tap("btnMenu");
    round.tap_row(text(english, u"Settings"));
    round.tap_row(text(english, u"Language"));
    ASSERT_TRUE(showing("Deutsch") && showing("Fran\xc3\xa7"
                                              "ais"));
    EXPECT_FALSE(session.inspect().top()->has_text("russian"));
    round.tap_row(text(russian, u"Language_name"));

    // Back on the main form, every text at once: none left in English, the keypad in Cyrillic.
    ASSERT_TRUE(round.wait(
        [](const Inspection& i) {
            return i.at("frmMain") && i.top()->has_text("\xd0\xb0\xd0\xb1\xd0\xb2\xd0\xb3");
        },
        "the keypad in Cyrillic")); // "абвг"
    EXPECT_EQ(left_in_english(session.inspect()), "");
    EXPECT_FALSE(session.inspect().top()->has_text("abc"));

    // The controls were found again: the keypad closes, the menu opens in Russian.
    round.tap("btnCloseFilter");
    round.tap("btnMenu");
    ASSERT_TRUE(showing(text(russian, u"Settings")));
    EXPECT_EQ(left_in_english(session.inspect()), "");
    round.tap_row(text(russian, u"Cancel"));

    // A screen built before the change and shown after it speaks Russian too.
    round.tap_row("Anna Petrova");
    ASSERT_TRUE(round.wait_form("frmView"));
    EXPECT_EQ(left_in_english(session.inspect()), "");
    EXPECT_EQ(program->terminate(10s), 0);
}
