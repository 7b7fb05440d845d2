// The real program as a native client of a real Wayland compositor (GNOME's mutter, headless,
// without X and without a GPU) on a private session bus, at output scale 1 and 2: it draws in
// device pixels, keeps every control on screen, records and turns through its test input file.

#include "png_convert.h"
#include "screens/program_scenario.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>
#include <map>

namespace {

using screens_e2e::Inspection;
using screens_e2e::InspectNode;

// Every shown control with a size lies inside width x height.
void expect_on_screen(const InspectNode& node, int width, int height) {
    if (!node.shown)
        return;
    if (node.w > 0 && node.h > 0) {
        EXPECT_TRUE(node.x >= 0 && node.y >= 0 && node.x + node.w <= width &&
                    node.y + node.h <= height)
            << node.id << " at " << node.x << "," << node.y << " " << node.w << "x" << node.h;
    }
    for (const InspectNode& child : node.children)
        expect_on_screen(child, width, height);
}

// The controls every main form shows, as the program laid them out.
const char* const main_controls[] = {"btnRecord", "btnMenu", "btnFilter", "list"};

// One round at an output scale: the main form on screen, then a recording. The main form's
// controls are kept for comparing the scales.
void round_at(int scale, std::map<std::string, InspectNode>& controls) {
    SCOPED_TRACE("output scale " + std::to_string(scale));
    testing_support::TempDir root;
    testing_support::ProgramSession session(root.path());
    testing_support::PrivateBus bus((root / "run").string());
    ASSERT_TRUE(bus.ready());
    // Scale 2 is offered on monitors of 1600 x 960 pixels and more.
    testing_support::WaylandServer server(root / "run", bus.address(), 1600, 1280,
                                          root / "mutter.log");
    ASSERT_TRUE(server.ok()) << server.error();
    if (scale != 1) {
        ASSERT_TRUE(server.set_scale(scale)) << server.error();
    }
    session.env()["WAYLAND_DISPLAY"] = server.display();
    session.env()["SDL_VIDEODRIVER"] = ""; // the program's own choice: Wayland
    session.env()["DISPLAY"] = "";         // no X to fall back on
    session.env()["QUILLORY_DPI"] = "";    // and its own choice of the skin's scale
    // The compositor has the private bus; the program none (its menus then list only what
    // every desktop offers).
    session.env()["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (root / "no-bus").string();
    // At real time: a stop that a loaded machine delays adds seconds, not four times as many.
    session.env()["QUILLORY_AUDIO_SPEED"] = "1";
    testing_support::ScriptInput input(session.input_file());
    screens_e2e::ProgramScenario round(session, input, "wayland_program_" + std::to_string(scale));
    round.prepare();
    round.start(1);
    ASSERT_FALSE(::testing::Test::HasFailure());

    // The window is 480 x 640 points: that many device pixels times the scale.
    const int width = 480 * scale, height = 640 * scale;
    skinc::RgbaImage picture;
    std::string reason;
    ASSERT_TRUE(testing_support::wait_for([&] {
        return skinc::read_png(session.screenshot_file(), picture, reason);
    })) << reason;
    EXPECT_EQ(picture.width, width);
    EXPECT_EQ(picture.height, height);
    const Inspection& shown = session.inspect();
    EXPECT_EQ(shown.top()->w, width);
    EXPECT_EQ(shown.top()->h, height);
    expect_on_screen(*shown.top(), width, height);
    for (const char* id : main_controls) {
        const InspectNode* control = shown.shown(id);
        ASSERT_NE(control, nullptr) << id;
        controls[id] = *control;
    }
    round.record_with_a_marker();
    ASSERT_FALSE(::testing::Test::HasFailure());
    // Turned and back: the frames change size with the window (new shared buffers) and the
    // picture follows.
    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{480, 640}}) {
        const std::string size = std::to_string(w) + " " + std::to_string(h);
        input.send("resize " + size);
        ASSERT_TRUE(testing_support::wait_for([&, w = w, h = h] {
            return skinc::read_png(session.screenshot_file(), picture, reason) &&
                   picture.width == w * scale && picture.height == h * scale;
        })) << size
            << ": " << reason;
    }
}

} // namespace

TEST(ScreensProgramWayland, DevicePixelsSameProportionsAndARecordingAtOutputScalesOneAndTwo) {
    QV_SKIP_IF_MISSING(testing_support::missing_program({"mutter", "gdbus", "ffprobe", "sox"}));
    QV_REQUIRE_DBUS_TOOLS();
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
