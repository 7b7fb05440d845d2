// Editing in place: focus, typed text, caret keys, the blink, and a label edit's caption.

#include "forms_fixture.h"
#include "skin/button_listener.h"
#include "skin/edit.h"
#include "skin/label_edit.h"
#include "support/golden_png.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

using namespace skin;

namespace {

class EditTest : public forms_test::FormsTest {
protected:
    void SetUp() override {
        Edit::set_text_input_switch([this](bool on, const Rect& r) {
            switches.push_back(on);
            area = r;
        });
        load_forms();
        f = form(u"EForm");
        f->place(0, 0, 200, 160);
        ed = &f->find_control<Edit>(u"ed");
    }
    void TearDown() override {
        f.reset();
        Edit::set_text_input_switch(nullptr);
    }
    void tap(int32_t x, int32_t y) {
        f->pen_button(pen_at(x, y, true));
        f->pen_button(pen_at(x, y, false));
    }
    bool key(std::u16string_view name) { return f->key(KeyEvent{key_code_from_name(name), true}); }
    void type(std::u16string text) { f->command(Command{Edit::command_text, std::move(text)}); }

    std::unique_ptr<Form> f;
    Edit* ed{nullptr};
    std::vector<bool> switches;
    Rect area;
};

TEST_F(EditTest, TapFocusesAndTypedTextGoesInAtTheCaret) {
    type(u"ignored");
    EXPECT_EQ(ed->text(), u"");
    tap(15, 20);
    EXPECT_TRUE(ed->editing() && switches == std::vector<bool>{true});
    EXPECT_EQ(area, Rect::of_size(10, 10, 150, 30));
    type(u"helo");
    EXPECT_EQ(ed->caret(), 4u);
    key(u"Left");
    type(u"l");
    EXPECT_TRUE(ed->text() == u"hello" && ed->caret() == 4);
    key(u"Home");
    key(u"Backspace"); // at 0 it does nothing
    EXPECT_TRUE(ed->text() == u"hello" && ed->caret() == 0);
    key(u"Del");
    EXPECT_EQ(ed->text(), u"ello");
    key(u"End");
    key(u"Backspace");
    EXPECT_EQ(ed->text(), u"ell");
    key(u"Right"); // at the end it stays
    EXPECT_EQ(ed->caret(), 3u);
    f->command(Command{Edit::command_select_all, {}});
    f->command(Command{Edit::command_paste, u"new\ntitle"});
    EXPECT_EQ(ed->text(), u"newtitle"); // one line: the line break is dropped
    // A tap at the far left puts the caret at the start.
    tap(11, 20);
    EXPECT_EQ(ed->caret(), 0u);
    ed->set_edit(false);
    EXPECT_EQ(switches, (std::vector<bool>{true, false}));
    EXPECT_FALSE(key(u"Left"));
}

TEST_F(EditTest, CaretBlinksWithAOneSecondPeriod) {
    EXPECT_FALSE(ed->caret_shown());
    ed->tick(0.3);
    EXPECT_EQ(ed->blink_phase(), 1.0);
    ed->set_edit(true);
    std::vector<bool> shown{ed->caret_shown()};
    for (double seconds : {0.3, 0.3, 0.5, 0.7}) {
        ed->tick(seconds);
        shown.push_back(ed->caret_shown());
    }
    EXPECT_EQ(shown, (std::vector<bool>{true, true, false, true, false}));
    key(u"Left"); // any key shows the caret at once
    EXPECT_TRUE(ed->caret_shown());
    // The caret is a bar of a quarter line height in the text colour.
    type(u"ab");
    RenderSurface target;
    target.recreate(200, 160);
    f->paint(target, SkinPoint{});
    const Rect caret = ed->caret_rect();
    EXPECT_TRUE(caret.left > 10 && caret.width() >= 1);
    EXPECT_EQ(target.surface()->pixel(caret.left, caret.top + caret.height() / 2), 0xFFFF);
    EXPECT_EQ(target.surface()->pixel(155, 12), 0x0010);
    EXPECT_TRUE(testing_support::matches_golden(target, "skin/widgets/edit.png", 64));
}

TEST_F(EditTest, WrappedEditMovesByLinesAndEnterBreaks) {
    auto& multi = f->find_control<Edit>(u"multi");
    multi.set_edit(true);
    EXPECT_FALSE(ed->editing());
    type(u"ab");
    key(u"Enter");
    type(u"cd");
    EXPECT_EQ(multi.text(), u"ab\ncd");
    key(u"Up");
    const size_t up = multi.caret();
    key(u"Down");
    EXPECT_TRUE(up <= 2 && multi.caret() >= 3) << up << " " << multi.caret();
}

TEST_F(EditTest, LabelCaptionShowsOnlyWhileEmpty) {
    auto& le = f->find_control<LabelEdit>(u"le");
    std::vector<bool> shown{le.caption().visible()};
    le.set_edit(true);
    for (const auto& step : std::vector<std::function<void()>>{
             [&] { type(u"x"); }, [&] { key(u"Backspace"); }, [&] { le.set_text(u"name"); }}) {
        step();
        shown.push_back(le.caption().visible());
    }
    EXPECT_EQ(shown, (std::vector<bool>{true, false, true, false}));
    EXPECT_THROW(form(u"EBad"), virire::NodeNotFound);
}

} // namespace
