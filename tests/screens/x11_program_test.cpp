// The real program on a private X server, given input by xdotool: the pointer and keyboard go
// through X and SDL as a user's would. The round is the headless one's.

#include "screens/program_scenario.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// Missing tools skip the test on a developer's machine; CI installs them, so there it fails.
bool tools_missing(std::string& message) {
    for (const char* tool : {"Xvfb", "xdotool", "ffprobe", "sox"})
        if (!testing_support::have_program(tool)) {
            message = std::string(tool) + " is not installed (scripts/install-deps installs it)";
            return true;
        }
    return false;
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

} // namespace

TEST(ScreensProgramX11, XdotoolRoundFromRecordingToACall) {
    std::string missing;
    if (tools_missing(missing)) {
        if (in_ci())
            FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    testing_support::Watchdog watchdog(240, "the X server program round");
    testing_support::XServer server(480, 640);
    ASSERT_TRUE(server.ok()) << server.error();
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path(), std::string(QV_BUILD_DIR) + "/bin");
    session.env()["SDL_VIDEODRIVER"] = "x11";
    session.env()["DISPLAY"] = server.display();
    testing_support::XdotoolInput input(server.display(), "Quillory Vozir");
    screens_e2e::ProgramScenario round(session, input, "x11_program");
    round.run_all();
}

// An X server that only tells its density through its screen's size (SDL finds no monitor
// sizes on it): a high-density one shows the design twice as large again, as the desktop's own
// density asks.
TEST(ScreensProgramX11, AHighDensityServerDoublesTheWindow) {
    std::string missing;
    if (tools_missing(missing)) {
        if (in_ci())
            FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    testing_support::Watchdog watchdog(120, "the high-density X server");
    testing_support::XServer server(1000, 1300, 192);
    ASSERT_TRUE(server.ok()) << server.error();
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path(), std::string(QV_BUILD_DIR) + "/bin");
    session.env()["SDL_VIDEODRIVER"] = "x11";
    session.env()["DISPLAY"] = server.display();
    session.env()["QUILLORY_DPI"] = "";
    session.env()["QUILLORY_SCREEN"] = "";
    testing_support::XdotoolInput input(server.display(), "Quillory Vozir");
    screens_e2e::ProgramScenario round(session, input, "x11_high_density");
    round.start(0);
    ASSERT_FALSE(HasFailure());
    const testing_support::Inspection& shown = session.inspect();
    ASSERT_NE(shown.top(), nullptr);
    // 240 x 320 at 96 dpi, doubled for the skin's look and again for the screen.
    EXPECT_EQ(shown.top()->w, 960);
    EXPECT_EQ(shown.top()->h, 1280);
}
