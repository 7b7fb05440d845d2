// The form stack in the application window: pen points into form coordinates, the inspector's
// tree, the settled hook, new sizes and the dimming.

#include "platform/messages.h"
#include "shell/application.h"
#include "shell/form_host.h"
#include "shell/inspector.h"
#include "skin/component_factory.h"
#include "skin/form.h"
#include "skin/text_source.h"
#include "support/temp_dir.h"
#include "support/test_skin.h"

#include <gtest/gtest.h>

using shell::StackForms;

namespace {

const char* skin_source = R"(
node FormOne {
    id "frmOne"
    node { type "color" id "clrBack" color color = #FF0000 }
    node { type "node" id "pnl \"quoted\""
        node { type "color" id "clrInner" color color = #00FF00 }
    }
}
node FormTwo { id "frmTwo" string visibility_animation = "right" }
node Menu { id "mnu" }
)";

// A control that takes pen input and shows a text.
class Probe final : public skin::Component, public skin::TextSource {
public:
    explicit Probe(skin::Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"probe"; }
    std::u16string_view shown_text() const override { return u"Caf\u00e9\n"; }
    bool pen_button(const skin::PenEvent& event) override {
        presses.push_back(event);
        return true;
    }
    std::vector<skin::PenEvent> presses;
};

class FormHostTest : public ::testing::Test {
protected:
    FormHostTest() {
        skin::register_framework_components(skin::ComponentFactory::instance());
        auto path = testing_support::write_test_skin(m_dir.path(), "test.skin", skin_source);
        EXPECT_TRUE(properties.load_skin(path.u16string(), 96));
    }
    ~FormHostTest() override {
        skin::unregister_framework_components(skin::ComponentFactory::instance());
    }
    std::unique_ptr<skin::Form> form(std::u16string_view node) {
        auto f = std::make_unique<skin::Form>(properties);
        f->require_form(properties, node);
        return f;
    }
    void paint(StackForms& forms) {
        platform::PixelBuffer buffer{pixels.data(), 240, 320, 480};
        forms.paint(buffer);
    }

    testing_support::TempDir m_dir;
    skin::Properties properties;
    std::vector<uint16_t> pixels = std::vector<uint16_t>(240 * 320);
};

TEST_F(FormHostTest, InspectorListsTheVisibleTreeInWindowPixels) {
    StackForms forms;
    auto one = form(u"FormOne");
    auto menu = form(u"Menu");
    auto probe = std::make_unique<Probe>(one.get());
    one->add_child(std::move(probe));
    forms.stack().show_form(*one);
    forms.set_client_origin(0, 26);
    paint(forms);
    forms.stack().show_form(*menu, skin::ShowAs::Overlay);
    std::string json = forms.inspect();
    EXPECT_NE(json.find("{\"width\": 240, \"height\": 320}"), std::string::npos) << json;
    // The form below the overlay shows through: both are listed, bottom first.
    const size_t first = json.find("\"id\": \"frmOne\"");
    EXPECT_LT(first, json.find("\"id\": \"mnu\"")) << json;
    for (const char* part :
         {"{\"overlay\": true",
          "\"type\": \"color\", \"id\": \"clrInner\", \"rect\": [0, 26, 240, 320]",
          "\"id\": \"pnl \\\"quoted\\\"\"", "\"type\": \"probe\"", "\"text\": \"Caf\xC3\xA9\\n\""})
        EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;

    menu.reset(); // a form destroyed while shown drops out
    json = forms.inspect();
    EXPECT_TRUE(json.find("\"mnu\"") == std::string::npos &&
                json.find("frmOne") != std::string::npos);
}

TEST_F(FormHostTest, PenPointsArriveInFormCoordinates) {
    StackForms forms;
    auto one = form(u"FormOne");
    auto owned = std::make_unique<Probe>(one.get());
    Probe* probe = owned.get();
    one->add_child(std::move(owned));
    one->add_input_handler(*probe);
    forms.stack().show_form(*one);
    forms.set_client_origin(0, 26);
    paint(forms);
    forms.pen(shell::PenEvent{shell::PenEvent::Kind::Down, 10, 40, 7, false});
    forms.pen(shell::PenEvent{shell::PenEvent::Kind::Up, -1000000, -1000000, 8, true});
    std::vector<std::tuple<int32_t, int32_t, bool, bool, uint32_t>> seen;
    for (const skin::PenEvent& e : probe->presses)
        seen.emplace_back(e.x, e.y, e.pressed, e.cancelled, e.time);
    EXPECT_EQ(seen,
              (decltype(seen){{10, 14, true, false, 7}, {-1000000, -1000000, false, true, 8}}));
}

TEST_F(FormHostTest, SettledHookRunsOnChangesAndWhenATransitionEnds) {
    StackForms forms;
    int settled = 0;
    forms.set_settled_hook([&](StackForms&) { ++settled; });
    auto settle = [&] {
        int frames = 0;
        do {
            forms.update(0.05);
            paint(forms);
        } while (forms.needs_frame() && ++frames < 50);
        return frames;
    };
    auto one = form(u"FormOne");
    auto two = form(u"FormTwo");
    forms.stack().show_form(*one);
    settle();
    const int after_first = settled;
    EXPECT_GE(after_first, 1);
    paint(forms); // nothing changed
    paint(forms);
    EXPECT_TRUE(settled == after_first && !forms.needs_frame());

    forms.stack().show_form(*two); // slides in from the right for 0.2 s
    EXPECT_TRUE(forms.needs_frame());
    paint(forms);
    EXPECT_EQ(settled, after_first + 1); // the change
    const int frames = settle();
    EXPECT_TRUE(frames >= 3 && frames < 50) << frames;
    EXPECT_EQ(settled, after_first + 2); // the end of the transition
    EXPECT_TRUE(!forms.needs_frame() && forms.stack().transition() == nullptr);
}

TEST_F(FormHostTest, ANewWindowSizeLaysOutEveryFormOnTheStack) {
    StackForms forms;
    auto one = form(u"FormOne");
    auto menu = form(u"Menu");
    forms.stack().show_form(*one);
    forms.stack().show_form(*menu, skin::ShowAs::Overlay);
    paint(forms);
    EXPECT_TRUE(one->width() == 240 && menu->width() == 240);
    std::vector<uint16_t> larger(300 * 400);
    platform::PixelBuffer buffer{larger.data(), 300, 400, 600};
    forms.paint(buffer);
    // Every form, and the children with their form.
    for (const skin::Component* c :
         std::vector<const skin::Component*>{one.get(), menu.get(), one->find_child(u"clrInner")})
        EXPECT_EQ(std::tuple(c->width(), c->height()), std::tuple(300, 400));
}

TEST_F(FormHostTest, TheLastStepOfTheDimmingReachesTheScreen) {
    StackForms forms;
    auto one = form(u"FormOne");
    auto menu = form(u"Menu");
    auto settle = [&] {
        for (int frames = 0; frames < 50 && forms.needs_frame(); ++frames) {
            forms.update(0.02);
            paint(forms);
        }
    };
    forms.stack().show_form(*one);
    settle();
    EXPECT_EQ(pixels[0], 0x07E0); // the green of clrInner, over clrBack
    forms.stack().show_form(*menu, skin::ShowAs::Overlay);
    settle();
    forms.stack().close_form(*menu);
    settle();
    EXPECT_TRUE(forms.stack().dim_level() == skin::FormStack::undimmed && pixels[0] == 0x07E0);
}

} // namespace
