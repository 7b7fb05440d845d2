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
#include <map>
#include <string>
#include <utility>

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

bool tools_missing(std::string& missing) {
    for (const char* tool : {"mutter", "gdbus", "ffprobe", "sox"})
        if (!testing_support::have_program(tool)) {
            missing = std::string(tool) + " is not installed (scripts/install-deps installs it)";
            return true;
        }
    if (!testing_support::dbus_tools_present(missing)) {
        missing += " is not installed";
        return true;
    }
    return false;
}

// The controls every main form shows, as the program laid them out.
const char* const main_controls[] = {"btnRecord", "btnMenu", "btnFilter", "list"};

// One round at an output scale: the main form on screen, then a recording. The main form's
// controls are kept for comparing the scales.
void round_at(int scale, std::map<std::string, InspectNode>& controls) {
    SCOPED_TRACE("output scale " + std::to_string(scale));
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path(), std::string(QV_BUILD_DIR) + "/bin");
    testing_support::PrivateBus bus((root / "run").string());
    ASSERT_TRUE(bus.ready());
    // Scale 2 is offered on monitors of 1600 x 960 pixels and more.
    testing_support::WaylandServer server(root / "run", bus.address(), 1600, 1280,
                                          root / "mutter.log");
    ASSERT_TRUE(server.ok()) << server.error();
    if (scale != 1) {
        ASSERT_TRUE(server.set_scale(scale)) << server.error();
    }

    const fs::path screenshot = root / "screen.png";
    session.env()["WAYLAND_DISPLAY"] = server.display();
    session.env()["SDL_VIDEODRIVER"] = ""; // the program's own choice: Wayland
    session.env()["DISPLAY"] = "";         // no X to fall back on
    session.env()["QUILLORY_DPI"] = "";    // and its own choice of the skin's scale
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
    for (const char* id : main_controls) {
        const InspectNode* control = shown.shown(id);
        ASSERT_NE(control, nullptr) << id;
        controls[id] = *control;
    }

    round.choose_format_and_boost();
    ASSERT_FALSE(::testing::Test::HasFailure());
    round.record_three_seconds();
}

} // namespace

TEST(ScreensProgramWayland, DevicePixelsSameProportionsAndARecordingAtOutputScalesOneAndTwo) {
    std::string missing;
    if (tools_missing(missing)) {
        if (in_ci())
            FAIL() << missing;
        GTEST_SKIP() << missing;
    }
    testing_support::Watchdog watchdog(400, "the Wayland program rounds");
    std::map<std::string, InspectNode> one, two;
    round_at(1, one);
    ASSERT_FALSE(HasFailure());
    round_at(2, two);
    ASSERT_FALSE(HasFailure());
    // At output scale 2 the skin is drawn at twice the scale: every control at twice the place
    // and size (a pixel of rounding either way).
    for (const char* id : main_controls) {
        const InspectNode& a = one[id];
        const InspectNode& b = two[id];
        for (const auto& [at_one, at_two] :
             {std::pair{a.x, b.x}, std::pair{a.y, b.y}, std::pair{a.w, b.w}, std::pair{a.h, b.h}})
            EXPECT_NEAR(at_two, 2 * at_one, 2) << id;
    }
}
