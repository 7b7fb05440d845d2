// The form stack: showing and closing forms, transitions, and overlays over a dimmed snapshot.

#include "forms_fixture.h"
#include "foundation/text.h"
#include "skin/animations.h"
#include "skin/form_stack.h"
#include "skin/waveform.h"
#include "support/golden_png.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace skin;

namespace {

constexpr int32_t W = 48;
constexpr int32_t H = 64;

const std::array<const char*, 7> animation_names{"scale", "pop", "right", "bottom",
                                                 "left",  "top", "flip"};

class Stack : public forms_test::FormsTest {
protected:
    void SetUp() override {
        load_forms();
        a = form(u"FormA");
        plain = form(u"FormPlain");
        overlay1 = form(u"Overlay1");
        overlay2 = form(u"Overlay2");
        stack.set_screen_size(W, H);
        target.recreate(W, H);
    }
    std::unique_ptr<Form> b(const char* name) {
        return form(foundation::widen(std::string("FormB_") + name));
    }
    uint16_t at(int32_t x, int32_t y) const { return target.surface()->pixel(x, y); }
    void expect_whole_frame() {
        RenderSurface whole;
        whole.recreate(W, H);
        stack.draw(whole);
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                ASSERT_EQ(at(x, y), whole.surface()->pixel(x, y)) << x << "," << y;
    }
    static uint16_t dimmed(uint16_t colour, int32_t level) {
        RenderSurface s;
        s.recreate(1, 1);
        s.fill(Rect{0, 0, 1, 1}, Blend::fill(colour));
        s.fill(Rect{0, 0, 1, 1}, Blend::fade(uint32_t(level)));
        return s.surface()->pixel(0, 0);
    }

