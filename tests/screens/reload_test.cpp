// A language chosen in the menu reaches every text at once, on the screen shown and on the
// screens shown later, and the controls still answer after the reload (the real program,
// headless, driven by id through its inspector).

#include "foundation/text.h"
#include "localisation/text_table.h"
#include "support/program_driver.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>
#include <set>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::Inspection;
using testing_support::InspectNode;

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
    const auto english = shipped("english");
    const auto russian = shipped("russian");
    const auto program = session.start();
    auto tap = [&](const std::function<const InspectNode*(const Inspection&)>& find) {
        const InspectNode* node = nullptr;
        ASSERT_TRUE(session.wait([&](const Inspection& i) {
            return !i.transition && (node = find(i));
        })) << session.last_json();
        input.tap(node->centre_x(), node->centre_y());
    };
    auto control = [](const std::string& id) {
        return [id](const Inspection& i) { return i.shown(id); };
    };
    auto row = [](const std::string& shown) {
        return [shown](const Inspection& i) { return i.row_with(shown); };
    };
    auto showing = [&](const std::string& wanted) {
        return session.wait(
            [&](const Inspection& i) { return i.top() && i.top()->has_text(wanted); });
    };

    // With the keypad open, its letters are in the English alphabet.
    tap(control("btnFilter"));
    ASSERT_TRUE(showing("abc")) << session.last_json();
    // Settings, Language: each language under its own name.
    tap(control("btnMenu"));
    tap(row(text(english, u"Settings")));
    tap(row(text(english, u"Language")));
    ASSERT_TRUE(showing("Deutsch") && showing("Fran\xc3\xa7"
                                              "ais"))
        << session.last_json();
    EXPECT_FALSE(session.inspect().top()->has_text("russian"));
    tap(row(text(russian, u"Language_name")));

    // Back on the main form, every text at once: none left in English, the keypad in Cyrillic.
    ASSERT_TRUE(session.wait([](const Inspection& i) {
        return i.at("frmMain") && i.top()->has_text("\xd0\xb0\xd0\xb1\xd0\xb2\xd0\xb3"); // "абвг"
    })) << session.last_json();
    EXPECT_EQ(left_in_english(session.inspect()), "");
    EXPECT_FALSE(session.inspect().top()->has_text("abc"));

    // The controls were found again: the keypad filters and closes, the menu opens in Russian.
    tap(control("button2")); // "Anna", "bench", "2026"
    ASSERT_TRUE(session.wait([](const Inspection& i) {
        return i.top() && !i.top()->mentions("Team meeting") && i.top()->mentions("garden bench");
    })) << session.last_json();
    tap(control("btnCloseFilter"));
    tap(control("btnMenu"));
    ASSERT_TRUE(showing(text(russian, u"Settings"))) << session.last_json();
    EXPECT_EQ(left_in_english(session.inspect()), "");
    tap(row(text(russian, u"Cancel")));

    // A screen built before the change and shown after it speaks Russian too.
    tap(row("Anna Petrova"));
    ASSERT_TRUE(session.wait_form("frmView")) << session.last_json();
    EXPECT_EQ(left_in_english(session.inspect()), "");
    EXPECT_EQ(program->terminate(10s), 0);
}
