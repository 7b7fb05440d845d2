// The main screens of the real program against tests/data/screens/golden, varying parts masked.

#include "screens/program_scenario.h"
#include "support/golden_png.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::Inspection;
using testing_support::ProgramSession;

namespace {

// The program over the sample records, English whatever the machine's locale.
struct GoldenProgram {
    explicit GoldenProgram(const testing_support::EnvChanges& env = {}) {
        testing_support::copy_sample_records(session.records_folder());
        session.env()["LC_ALL"] = "C";
        for (const auto& [name, value] : env)
            session.env()[name] = value;
        program = session.start();
    }
    ~GoldenProgram() { EXPECT_EQ(program->terminate(10s), 0); }

    // The main form with at least this many rows bound, the newest record among them.
    bool listed(size_t rows) {
        return session.wait([&](const Inspection& i) {
            const testing_support::InspectNode* list = i.at("frmMain") ? i.shown("list") : nullptr;
            return list && list->rows.size() >= rows && i.top()->mentions("Team meeting");
        });
    }

    // Compares the picture at each rest of the screens until one matches or the time is up.
    ::testing::AssertionResult screen_is(const std::string& name,
                                         const std::vector<std::string>& varying = {}) {
        ::testing::AssertionResult result = ::testing::AssertionFailure() << "no rest for " << name;
        std::string seen;
        testing_support::wait_for(
            [&] {
                const Inspection& now = session.inspect();
                skinc::RgbaImage picture;
                std::string reason;
                if (session.last_json() == seen || now.moving || now.transition ||
                    !skinc::read_png(session.screenshot_file(), picture, reason))
                    return false;
                seen = session.last_json();
                std::vector<uint8_t> rgb;
                for (size_t i = 0; i < picture.pixels.size(); ++i)
                    if (i % 4 != 3)
                        rgb.push_back(picture.pixels[i]);
                std::vector<testing_support::Area> masks;
                for (const auto& id : varying)
                    if (const auto* node = now.shown(id))
                        masks.push_back({node->x, node->y, node->w, node->h});
                const fs::path copy = session.root() / (name + ".png");
                fs::copy_file(session.screenshot_file(), copy,
                              fs::copy_options::overwrite_existing);
                result = testing_support::compare_with_golden(
                    rgb, picture.width, picture.height,
                    fs::path(QV_TEST_DATA) / "screens/golden" / (name + ".png"),
                    [&](const fs::path& to) {
                        return fs::copy_file(copy, to, fs::copy_options::overwrite_existing);
                    },
                    48, size_t(picture.width) * size_t(picture.height) * 3 / 1000, masks);
                return bool(result);
            },
            60000);
        return result;
    }

    testing_support::TempDir root;
    ProgramSession session{root.path()};
    testing_support::ScriptInput input{session.input_file()};
    screens_e2e::ProgramScenario round{session, input, "golden"};
    std::unique_ptr<testing_support::Process> program;
};

} // namespace

TEST(GoldenScreens, MainKeypadMenuRecordingAndPlaybackLookAsTheyShould) {
    testing_support::Watchdog watchdog(280);
    GoldenProgram golden(testing_support::EnvChanges{{"QUILLORY_AUDIO_SPEED", "1"}});
    ProgramSession& session = golden.session;
    ASSERT_TRUE(golden.listed(4)) << session.last_json();
    // The rows are compared on the keypad screen: where the list rests depends on the scan.
    EXPECT_TRUE(golden.screen_is("main", {"list"}));

    // The keypad with 2 typed: "Anna", "bench" and the years are highlighted.
    golden.round.tap("btnFilter");
    golden.round.tap("button2");
    ASSERT_TRUE(session.wait([](const Inspection& i) {
        return i.top() && !i.top()->mentions("Team meeting") && i.top()->mentions("garden bench");
    })) << session.last_json();
    EXPECT_TRUE(golden.screen_is("keypad"));
    golden.round.tap("btnCloseFilter");
    ASSERT_TRUE(session.wait([](const Inspection& i) { return i.shown("btnFilter"); }));
    golden.round.tap("btnMenu");
    ASSERT_TRUE(golden.round.wait_form("frmMenu"));
    EXPECT_TRUE(golden.screen_is("menu"));
    golden.round.tap_row("Cancel");
    ASSERT_TRUE(golden.round.wait_form("frmMain"));

    // Recording, paused so that the buttons stay put; its title holds the clock's date.
    golden.round.tap("btnRecord");
    golden.round.tap("btnPause");
    ASSERT_TRUE(session.wait([](const Inspection& i) { return i.shown("btnResume"); }));
    EXPECT_TRUE(golden.screen_is(
        "recording", {"frmElapsed", "frmLeft", "frmSize", "pbLevel", "btnName", "liveWave"}));
    // Stop ignores taps in the form's first half second: tapped again until the list is back.
    ASSERT_TRUE(testing_support::wait_for([&] {
        if (session.inspect().at("frmRecording"))
            golden.round.tap("btnClose");
        return session.wait([](const Inspection& i) { return i.at("frmMain"); }, 1s);
    })) << session.last_json();
    ASSERT_TRUE(golden.listed(4));

    // Playback of the call, paused (or at its end): the play button shows either way.
    golden.round.tap_row("Anna Petrova");
    ASSERT_TRUE(golden.round.wait_form("frmView"));
    if (session.inspect().shown("btnPause"))
        golden.round.tap("btnPause");
    ASSERT_TRUE(golden.round.wait_shown("btnPlay", "the play button"));
    EXPECT_TRUE(golden.screen_is(
        "playback", {"frmElapsed", "frmLeft", "pbLevel", "pbPosition", "btnPosition", "waveform"}));
}

TEST(GoldenScreens, TheMainFormAtEverySkinScaleFillsPhoneAndDesktopWindows) {
    testing_support::Watchdog watchdog(280);
    // The skin's scale comes from the density asked or, with none, from the window; pictures
    // come from their drawings at each scale, never enlarged.
    struct Case {
        const char* name;
        const char* window;
        const char* dpi;
        int rows; // in view once every record is listed
    };
    const Case cases[] = {{"main_1x", "240x320", "96", 4},
                          {"main_phone_1.5x", "360x640", "", 4},
                          {"main_phone_landscape_1.5x", "640x360", "", 2},
                          {"main_landscape_2x", "640x480", "192", 2},
                          {"main_phone_3x", "720x1440", "288", 5},
                          {"main_phone_landscape_3x", "1440x720", "288", 2},
                          {"main_phone_4x", "1080x2160", "384", 5},
                          {"main_desktop_4x", "960x1280", "384", 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GoldenProgram golden(
            testing_support::EnvChanges{{"QUILLORY_SCREEN", c.window}, {"QUILLORY_DPI", c.dpi}});
        ASSERT_TRUE(golden.listed(c.rows)) << golden.session.last_json();
        EXPECT_TRUE(golden.screen_is(c.name, {"list"}));
    }
}