    std::unique_ptr<Form> a, plain, overlay1, overlay2;
    FormStack stack;
    RenderSurface target;
};

constexpr uint16_t white = 0xFFFF;
constexpr uint16_t blue = (0x30 >> 3) << 11 | (0x60 >> 2) << 5 | (0xC0 >> 3);

TEST_F(Stack, ShowCloseAndDestroyWithoutAnimation) {
    // Empty, it takes all input and shows its background.
    EXPECT_TRUE(stack.pen_button(PenEvent{}) && stack.key(KeyEvent{9, true}) &&
                stack.command(Command{}));
    stack.set_background(SkinColor{255, 0, 0, 255});
    stack.draw(target);
    EXPECT_EQ(at(10, 10), 0xF800);
    stack.show_form(*a);
    EXPECT_EQ(stack.top_form(), a.get());
    EXPECT_EQ(a->rect(), Rect::of_size(0, 0, W, H));
    // An unknown animation name gives none: the form is there at once.
    stack.show_form(*plain);
    EXPECT_TRUE(!stack.transition() && !a->visible() && stack.is_repaint_needed());
    stack.draw(target);
    EXPECT_TRUE(at(0, 0) == 0x8410 && !stack.is_repaint_needed());

    EXPECT_TRUE(stack.close_form(*plain));
    EXPECT_TRUE(a->visible() && !plain->visible());
    // Not on the stack: refused, nothing changes.
    EXPECT_FALSE(stack.close_form(*plain));
    EXPECT_EQ(stack.size(), 1u);
    stack.draw(target);
    EXPECT_TRUE(at(0, 0) == white && at(4, 4) == 0x0000);

    // A form stands on the stack once; closing one below leaves the top.
    stack.show_form(*plain);
    stack.show_form(*plain);
    stack.show_form(*a);
    EXPECT_EQ(stack.size(), 2u);
    EXPECT_TRUE(stack.top_form() == a.get() && !plain->visible());
    EXPECT_TRUE(stack.close_form(*plain));
    EXPECT_EQ(stack.size(), 1u);
    EXPECT_TRUE(stack.top_form() == a.get() && a->visible());

    // A form destroyed while shown leaves the stack, mid-transition too.
    auto right = b("right");
    stack.show_form(*right);
    ASSERT_NE(stack.transition(), nullptr);
    right.reset();
    EXPECT_TRUE(!stack.transition() && stack.top_form() == a.get() && a->visible());
    stack.tick(0.05);
    stack.draw(target);
    EXPECT_TRUE(at(0, 0) == white && at(30, 2) == white);
    // The frame counter darkens its corner.
    stack.set_frame_counter(true);
    target.recreate(160, 40);
    stack.draw(target);
    stack.draw(target);
    EXPECT_TRUE(at(149, 19) != white && at(150, 20) == white);
}

// A transition closed or shown again half-way turns round from where it is.
TEST_F(Stack, ATransitionRunsAndTurnsRoundFromWhereItIs) {
    auto right = b("right");
    stack.show_form(*a);
    stack.show_form(*right);
    const VisibilityAnimation* transition = stack.transition();
    ASSERT_NE(transition, nullptr);
    EXPECT_TRUE(stack.transition_form() == right.get() && transition->progress() == 0.0);
    stack.tick(transition->duration() / 4);
    EXPECT_TRUE(stack.close_form(*right));
    ASSERT_EQ(stack.transition(), transition);
    EXPECT_EQ(std::tuple(transition->direction(), transition->progress()),
              std::tuple(VisibilityAnimation::Direction::Hiding, 0.25));
    EXPECT_TRUE(stack.top_form() == a.get() && a->visible() && !right->visible());
    stack.draw(target);
    EXPECT_EQ(at(W - 1, 0), blue); // still a quarter in
    stack.tick(transition->duration() / 8);
    stack.show_form(*right);
    EXPECT_EQ(stack.transition(), transition);
    EXPECT_EQ(std::tuple(transition->direction(), transition->progress()),
              std::tuple(VisibilityAnimation::Direction::Showing, 0.125));
    EXPECT_TRUE(stack.top_form() == right.get() && !a->visible() && stack.size() == 2);
    stack.tick(1.0);
    stack.draw(target);
    EXPECT_TRUE(!stack.transition() && at(0, 0) == blue);
    // Closed at rest, it goes out the way it came.
    stack.close_form(*right);
    ASSERT_NE(stack.transition(), nullptr);
    EXPECT_EQ(std::tuple(stack.transition()->direction(), stack.transition()->progress()),
              std::tuple(VisibilityAnimation::Direction::Hiding, 1.0));
}

// Draws frames until none is asked for, each moving the pixel at (0, 0) one way; returns how many.
int fade_frames(FormStack& stack, RenderSurface& target, bool darker, int limit) {
    int frames = 0;
    uint16_t previous = target.surface()->pixel(0, 0);
    while (stack.is_repaint_needed() && frames < limit) {
        stack.draw(target);
        ++frames;
        const uint16_t now = target.surface()->pixel(0, 0);
        EXPECT_TRUE(darker ? (now >> 11) <= (previous >> 11) : (now >> 11) >= (previous >> 11))
            << frames;
        previous = now;
    }
    EXPECT_FALSE(stack.is_repaint_needed());
    return frames;
}

TEST_F(Stack, OverlaysDimWhatLiesBehindThemOverEightFramesAndUndimAfter) {
    stack.show_form(*a);
    stack.draw(target);
    stack.show_form(*overlay1, ShowAs::Overlay);
    EXPECT_TRUE(!a->visible() && overlay1->visibility_animation()->running());
    EXPECT_EQ(stack.screen_surface().surface()->pixel(0, 0), white);
    stack.tick(0.2);
    EXPECT_FALSE(overlay1->visibility_animation()->running());
    EXPECT_EQ(fade_frames(stack, target, true, 20), 8);
    EXPECT_EQ(stack.dim_level(), FormStack::overlay_dim);
    stack.draw(target);
    EXPECT_TRUE(at(0, 0) == dimmed(white, FormStack::overlay_dim) && at(0, 0) != white);
    EXPECT_EQ(at(8, 40), 0x07E0); // the overlay itself is not dimmed
    EXPECT_TRUE(testing_support::matches_golden(target, "skin/forms/overlay.png"));

    // An overlay over it: the snapshot behind is still the normal form.
    stack.show_form(*overlay2, ShowAs::Overlay);
    EXPECT_TRUE(overlay1->visible() && stack.screen_surface().surface()->pixel(0, 0) == white);
    stack.draw(target);
    EXPECT_TRUE(at(16, 16) == 0xF800 && at(0, 0) == dimmed(white, FormStack::overlay_dim));
    EXPECT_TRUE(stack.close_form(*overlay2));
    EXPECT_TRUE(stack.top_form() == overlay1.get() && overlay1->visibility_animation()->running());
    stack.tick(0.2);

    EXPECT_TRUE(stack.close_form(*overlay1));
    EXPECT_TRUE(stack.top_form() == a.get() && a->visible() && stack.screen_surface().width() == 0);
    EXPECT_EQ(fade_frames(stack, target, false, 20), 8);
    stack.draw(target);
    EXPECT_TRUE(stack.dim_level() == FormStack::undimmed && at(0, 0) == white);

    // A normal form over an overlay starts from the dimmed picture with the overlay over it.
    auto right = b("right");
    stack.show_form(*overlay1, ShowAs::Overlay);
    stack.tick(0.2);
    fade_frames(stack, target, true, 20);
    stack.show_form(*right);
    EXPECT_TRUE(stack.dim_level() == FormStack::undimmed && !overlay1->visible());
    stack.draw(target);
    EXPECT_TRUE(at(0, 0) == dimmed(white, FormStack::overlay_dim) && at(8, 40) == 0x07E0);
}

// Every kind runs from 0 to 1 showing and back hiding and draws its half-way picture; a reversal
// goes back from where it is.
TEST_F(Stack, EveryAnimationRunsToItsEndsAndDrawsItsHalfWayPicture) {
    for (const char* name : animation_names) {
        SCOPED_TRACE(name);
        auto animation = VisibilityAnimation::create(foundation::widen(name));
        ASSERT_NE(animation, nullptr);
        for (auto direction :
             {VisibilityAnimation::Direction::Showing, VisibilityAnimation::Direction::Hiding}) {
            animation->start(direction);
            const bool showing = direction == VisibilityAnimation::Direction::Showing;
            EXPECT_EQ(animation->progress(), showing ? 0.0 : 1.0);
            double previous = animation->progress();
            int ticks = 0;
            while (animation->running() && ticks < 100) {
                animation->tick(0.01);
                ++ticks;
                EXPECT_TRUE(showing ? animation->progress() > previous
                                    : animation->progress() < previous);
                previous = animation->progress();
            }
            EXPECT_EQ(animation->progress(), showing ? 1.0 : 0.0);
            EXPECT_NEAR(ticks * 0.01, animation->duration(), 0.011);
        }
        auto copy = animation->clone();
        EXPECT_TRUE(copy->name() == animation->name() && !copy->running());
        auto form_b = b(name);
        FormStack s;
        s.set_screen_size(W, H);
        s.show_form(*a);
        s.show_form(*form_b);
        ASSERT_NE(s.transition(), nullptr);
        s.tick(s.transition()->duration() / 2);
        ASSERT_NE(s.transition(), nullptr);
        EXPECT_DOUBLE_EQ(s.transition()->progress(), 0.5);
        s.draw(target);
        EXPECT_TRUE(testing_support::matches_golden(target, std::string("skin/forms/transition_") +
                                                                name + ".png"));
        s.close_form(*form_b);
        s.close_form(*a);
    }
    EXPECT_FALSE(VisibilityAnimation::create(u"Scale") || VisibilityAnimation::create(u""));
    auto left = VisibilityAnimation::create(u"left");
    left->start(VisibilityAnimation::Direction::Showing);
    left->tick(left->duration() / 2);
    left->reverse();
    EXPECT_EQ(left->direction(), VisibilityAnimation::Direction::Hiding);
    left->tick(left->duration() / 4);
    EXPECT_NEAR(left->progress(), 0.25, 1e-9);
}

TEST_F(Stack, AnOverlaysOwnAnimationDrawsItOverTheSnapshot) {
    stack.show_form(*a);
    stack.show_form(*overlay1, ShowAs::Overlay);
    stack.tick(0.1);
    EXPECT_TRUE(overlay1->visibility_animation()->progress() == 0.5 && overlay1->needs_redraw());
    stack.draw(target);
    // Half the height lower: the green bar is off the screen, the snapshot shows through.
    EXPECT_EQ(at(8, 40), dimmed(white, FormStack::undimmed));
    stack.tick(0.05);
    stack.draw(target);
    EXPECT_TRUE(at(8, 56) == 0x07E0 && at(8, 55) != 0x07E0);
}

// A frame after a change draws only where it changed, and gives the picture of a whole frame.
TEST_F(Stack, AFrameDrawsOnlyWhatChangedOrItsNewWaveColumnsAndMatchesAWholeFrame) {
    auto two = form(u"FormTwo");
    stack.show_form(*two);
    stack.draw(target, true);
    EXPECT_EQ(stack.drawn(), std::vector<Rect>{Rect::of_size(0, 0, W, H)});
    stack.draw(target, true);
    EXPECT_TRUE(stack.drawn().empty());

    Component* one = two->find_child(u"one");
    const Rect kept = two->find_child(u"two")->rect();
    // Pixels no frame should touch again.
    target.fill(Rect::of_size(kept.left + 2, kept.top + 2, 4, 4), Blend::fill(0x07E0));
    one->set_visible(false);
    stack.draw(target, true);
    ASSERT_FALSE(stack.drawn().empty());
    for (const Rect& r : stack.drawn())
        EXPECT_TRUE(r.intersect(kept).empty());
    EXPECT_EQ(at(kept.left + 3, kept.top + 3), 0x07E0);
    target.fill(Rect::of_size(kept.left + 2, kept.top + 2, 4, 4), Blend::fill(0xF800));
    expect_whole_frame();

    // A live waveform draws only its new columns and gives the picture of a whole frame.
    auto live = form(u"FormWave");
    stack.show_form(*live);
    stack.draw(target, true);
    auto* wave = dynamic_cast<Waveform*>(live->find_child(u"wave"));
    ASSERT_NE(wave, nullptr);
    size_t next = 0;
    const auto columns = [&](size_t count) {
        std::vector<Waveform::Column> made(count);
        for (auto& column : made) {
            const float peak = float(next++ % 7) / 7.0f;
            column = {peak, peak / 2};
        }
        return made;
    };
    wave->set_columns(columns(size_t(wave->width())));
    stack.draw(target, true);
    for (const size_t count : {3, 5}) {
        wave->scroll_columns(columns(count));
        stack.draw(target, true);
    }
    wave->scroll_columns(columns(2));
    wave->scroll_columns(columns(4));
    stack.draw(target, true);
    const Rect strip = Rect::of_size(wave->x() + wave->width() - 6, wave->y(), 6, wave->height());
    EXPECT_NE(std::find(stack.drawn().begin(), stack.drawn().end(), strip), stack.drawn().end());
    expect_whole_frame();
}

} // namespace
