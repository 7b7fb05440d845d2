// Buttons, check boxes, progress bars and labels: what the listener hears and the user sees.

#include "forms_fixture.h"
#include "skin/button.h"
#include "skin/checkbox.h"
#include "skin/exceptions.h"
#include "skin/progress.h"
#include "skin/text_component.h"
#include "support/golden_png.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace skin;

namespace {

struct Recorder : ButtonListener {
    void clicked(Component&, const ClickRecord& c) override { log.push_back("click"), last = c; }
    void press_changed(Component&, const ClickRecord& c) override {
        log.push_back(c.flag ? "down" : "up");
    }
    void dragged(Component&, DragRecord& d) override {
        drags.push_back(d);
        d.remainder_x = remainder;
    }
    std::vector<std::string> log;
    std::vector<DragRecord> drags;
    ClickRecord last;
    int32_t remainder{0};
};

struct CheckRecorder : CheckboxListener {
    void clicked(Checkbox&, bool) override { ++clicks; }
    void state_changed(Checkbox& c, bool) override { states.push_back(c.state()); }
    int clicks{0};
    std::vector<int32_t> states;
};

class Widgets : public forms_test::FormsTest {
protected:
    void SetUp() override {
        load_forms();
        f = form(u"WButtons", 100, 90);
        btn = &f->find_control<Button>(u"btn");
        btn->set_listener(&rec);
    }
    void pen(int32_t x, int32_t y, bool down, bool cancelled = false) {
        f->pen_button(PenEvent{x, y, 0, 0, down, cancelled});
    }
    void move(int32_t x, int32_t y) { f->pen_move(pen_at(x, y, false)); }
    RenderSurface& draw() {
        target.recreate(100, 90);
        f->paint(target, SkinPoint{});
        return target;
    }

    std::unique_ptr<Form> f;
    Button* btn{nullptr};
    Recorder rec;
    RenderSurface target;
};

// A button's drag remainders carry into the next move; it clicks when released inside or by its
// bound key, at its centre.
TEST_F(Widgets, ButtonDragsAndClicksWhenReleasedInsideOrByItsKey) {
    pen(20, 15, true);
    rec.remainder = 3;
    move(30, 15);
    ASSERT_EQ(rec.drags.size(), 2u);
    EXPECT_EQ(rec.drags[1].dx, 10);
    move(35, 15);
    // 3 pixels were left over: the offset counts from 27, not 30.
    EXPECT_EQ(rec.drags[2].dx, 8);
    pen(35, 15, false);
    move(40, 15);
    EXPECT_EQ(rec.drags.size(), 3u);
    rec.log.clear();
    pen(20, 15, true);
    EXPECT_TRUE(btn->pressed());
    pen(25, 18, false);
    EXPECT_EQ(rec.log, (std::vector<std::string>{"down", "up", "click"}));
    EXPECT_EQ(rec.last.x, 25);
    for (bool cancelled : {false, true}) { // released outside; capture lost inside
        rec.log.clear();
        pen(20, 15, true);
        if (!cancelled)
            move(90, 80);
        cancelled ? pen(20, 15, false, true) : pen(90, 80, false);
        EXPECT_EQ(rec.log, (std::vector<std::string>{"down", "up"}));
        EXPECT_FALSE(btn->pressed());
    }
    rec.log.clear();
    EXPECT_EQ(btn->bound_key(), 9u);
    EXPECT_TRUE(f->key(KeyEvent{9, true}));
    EXPECT_EQ(btn->shown_state()->id(), u"#pressed");
    EXPECT_TRUE(f->key(KeyEvent{9, false}));
    EXPECT_EQ(rec.log, (std::vector<std::string>{"down", "up", "click"}));
    EXPECT_EQ(std::tuple(rec.last.x, rec.last.y), std::tuple(30, 20));
    // Other keys pass; key names match exactly.
    EXPECT_FALSE(f->key(KeyEvent{10, true}));
    EXPECT_EQ(f->find_control<Button>(u"bare").bound_key(), 0u);
    EXPECT_NE(key_code_from_name(u"Q"), key_code_from_name(u"R"));
}

// Pressed and disabled buttons show their pictures (the clip keeps its child inside).
TEST_F(Widgets, StatePicturesFollowEnabledPressedAndChecked) {
    EXPECT_TRUE(testing_support::matches_golden(draw(), "skin/widgets/normal.png"));
    pen(20, 15, true);
    EXPECT_TRUE(testing_support::matches_golden(draw(), "skin/widgets/button_pressed.png"));
    pen(20, 15, false);
    btn->set_enabled(false);
    EXPECT_EQ(btn->shown_state()->id(), u"#disabled");
    EXPECT_TRUE(testing_support::matches_golden(draw(), "skin/widgets/button_disabled.png"));

    // Without "#pressed" or "#disabled" the normal picture stays.
    auto& bare = f->find_control<Button>(u"bare");
    pen(65, 15, true);
    EXPECT_TRUE(bare.pressed());
    EXPECT_EQ(draw().surface()->pixel(65, 15), 0x07E0);
    pen(65, 15, false);
    bare.set_enabled(false);
    EXPECT_EQ(draw().surface()->pixel(65, 15), 0x07E0);

    // A check box cycles without a listener and asks its listener.
    auto& check = f->find_control<Checkbox>(u"check");
    EXPECT_EQ(check.states(), 3);
    std::vector<int32_t> seen;
    for (int i = 0; i < 4; ++i) {
        pen(15, 45, true);
        pen(15, 45, false);
        seen.push_back(check.state());
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 0, 1}));
    EXPECT_TRUE(check.state_button(1).visible() && !check.state_button(0).visible());
    EXPECT_EQ(draw().surface()->pixel(15, 45), 0xFFFF);

    CheckRecorder listener;
    check.set_listener(&listener);
    pen(15, 45, true);
    pen(15, 45, false);
    EXPECT_TRUE(listener.clicks == 1 && check.state() == 1);
    check.set_state(2);
    check.set_state(7); // out of range: ignored
    EXPECT_EQ(listener.states, (std::vector<int32_t>{2}));
    EXPECT_EQ(draw().surface()->pixel(15, 45), 0xF81F);
}

TEST_F(Widgets, ProgressLineTakesItsShareAndAbsurdValuesAreTamed) {
    auto& bar = f->find_control<Progress>(u"bar");
    Component* line = bar.line();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->width(), 0);
    bar.set_value(0.5);
    EXPECT_EQ(line->width(), 38); // (80 - 2 - 2) / 2
    EXPECT_TRUE(testing_support::matches_golden(draw(), "skin/widgets/progress_half.png"));
    // Under one pixel, and values beyond either end.
    for (const auto& [value, width] : {std::pair(1.0, 76), {0.01, 0}, {-3.0, 0}, {7.0, 76}}) {
        bar.set_value(value);
        EXPECT_EQ(line->width(), width) << value;
    }
    EXPECT_EQ(bar.value(), 1.0);

    try {
        form(u"WBadCheck");
        FAIL() << "no exception";
    } catch (const virire::NodeNotFound& e) {
        EXPECT_EQ(e.form_id(), u"cb");
        EXPECT_EQ(e.child_id(), u"#state_1");
    }
    auto absurd = form(u"WAbsurd");
    EXPECT_EQ(absurd->find_control<Checkbox>(u"zero").states(), 1);
    auto& t = absurd->find_control<TextComponent>(u"t");
    // Lower case does not match.
    EXPECT_TRUE(t.halign() == HAlign::Center && t.valign() == VAlign::Top && t.grow());
}

} // namespace
