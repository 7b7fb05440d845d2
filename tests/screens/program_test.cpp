// The real program, headless, driven through its test input file and watched through its
// inspector file: the whole round a user makes, from recording to a recorded call, and records
// made beside it.

#include "screens/program_scenario.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

using screens_e2e::Inspection;

TEST(ScreensProgram, HeadlessRoundFromRecordingToACall) {
    testing_support::Watchdog watchdog(240, "the headless program round");
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path());
    testing_support::ScriptInput input(session.input_file());
    screens_e2e::ProgramScenario(session, input, "headless_program").run_all();
}

TEST(ScreensProgram, RecordsMadeElsewhereComeAndGoWithoutARefresh) {
    testing_support::Watchdog watchdog(180, "records made elsewhere");
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path());
    testing_support::ScriptInput input(session.input_file());
    screens_e2e::ProgramScenario round(session, input, "records_elsewhere");
    round.prepare();
    round.start(1);
    ASSERT_FALSE(::testing::Test::HasFailure());
    // A recording made by quillory-cli beside the running program gets its row.
    const auto made = session.cli({"record", "--seconds", "1"});
    ASSERT_EQ(made.status, 0) << made.output;
    const std::filesystem::path path(made.output.substr(0, made.output.find('\n')));
    const std::string title = testing_support::media_tag(path, "title");
    ASSERT_FALSE(title.empty());
    ASSERT_TRUE(
        round.wait([&](const Inspection& i) { return i.rows().size() == 2 && i.row_with(title); },
                   "the row of the record quillory-cli made"));
    // Deleted by hand: the row goes.
    std::filesystem::remove(path);
    ASSERT_TRUE(
        round.wait([&](const Inspection& i) { return i.rows().size() == 1 && !i.row_with(title); },
                   "the row of the deleted record gone"));
}
