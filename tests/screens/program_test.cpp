// The real program, headless, driven through its test input file and watched through its
// inspector file: the whole round a user makes, from recording to a recorded call.

#include "screens/program_scenario.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

TEST(ScreensProgram, HeadlessRoundFromRecordingToACall) {
    testing_support::Watchdog watchdog(240, "the headless program round");
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path(), std::string(QV_BUILD_DIR) + "/bin");
    session.env()["SDL_VIDEODRIVER"] = "offscreen";
    session.env()["QUILLORY_INPUT"] = session.input_file().string();
    session.env()["QUILLORY_SCREENSHOT"] = session.screenshot_file().string();
    testing_support::ScriptInput input(session.input_file());
    screens_e2e::ProgramScenario round(session, input, "headless_program");
    round.run_all();
}
