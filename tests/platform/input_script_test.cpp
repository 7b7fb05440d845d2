#include "platform/input_script.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using platform::ScriptEvent;

TEST(InputScriptTest, ReadsEachEventAndRefusesMalformedLines) {
    std::string error;
    const auto tap = platform::parse_script_line("tap -3 20\r", &error);
    ASSERT_TRUE(tap) << error;
    EXPECT_EQ(tap->kind, ScriptEvent::Kind::Tap);
    EXPECT_EQ(tap->x, -3);
    EXPECT_EQ(tap->y, 20);

    const auto finger = platform::parse_script_line("finger 7 up 100 200");
    ASSERT_TRUE(finger);
    EXPECT_EQ(finger->finger, 7);
    EXPECT_EQ(finger->phase, ScriptEvent::Phase::Up);

    const auto key = platform::parse_script_line("  key 27");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->key, 27u);

    const auto text = platform::parse_script_line("text  caf\xC3\xA9 1 2 ");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text, "caf\xC3\xA9 1 2 ");

    EXPECT_FALSE(platform::parse_script_line("   ", &error));
    EXPECT_TRUE(error.empty());
    // A malformed line must be refused, never read as numbers it does not hold.
    for (const char* line :
         {"tap 10", "tap 10 x", "tap 10 20 30", "tap 1e3 20", "tap 10 99999999999", "move -5",
          "finger 1 sideways 3 4", "finger x down 3 4", "resize 240", "key", "key -1", "key 0x1B",
          "kick 1 2"}) {
        SCOPED_TRACE(line);
        error.clear();
        EXPECT_FALSE(platform::parse_script_line(line, &error));
        EXPECT_FALSE(error.empty());
    }
}

// Lines are read once, only when whole; a refused line does not stop the ones after it.
TEST(InputScriptTest, ReadsOnlyCompleteLinesOnce) {
    const std::filesystem::path path = ::testing::TempDir() + "qv-input-script";
    std::ofstream(path) << "tap 1 2\nbogus\nkey 13\nmove 5";
    platform::InputScript script(path.string());
    auto events = script.read_new();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, ScriptEvent::Kind::Key);
    EXPECT_TRUE(script.read_new().empty());
    std::ofstream(path, std::ios::app) << " 6\n";
    events = script.read_new();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, ScriptEvent::Kind::Move);
    EXPECT_EQ(events[0].y, 6);
    std::filesystem::remove(path);
}

} // namespace
