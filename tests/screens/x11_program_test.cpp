// The real program on a private X server, given input by xdotool: the pointer and keyboard go
// through X and SDL as a user's would, through the whole round from recording to a call.

#include "screens/program_scenario.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

namespace {

struct X11Program {
    // A screen of that size and density; input by xdotool into the program's window.
    X11Program(int width, int height, int dpi) : server(width, height, dpi) {
        session.env()["SDL_VIDEODRIVER"] = "x11";
        session.env()["DISPLAY"] = server.display();
    }
    testing_support::XServer server;
    testing_support::TempDir root;
    testing_support::ProgramSession session{root.path()};
    testing_support::XdotoolInput input{server.display(), "Quillory Vozir"};
};

} // namespace

TEST(ScreensProgramX11, XdotoolRoundFromRecordingToACall) {
    QV_SKIP_IF_MISSING(testing_support::missing_program({"Xvfb", "xdotool", "ffprobe", "sox"}));
    testing_support::Watchdog watchdog(240, "the X server program round");
    X11Program x(480, 640, 96);
    ASSERT_TRUE(x.server.ok()) << x.server.error();
    screens_e2e::ProgramScenario(x.session, x.input, "x11_program").run_all();
}

// An X server that only tells its density through its screen's size (SDL finds no monitor
// sizes on it): a high-density one shows the design twice as large again, as the desktop's own
// density asks.
TEST(ScreensProgramX11, AHighDensityServerDoublesTheWindow) {
    QV_SKIP_IF_MISSING(testing_support::missing_program({"Xvfb", "xdotool"}));
    testing_support::Watchdog watchdog(120, "the high-density X server");
    X11Program x(1000, 1300, 192);
    ASSERT_TRUE(x.server.ok()) << x.server.error();
    x.session.env()["QUILLORY_DPI"] = "";
    x.session.env()["QUILLORY_SCREEN"] = "";
    screens_e2e::ProgramScenario round(x.session, x.input, "x11_high_density");
    round.start(0);
    ASSERT_FALSE(HasFailure());
    // 240 x 320 at 96 dpi, doubled for the skin's look and again for the screen.
    EXPECT_EQ(x.session.inspect().top()->w, 960);
    EXPECT_EQ(x.session.inspect().top()->h, 1280);
}
