// The skins the program ships: they load at both pixel densities, hold every form, template,
// node and control the screens look up in the kind the screens expect, and draw as the golden
// previews show.

#include "foundation/text.h"
#include "png_convert.h"
#include "preview.h"
#include "skin/button.h"
#include "skin/component_factory.h"
#include "skin/edit.h"
#include "skin/form.h"
#include "skin/image_component.h"
#include "skin/progress.h"
#include "skin/properties.h"
#include "skin/surface.h"
#include "skin/text_component.h"
#include "skin/vlist.h"
#include "support/golden_png.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace skin;

enum class Kind { Node, Text, Edit, Image, Button, Progress, List };

struct Lookup {
    const char16_t* form;
    const char16_t* id;
    Kind kind;
};

// What the screens find by id in each form or template.
const Lookup lookups[] = {
    // The record list.
    {u"FormMain", u"btnRecord", Kind::Button},
    {u"FormMain", u"btnFilter", Kind::Button},
    {u"FormMain", u"btnCloseFilter", Kind::Button},
    {u"FormMain", u"btnMenu", Kind::Button},
    {u"FormMain", u"list", Kind::List},
    {u"FormMain", u"KeyboardContainer", Kind::Node},
    {u"FormMain", u"button0", Kind::Button},
    {u"FormMain", u"button1", Kind::Button},
    {u"FormMain", u"button2", Kind::Button},
    {u"FormMain", u"button3", Kind::Button},
    {u"FormMain", u"button4", Kind::Button},
    {u"FormMain", u"button5", Kind::Button},
    {u"FormMain", u"button6", Kind::Button},
    {u"FormMain", u"button7", Kind::Button},
    {u"FormMain", u"button8", Kind::Button},
    {u"FormMain", u"button9", Kind::Button},
    {u"FormMain", u"button_hash", Kind::Button},
    {u"FormMain", u"button_backspace", Kind::Button},
    {u"FormMain", u"main_memory", Kind::Image},
    {u"FormMain", u"main_memory_incoming", Kind::Image},
    {u"FormMain", u"main_memory_outgoing", Kind::Image},
    {u"FormMain", u"card", Kind::Image},
    {u"FormMain", u"card_incoming", Kind::Image},
    {u"FormMain", u"card_outgoing", Kind::Image},
    {u"Record", u"icon", Kind::Image},
    {u"Record", u"artist", Kind::Text},
    {u"Record", u"name", Kind::Text},
    // Recording.
    {u"FormRecording", u"icon", Kind::Image},
    {u"FormRecording", u"frmArtist", Kind::Text},
    {u"FormRecording", u"frmElapsed", Kind::Text},
    {u"FormRecording", u"frmLeft", Kind::Text},
    {u"FormRecording", u"frmInfo", Kind::Text},
    {u"FormRecording", u"frmSize", Kind::Text},
    {u"FormRecording", u"btnName", Kind::Button},
    {u"FormRecording", u"btnClose", Kind::Button},
    {u"FormRecording", u"btnPause", Kind::Button},
    {u"FormRecording", u"btnResume", Kind::Button},
    {u"FormRecording", u"btnMark", Kind::Button},
    {u"FormView", u"btnMarkPrev", Kind::Button},
    {u"FormView", u"btnMark", Kind::Button},
    {u"FormView", u"btnMarkNext", Kind::Button},
    {u"FormRecording", u"btnBoost", Kind::Button},
    {u"FormRecording", u"BoostOn", Kind::Node},
    {u"FormRecording", u"BoostOff", Kind::Node},
    {u"FormRecording", u"btnSpeakerOn", Kind::Button},
    {u"FormRecording", u"btnSpeakerOff", Kind::Button},
    {u"FormRecording", u"btnVAS", Kind::Button},
    {u"FormRecording", u"pbLevel", Kind::Progress},
    {u"FormRecording", u"pbVAS", Kind::Progress},
    // Playback.
    {u"FormView", u"icon", Kind::Image},
    {u"FormView", u"frmArtist", Kind::Text},
    {u"FormView", u"frmElapsed", Kind::Text},
    {u"FormView", u"frmLeft", Kind::Text},
    {u"FormView", u"frmInfo", Kind::Text},
    {u"FormView", u"frmSize", Kind::Text},
    {u"FormView", u"btnName", Kind::Button},
    {u"FormView", u"btnClose", Kind::Button},
    {u"FormView", u"btnPlay", Kind::Button},
    {u"FormView", u"btnPause", Kind::Button},
    {u"FormView", u"btnMenu", Kind::Button},
    {u"FormView", u"btnVolume", Kind::Button},
    {u"FormView", u"btnPosition", Kind::Button},
    {u"FormView", u"pbLevel", Kind::Progress},
    {u"FormView", u"pbVolume", Kind::Progress},
    {u"FormView", u"pbPosition", Kind::Progress},
    // Rename, confirmation, error.
    {u"FormEdit", u"edit", Kind::Edit},
    {u"FormEdit", u"btnOk", Kind::Button},
    {u"FormEdit", u"btnCancel", Kind::Button},
    {u"FormConfirmation", u"text", Kind::Text},
    {u"FormConfirmation", u"btnOk", Kind::Button},
    {u"FormConfirmation", u"btnCancel", Kind::Button},
    {u"FormError", u"text", Kind::Text},
    {u"FormError", u"btnClose", Kind::Button},
    // The popup menu and its rows.
    {u"Menu", u"panel", Kind::Node},
    {u"Menu", u"caption", Kind::Text},
    {u"Menu", u"vlist", Kind::List},
    {u"MenuElement", u"#text", Kind::Text},
    {u"MenuElement", u"separator", Kind::Node},
    {u"MenuElement", u"checked", Kind::Node},
    {u"MenuElementUnchecked", u"#text", Kind::Text},
    {u"MenuElementUnchecked", u"separator", Kind::Node},
    {u"MenuElementDisabled", u"#text", Kind::Text},
    {u"MenuElement4Buttons", u"About", Kind::Button},
    {u"MenuElement4Buttons", u"Help", Kind::Button},
    {u"MenuElement4Buttons", u"Minimize", Kind::Button},
    {u"MenuElement4Buttons", u"Exit", Kind::Button},
    // Quick record.
    {u"QuickRecord", u"btnOk", Kind::Button},
    {u"QuickRecord", u"list", Kind::List},
    {u"HardwareKey", u"name", Kind::Text},
    {u"HardwareKey", u"icon", Kind::Image},
    {u"HardwareKey", u"checked", Kind::Node},
    {u"HardwareKey", u"unchecked", Kind::Node},
    // The start-up screen.
    {u"FormSplash", nullptr, Kind::Node},
};

