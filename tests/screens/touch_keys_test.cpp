// The real program, headless, answering a phone user's keys and fingers: Esc cancels the menu,
// the rename and the confirmation (and never deletes text), Enter is the rename's OK, the rename
// field calls up the on-screen keyboard and stays above it, a second finger neither taps nor
// moves anything, a record held opens its menu, and a turn with a menu open keeps the form
// behind it drawn.

#include "png_convert.h"
#include "screens/program_scenario.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

namespace fs = std::filesystem;
using screens_e2e::Inspection;
using screens_e2e::InspectNode;

const std::string held_title = "Zed other";            // the record the scenario prepares
const std::string escape = "key 27", enter = "key 13"; // SDL key codes

std::string at(const InspectNode& node) {
    return std::to_string(node.centre_x()) + " " + std::to_string(node.centre_y());
}

class ScreensTouchAndKeys : public ::testing::Test {
protected:
    void SetUp() override {
        round.prepare();
        round.start(1);
        ASSERT_FALSE(HasFailure());
    }

    // Holds the record's row until its menu comes, then lets go.
    void hold_record() {
        const InspectNode* row = nullptr;
        ASSERT_TRUE(round.wait([&](const Inspection& i) { return (row = i.row_with(held_title)); },
                               "the record's row"));
        const std::string point = at(*row);
        input.send("down " + point);
        ASSERT_TRUE(round.wait_form("frmMenu"));
        input.send("up " + point);
    }

    testing_support::Watchdog watchdog{180, "the touch and keys round"};
    testing_support::TempDir root;
    testing_support::ProgramSession session{root.path()};
    testing_support::ScriptInput input{session.input_file()};
    screens_e2e::ProgramScenario round{session, input, "touch_keys"};
};

} // namespace

TEST_F(ScreensTouchAndKeys, EscCancelsEnterConfirmsAndAHeldRecordOpensItsMenu) {
    hold_record();
    // The record's own menu, over its playback form; nothing plays.
    EXPECT_NE(session.inspect().row_with(round.caption("Delete_this")), nullptr);
    EXPECT_FALSE(fs::exists(session.playback_file()));
    input.send(escape);
    ASSERT_TRUE(round.wait_form("frmView"));

    // The focused field asks for the on-screen keyboard where it is; a window made shorter for
    // the keyboard keeps the field on screen, and asks again where it is now.
    round.tap("btnName");
    ASSERT_TRUE(round.wait_form("frmEdit"));
    for (const int height : {640, 300}) {
        input.send("resize 480 " + std::to_string(height));
        ASSERT_TRUE(round.wait(
            [&](const Inspection& i) {
                const InspectNode* field = i.shown("edit");
                const InspectNode& typed = i.text_input;
                return field && i.top()->h == height && !i.transition && field->y >= 0 &&
                       field->y + field->h <= height && typed.x == field->x &&
                       typed.y == field->y && typed.w == field->w && typed.h == field->h;
            },
            "text input at the field, " + std::to_string(height) + " pixels high"));
    }
    input.send("resize 480 640");

    // Esc leaves the rename as Cancel does: the title stays, the dialog closes, the keyboard
    // goes.
    input.type("Kestrel");
    ASSERT_TRUE(round.wait_text("edit", "Kestrel", "the typed title"));
    input.send(escape);
    ASSERT_TRUE(round.wait_form("frmView"));
    EXPECT_TRUE(session.inspect().shown("btnName")->has_text(held_title));
    EXPECT_EQ(session.inspect().text_input.w, 0);

    // Enter is OK: the one-line title takes no line break.
    round.tap("btnName");
    ASSERT_TRUE(round.wait_form("frmEdit"));
    input.type("Kestrel");
    input.send(enter);
    ASSERT_TRUE(round.wait_form("frmView"));
    ASSERT_TRUE(round.wait_text("btnName", "Kestrel", "the new title"));

    // The confirmation's OK names the deletion of this record, not of the listed ones; Esc
    // keeps the record, which takes its new name when the playback form closes.
    round.tap("btnMenu");
    round.tap_row(round.caption("Delete_this"));
    ASSERT_TRUE(round.wait_form("frmConfirmation"));
    const InspectNode* ok = session.inspect().shown("btnOk");
    EXPECT_TRUE(ok && ok->has_text(round.caption("Delete_this")) &&
                !ok->has_text(round.caption("Delete")));
    input.send(escape);
    ASSERT_TRUE(round.wait_form("frmView"));
    round.tap("btnClose");
    ASSERT_TRUE(round.wait_form("frmMain"));
    EXPECT_TRUE(fs::exists(session.records_folder() / "Kestrel.wav"));
}

TEST_F(ScreensTouchAndKeys, ASecondFingerNeitherTapsNorMoves) {
    const Inspection& main = session.inspect();
    const InspectNode* menu = main.shown("btnMenu");
    const InspectNode* filter = main.shown("btnFilter");
    ASSERT_TRUE(menu && filter);
    // The first finger rests on the title left of the buttons, where nothing answers; the
    // second taps the menu button and slides down across the list.
    const std::string rest = std::to_string(filter->x / 2) + " " + std::to_string(menu->centre_y());
    input.send("finger 1 down " + rest);
    input.send("finger 2 down " + at(*menu));
    input.send("finger 2 move " + std::to_string(menu->centre_x()) + " " +
               std::to_string(menu->centre_y() + 200));
    for (const std::string& event : {"finger 2 up " + at(*menu), "finger 1 up " + rest})
        input.send(event);
    // Input is taken in order: once the filter's keypad shows, the fingers were handled.
    round.tap("btnFilter");
    ASSERT_TRUE(round.wait_shown("button7", "the keypad"));
    EXPECT_EQ(session.inspect().top_id(), "frmMain");
}

TEST_F(ScreensTouchAndKeys, TurningWithTheMenuOpenKeepsTheFormBehindIt) {
    round.tap("btnMenu");
    ASSERT_TRUE(round.wait_form("frmMenu"));
    // 480 x 640 turned: the design's 2x in landscape.
    input.send("resize 640 480");
    const fs::path shot = session.screenshot_file();
    skinc::RgbaImage image;
    ASSERT_TRUE(round.wait(
        [&](const Inspection& i) {
            std::string reason;
            return i.top() && i.top()->w == 640 && i.top()->h == 480 && !i.transition &&
                   skinc::read_png(shot, image, reason) && image.width == 640;
        },
        "the menu in landscape, and its screenshot"));
    // The menu's rows are on screen.
    for (const InspectNode* row : session.inspect().rows())
        EXPECT_TRUE(row->y >= 0 && row->y + row->h <= 480) << row->y;
    // Above the menu the dimmed main form shows, not a black screen.
    size_t lit = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = &image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
            lit += (p[0] | p[1] | p[2]) > 8 ? 1 : 0;
        }
    EXPECT_GT(lit, size_t(image.width) * 40 / 4);
}
