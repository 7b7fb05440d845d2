// The real program as a native client of a real Wayland compositor (GNOME's mutter, headless,
// without X and without a GPU) on a private session bus, at output scale 1 and 2: it draws in
// device pixels, keeps every control on screen and records through its test input file.

#include "screens/program_scenario.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using testing_support::InspectNode;

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

// Width and height from a PNG file's header; 0 x 0 when it is not one.
std::pair<int, int> png_size(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char header[24] = {};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header) || header[1] != 'P' ||
        std::memcmp(header + 12, "IHDR", 4) != 0)
        return {0, 0};
    auto be32 = [&](int at) {
        return int(uint32_t(header[at]) << 24 | uint32_t(header[at + 1]) << 16 |
                   uint32_t(header[at + 2]) << 8 | uint32_t(header[at + 3]));
    };
    return {be32(16), be32(20)};
}

// Every shown control with a size lies inside width x height.
void expect_on_screen(const InspectNode& node, int width, int height) {
    if (!node.shown)
        return;
    if (node.w > 0 && node.h > 0) {
        EXPECT_GE(node.x, 0) << node.id;
        EXPECT_GE(node.y, 0) << node.id;
        EXPECT_LE(node.x + node.w, width) << node.id;
        EXPECT_LE(node.y + node.h, height) << node.id;
    }
    for (const InspectNode& child : node.children)
        expect_on_screen(child, width, height);
}

class ScreensProgramWayland : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(ScreensProgramWayland, MainFormInDevicePixelsAndARecording) {
    const int scale = GetParam();
    std::string missing;
    for (const char* tool : {"mutter", "gdbus", "ffprobe", "sox"})
        if (missing.empty() && !testing_support::have_program(tool))
            missing = std::string(tool) + " is not installed (scripts/install-deps installs it)";
    if (missing.empty() && !testing_support::dbus_tools_present(missing))
        missing += " is not installed";
    if (!missing.empty()) {
        if (in_ci())
            FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    testing_support::Watchdog watchdog(240, "the Wayland program round");
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path(), std::string(QV_BUILD_DIR) + "/bin");
    testing_support::PrivateBus bus((root / "run").string());
    ASSERT_TRUE(bus.ready());
    // Scale 2 is offered on monitors of 1600 x 960 pixels and more.
    testing_support::WaylandServer server(root / "run", bus.address(), 1600, 1280,
                                          root / "mutter.log");
    ASSERT_TRUE(server.ok()) << server.error();
    if (scale != 1)
        ASSERT_TRUE(server.set_scale(scale)) << server.error();

    const fs::path screenshot = root / "screen.png";
    session.env()["WAYLAND_DISPLAY"] = server.display();
    session.env()["SDL_VIDEODRIVER"] = ""; // the program's own choice: Wayland
    session.env()["DISPLAY"] = "";         // no X to fall back on
    // The compositor has the private bus; the program none (its menus then list only what
    // every desktop offers).
    session.env()["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (root / "no-bus").string();
    session.env()["QUILLORY_SCREENSHOT"] = screenshot.string();
    session.env()["QUILLORY_INPUT"] = session.input_file().string();
    testing_support::ScriptInput input(session.input_file());
    screens_e2e::ProgramScenario round(session, input, "wayland_program_" + std::to_string(scale));
    round.prepare();
    // At real time: a stop that a loaded machine delays adds seconds, not four times as many.
    session.env()["QUILLORY_AUDIO_SPEED"] = "1";
    round.start(1);
    ASSERT_FALSE(::testing::Test::HasFailure());

    // The window is 480 x 640 points: that many device pixels times the scale.
    const int width = 480 * scale, height = 640 * scale;
    ASSERT_TRUE(testing_support::wait_for([&] { return png_size(screenshot).first > 0; }));
    EXPECT_EQ(png_size(screenshot), std::make_pair(width, height));
    const testing_support::Inspection& shown = session.inspect();
    ASSERT_NE(shown.top(), nullptr);
    EXPECT_EQ(shown.top()->w, width);
    EXPECT_EQ(shown.top()->h, height);
    expect_on_screen(*shown.top(), width, height);
    ASSERT_NE(shown.shown("btnRecord"), nullptr);

    round.choose_format_and_boost();
    ASSERT_FALSE(::testing::Test::HasFailure());
    round.record_three_seconds();
}

INSTANTIATE_TEST_SUITE_P(OutputScales, ScreensProgramWayland, ::testing::Values(1, 2));
