// Input in a form: pen presses tried on the handlers under the pen in order and captured until
// the pen is lifted, hidden and disabled handlers skipped.

#include "forms_fixture.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace skin;

namespace {

// A control that subscribes to its form's input and writes down what reaches it.
class Probe : public Component {
public:
    explicit Probe(Component* parent) : Component(parent) { form()->add_input_handler(*this); }
    std::u16string_view type_name() const override { return u"probe"; }

    bool pen_button(const PenEvent& e) override {
        log->push_back(id() + (e.pressed ? u" down" : u" up"));
        if (on_press && e.pressed) {
            on_press();
            // Still in use after what the press did (a freed probe would trip the sanitizer).
            log->push_back(id() + u" done");
        }
        return consume;
    }
    void pen_move(const PenEvent& e) override {
        log->push_back(id() + u" move " + std::u16string(1, char16_t(u'0' + e.x / 10)));
    }
    bool key(const KeyEvent& e) override {
        log->push_back(id() + u" key");
        return consume && e.code == 9;
    }
    bool command(const Command&) override {
        log->push_back(id() + u" command");
        return consume;
    }

    static inline std::vector<std::u16string>* log = nullptr;
    bool consume{false};
    std::function<void()> on_press;
};

class FormInput : public forms_test::FormsTest {
protected:
    void SetUp() override {
        factory().add(u"probe", [](Component* p) { return std::make_unique<Probe>(p); });
        Probe::log = &log;
        load_forms();
        f = form(u"FormInput", 200, 200);
        back = static_cast<Probe*>(f->find_child(u"back"));
        front = static_cast<Probe*>(f->find_child(u"front"));
        f->find_child(u"box")->set_visible(false);
    }
    void TearDown() override {
        f.reset();
        factory().remove(u"probe");
        Probe::log = nullptr;
    }

    std::vector<std::u16string> log;
    std::unique_ptr<Form> f;
    Probe* back{};
    Probe* front{};
};

using Log = std::vector<std::u16string>;

TEST_F(FormInput, PressTriesHandlersUntilOneConsumesAndTheCaptureHolds) {
    // Neither consumes: both are captured; the hidden one under the pen gets nothing.
    EXPECT_FALSE(f->pen_button(pen_at(50, 50, true)));
    EXPECT_TRUE(log == (Log{u"back down", u"front down"}) && f->captured_handlers().size() == 2);
    // The release goes to the captured ones wherever the pen is lifted.
    log.clear();
    EXPECT_TRUE(f->pen_button(pen_at(190, 190, false)));
    EXPECT_TRUE(log == (Log{u"back up", u"front up"}) && f->captured_handlers().empty());

    // The first that consumes ends the walk.
    log.clear();
    back->consume = true;
    EXPECT_TRUE(f->pen_button(pen_at(50, 50, true)));
    EXPECT_EQ(log, (Log{u"back down"}));
    EXPECT_EQ(f->captured_handlers(), (std::vector<Component*>{back}));
    f->pen_button(pen_at(0, 0, false));

    // A press away from both reaches neither.
    log.clear();
    EXPECT_FALSE(f->pen_button(pen_at(150, 10, true)));
    EXPECT_TRUE(log.empty());

    // Release and moves go to the captured handler only.
    front->consume = true;
    f->pen_button(pen_at(90, 90, true));
    log.clear();
    // Over the other handler now, but the capture holds.
    f->pen_move(pen_at(10, 10, true));
    f->pen_button(pen_at(10, 10, false));
    EXPECT_EQ(log, (Log{u"front move 1", u"front up"}));

    // Without capture a move goes to every shown handler under the pen.
    log.clear();
    f->pen_move(pen_at(50, 50, false));
    EXPECT_EQ(log, (Log{u"back move 5", u"front move 5"}));
}

TEST_F(FormInput, DisabledOrRemovedCapturedHandlersGetNoRelease) {
    f->pen_button(pen_at(50, 50, true));
    front->set_enabled(false);
    log.clear();
    f->pen_button(pen_at(50, 50, false));
    f->pen_button(pen_at(50, 50, true));
    EXPECT_EQ(log, (Log{u"back up", u"back down"}));
    front->set_enabled(true);
    f->pen_button(pen_at(50, 50, false));
    f->pen_button(pen_at(50, 50, true));
    ASSERT_TRUE(f->remove_child(*back));
    EXPECT_EQ(f->input_handlers().size(), 2u);
    log.clear();
    f->pen_button(pen_at(50, 50, false));
    EXPECT_EQ(log, (Log{u"front up"}));
}

} // namespace

// A reload asked for by a press (a language chosen in a menu) runs once the press has left.
TEST_F(FormInput, AReloadAskedForDuringInputWaitsOrRaisesToTheCaller) {
    back->consume = true;
    back->on_press = [this] {
        properties.send_reload_skin();
        log.push_back(u"reload asked");
    };
    const Probe* old_back = back;
    EXPECT_TRUE(f->pen_button(pen_at(10, 10, true)));
    EXPECT_EQ(log, (Log{u"back down", u"reload asked", u"back done"}));
    // Rebuilt after the press: new controls, nothing captured by the old ones.
    Component* rebuilt = f->find_child(u"back");
    EXPECT_TRUE(rebuilt && rebuilt != old_back);
    EXPECT_TRUE(f->captured_handlers().empty() && f->input_handlers().size() == 3);
    // Outside input the reload is immediate.
    properties.send_reload_skin();
    EXPECT_NE(f->find_child(u"back"), rebuilt);

    // A reload that cannot find the form raises from the input call, never from a destructor.
    back = static_cast<Probe*>(f->find_child(u"back"));
    back->consume = true;
    back->on_press = [this] {
        load(R"(node FormOther { type "form" })");
        properties.send_reload_skin();
    };
    EXPECT_THROW(f->pen_button(pen_at(10, 10, true)), virire::NodeNotFoundInSkin);
    back->on_press = nullptr;
    log.clear();
    // The form still takes input afterwards: nothing is left counted as under way.
    load_forms();
    EXPECT_TRUE(f->key(KeyEvent{9, true}));
    EXPECT_NE(f->find_child(u"back"), nullptr);
}