bool is_kind(const Component& c, Kind kind) {
    switch (kind) {
    case Kind::Node:
        return true;
    case Kind::Text:
        return dynamic_cast<const TextComponent*>(&c) != nullptr;
    case Kind::Edit:
        return dynamic_cast<const Edit*>(&c) != nullptr;
    case Kind::Image:
        return dynamic_cast<const ImageComponent*>(&c) != nullptr;
    case Kind::Button:
        return dynamic_cast<const Button*>(&c) != nullptr;
    case Kind::Progress:
        return dynamic_cast<const Progress*>(&c) != nullptr;
    case Kind::List:
        return dynamic_cast<const VList*>(&c) != nullptr;
    }
    return false;
}

std::filesystem::path skins() {
    return std::filesystem::path(QV_BUILD_DIR) / "bin/skins/bin";
}
std::string english() {
    return std::string(QV_SOURCE_DIR) + "/data/english.lng";
}

class ShippedSkin : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { register_framework_components(ComponentFactory::instance()); }
    void TearDown() override { unregister_framework_components(ComponentFactory::instance()); }
};

TEST_P(ShippedSkin, EveryLookedUpIdIsThereInItsKind) {
    const int dpi = GetParam();
    Properties main_skin, splash_skin;
    ASSERT_TRUE(main_skin.load_skin((skins() / "default.skin").u16string(), dpi));
    ASSERT_TRUE(splash_skin.load_skin((skins() / "splash.skin").u16string(), dpi));
    for (const Lookup& lookup : lookups) {
        std::u16string form_name = lookup.form;
        Properties& properties = form_name == u"FormSplash" ? splash_skin : main_skin;
        SCOPED_TRACE(foundation::to_utf8(form_name) + " / " +
                     (lookup.id ? foundation::to_utf8(lookup.id) : std::string("-")));
        Form form(properties);
        ASSERT_TRUE(form.load_form(properties, form_name));
        if (!lookup.id)
            continue;
        Component* c = form.find_child(lookup.id);
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(is_kind(*c, lookup.kind));
    }
    // Named colour nodes: each sets its colour (a fallback that cannot be the skin's shows it).
    for (const char16_t* name : {u"filtered_color", u"icon_color"}) {
        NodeDir dir = main_skin.find_named_node(name);
        ASSERT_TRUE(dir.valid()) << foundation::to_utf8(name);
        SkinColor a = main_skin.get_color(dir, u"color", SkinColor{1, 2, 3, 4});
        SkinColor b = main_skin.get_color(dir, u"color", SkinColor{5, 6, 7, 8});
        EXPECT_EQ(a.red, b.red);
        EXPECT_EQ(a.green, b.green);
    }
    // Every location picture has a picture.
    Form main_form(main_skin);
    ASSERT_TRUE(main_form.load_form(main_skin, u"FormMain"));
    for (const char16_t* id : {u"main_memory", u"main_memory_incoming", u"main_memory_outgoing",
                               u"card", u"card_incoming", u"card_outgoing"}) {
        auto* image = dynamic_cast<ImageComponent*>(main_form.find_child(id));
        ASSERT_NE(image, nullptr);
        EXPECT_GT(image->picture().natural_size().x, 0) << foundation::to_utf8(id);
    }
}

INSTANTIATE_TEST_SUITE_P(Densities, ShippedSkin, ::testing::Values(96, 192));

TEST(ShippedSkinPreview, MainFormAndSplashMatchTheirGoldens) {
    struct Case {
        std::vector<std::string> args;
        const char* golden;
    };
    const std::string main_skin = (skins() / "default.skin").string();
    const Case cases[] = {
        {{"FormMain", main_skin, "--lang", english(), "--rows", "8", "--hide",
          "KeyboardContainer,btnCloseFilter,lblEmpty"},
         "skin/shipped_main.png"},
        {{"FormMain", main_skin, "--lang", english(), "--rows", "8", "--hide", "btnFilter,lblEmpty",
          "--size", "480x640", "--dpi", "192"},
         "skin/shipped_keypad_2x.png"},
        {{"FormSplash", (skins() / "splash.skin").string()}, "skin/shipped_splash.png"},
    };
    for (const Case& c : cases) {
        RenderSurface target;
        std::string error;
        ASSERT_TRUE(skinc::render_form(c.args, target, error)) << error;
        // Antialiased text may move by a shade between font library versions.
        EXPECT_TRUE(testing_support::matches_golden(target, c.golden, 40));
    }
}

TEST(ShippedSkinPreview, UnknownFormIsAnError) {
    RenderSurface target;
    std::string error;
    EXPECT_FALSE(
        skinc::render_form({"NoSuchForm", (skins() / "default.skin").string()}, target, error));
    EXPECT_FALSE(error.empty());
}

} // namespace
