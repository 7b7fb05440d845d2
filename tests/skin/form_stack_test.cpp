// The form stack: showing and closing forms, transitions played forwards and back, overlays over
// a dimmed snapshot, the dim level over frames, and the pictures of every visibility animation.

#include "forms_fixture.h"
#include "skin/animations.h"
#include "skin/form_stack.h"
#include "support/golden_png.h"

#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
#include <vector>

using namespace skin;

namespace {

constexpr int32_t W = 48;
constexpr int32_t H = 64;

const std::array<const char*, 7> animation_names{"scale", "pop", "right", "bottom",
                                                 "left",  "top", "flip"};

std::string stack_skin() {
    std::string s = R"(
node FormA {
    type "form"
    node {
        type "color" color color = #FFFFFF
        node { type "color" color color = #000000 point border_min = 4, 4 point border_max = 24, 40 }
    }
}
node FormPlain {
    type "form"
    string visibility_animation = "sideways"
    node { type "color" color color = #808080 }
}
node Overlay1 {
    type "form"
    string visibility_animation = "bottom"
    node { type "color" color color = #00FF00 point border_min = 8, 40 point border_max = 8, 8 }
}
node FormTwo {
    type "form"
    node {
        type "color" color color = #FFFFFF
        node { type "color" id "one" color color = #000000 point border_min = 4, 4 point border_max = 28, 44 }
        node { type "color" id "two" color color = #FF0000 point border_min = 28, 24 point border_max = 4, 4 }
    }
}
node Overlay2 {
    type "form"
    node { type "color" color color = #FF0000 point border_min = 16, 16 point border_max = 16, 36 }
}
)";
    for (const char* name : animation_names)
        s += std::string("node FormB_") + name + R"( {
    type "form"
    string visibility_animation = ")" +
             name + R"("
    node {
        type "color" color color = #3060C0
        node { type "color" color color = #F0C020 point border_min = 8, 8 point border_max = 8, 32 }
        node { type "color" color color = #C02020 point border_min = 8, 40 point border_max = 30, 8 }
    }
}
)";
    return s;
}

class Stack : public forms_test::FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        load(stack_skin());
        a = form(u"FormA");
        plain = form(u"FormPlain");
        overlay1 = form(u"Overlay1");
        overlay2 = form(u"Overlay2");
        stack.set_screen_size(W, H);
        target.recreate(W, H);
    }
    std::unique_ptr<Form> b(const char* name) {
        std::string node = std::string("FormB_") + name;
        return form(std::u16string(node.begin(), node.end()));
    }
    uint16_t at(int32_t x, int32_t y) const { return target.surface()->pixel(x, y); }
    // What a colour becomes behind an overlay at a dim level.
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

TEST_F(Stack, ShowAndCloseWithoutAnimation) {
    stack.show_form(*a);
    EXPECT_EQ(stack.top_form(), a.get());
    EXPECT_TRUE(a->visible());
    EXPECT_EQ(a->rect(), Rect::of_size(0, 0, W, H));
    // An unknown animation name gives none: the form is there at once.
    stack.show_form(*plain);
    EXPECT_EQ(stack.transition(), nullptr);
    EXPECT_FALSE(a->visible());
    EXPECT_TRUE(stack.is_repaint_needed());
    stack.draw(target);
    EXPECT_EQ(at(0, 0), 0x8410);
    EXPECT_FALSE(stack.is_repaint_needed());

    EXPECT_TRUE(stack.close_form(*plain));
    EXPECT_EQ(stack.top_form(), a.get());
    EXPECT_TRUE(a->visible());
    EXPECT_FALSE(plain->visible());
    // Not on the stack: refused, nothing changes.
    EXPECT_FALSE(stack.close_form(*plain));
    EXPECT_EQ(stack.size(), 1u);
    stack.draw(target);
    EXPECT_EQ(at(0, 0), white);
    EXPECT_EQ(at(4, 4), 0x0000);
}

TEST_F(Stack, ClosingAFormBelowTheTopLeavesTheTop) {
    stack.show_form(*a);
    stack.show_form(*plain);
    EXPECT_TRUE(stack.close_form(*a));
    EXPECT_EQ(stack.top_form(), plain.get());
    EXPECT_EQ(stack.size(), 1u);
    EXPECT_FALSE(a->visible());
}

TEST_F(Stack, AFormStandsOnTheStackOnce) {
    stack.show_form(*a);
    stack.show_form(*plain);
    stack.show_form(*plain);
    EXPECT_EQ(stack.size(), 2u);
    stack.show_form(*a);
    EXPECT_EQ(stack.size(), 2u);
    EXPECT_EQ(stack.top_form(), a.get());
    EXPECT_FALSE(plain->visible());
    EXPECT_TRUE(stack.close_form(*a));
    EXPECT_EQ(stack.top_form(), plain.get());
    EXPECT_TRUE(plain->visible());
}

TEST_F(Stack, AFormDestroyedWhileShownLeavesTheStack) {
    auto right = b("right");
    stack.show_form(*a);
    stack.show_form(*right);
    ASSERT_NE(stack.transition(), nullptr);
    right.reset();
    EXPECT_EQ(stack.transition(), nullptr);
    EXPECT_EQ(stack.top_form(), a.get());
    EXPECT_TRUE(a->visible());
    stack.tick(0.05);
    stack.draw(target);
    EXPECT_EQ(at(0, 0), white);
}

TEST_F(Stack, AnEmptyStackConsumesInputAndShowsTheBackground) {
    EXPECT_TRUE(stack.pen_button(PenEvent{}));
    EXPECT_TRUE(stack.key(KeyEvent{9, true}));
    EXPECT_TRUE(stack.command(Command{}));
    stack.set_background(SkinColor{255, 0, 0, 255});
    stack.draw(target);
    EXPECT_EQ(at(10, 10), 0xF800);
}

TEST_F(Stack, ATransitionSlidesTheNewFormOverTheOldOne) {
    auto right = b("right");
    stack.show_form(*a);
    stack.draw(target);
    stack.show_form(*right);
    ASSERT_NE(stack.transition(), nullptr);
    EXPECT_EQ(stack.transition_form(), right.get());
    EXPECT_EQ(stack.transition()->progress(), 0.0);
    stack.tick(0.05);
    stack.tick(0.05);
    EXPECT_DOUBLE_EQ(stack.transition()->progress(), 0.5);
    EXPECT_TRUE(stack.is_repaint_needed());
    stack.draw(target);
    // Half way: the old form on the left half, the new one's left edge at the middle.
    EXPECT_EQ(at(0, 0), white);
    EXPECT_EQ(at(W / 2 - 1, 0), white);
    EXPECT_EQ(at(W / 2, 0), blue);
    stack.tick(0.1);
    EXPECT_EQ(stack.transition(), nullptr);
    stack.draw(target);
    EXPECT_EQ(at(0, 0), blue);
}

TEST_F(Stack, ClosingAFormWhileItComesInPlaysTheTransitionBack) {
    auto right = b("right");
    stack.show_form(*a);
    stack.show_form(*right);
    const VisibilityAnimation* transition = stack.transition();
    stack.tick(0.05);
    EXPECT_TRUE(stack.close_form(*right));
    ASSERT_EQ(stack.transition(), transition);
    EXPECT_EQ(transition->direction(), VisibilityAnimation::Direction::Hiding);
    EXPECT_DOUBLE_EQ(transition->progress(), 0.25);
    EXPECT_EQ(stack.top_form(), a.get());
    EXPECT_TRUE(a->visible());
    EXPECT_FALSE(right->visible());
    stack.draw(target);
    EXPECT_EQ(at(W - 1, 0), blue); // still a quarter in
    stack.tick(0.05);
    EXPECT_EQ(stack.transition(), nullptr);
    stack.draw(target);
    EXPECT_EQ(at(W - 1, 0), white);
}

TEST_F(Stack, ShowingAFormWhileItGoesOutReversesItsTransition) {
    auto right = b("right");
    stack.show_form(*a);
    stack.show_form(*right);
    stack.tick(0.2);
    EXPECT_EQ(stack.transition(), nullptr);
    stack.close_form(*right);
    const VisibilityAnimation* closing = stack.transition();
    ASSERT_NE(closing, nullptr);
    EXPECT_EQ(closing->direction(), VisibilityAnimation::Direction::Hiding);
    EXPECT_EQ(closing->progress(), 1.0);
    stack.tick(0.05);
    stack.show_form(*right);
    EXPECT_EQ(stack.transition(), closing);
    EXPECT_EQ(closing->direction(), VisibilityAnimation::Direction::Showing);
    EXPECT_DOUBLE_EQ(closing->progress(), 0.75);
    EXPECT_EQ(stack.top_form(), right.get());
    EXPECT_FALSE(a->visible());
    EXPECT_EQ(stack.size(), 2u);
}

TEST_F(Stack, OverlaysDimWhatLiesBehindThemOverEightFrames) {
    stack.show_form(*a);
    stack.draw(target);
    stack.show_form(*overlay1, ShowAs::Overlay);
    EXPECT_FALSE(a->visible());
    EXPECT_TRUE(overlay1->visible());
    EXPECT_TRUE(overlay1->visibility_animation()->running());
    ASSERT_EQ(stack.screen_surface().width(), W);
    EXPECT_EQ(stack.screen_surface().surface()->pixel(0, 0), white);
    stack.tick(0.2);
    EXPECT_FALSE(overlay1->visibility_animation()->running());

    for (int frame = 1; frame <= 8; ++frame) {
        ASSERT_TRUE(stack.is_repaint_needed()) << frame;
        const int32_t level_used = FormStack::undimmed - 16 * (frame - 1);
        stack.draw(target);
        EXPECT_EQ(stack.dim_level(), FormStack::undimmed - 16 * frame);
        EXPECT_EQ(at(0, 0), dimmed(white, level_used)) << frame;
    }
    EXPECT_EQ(stack.dim_level(), FormStack::overlay_dim);
    EXPECT_FALSE(stack.is_repaint_needed());
    stack.draw(target);
    EXPECT_EQ(at(0, 0), dimmed(white, FormStack::overlay_dim));
    EXPECT_NE(at(0, 0), white);
    EXPECT_EQ(at(8, 40), 0x07E0); // the overlay itself is not dimmed
    EXPECT_TRUE(testing_support::matches_golden(target, "skin/forms/overlay.png"));
}

TEST_F(Stack, OverlayOverOverlayAndBackUndimsOverEightFrames) {
    stack.show_form(*a);
    stack.show_form(*overlay1, ShowAs::Overlay);
    stack.tick(0.2);
    for (int i = 0; i < 8; ++i)
        stack.draw(target);
    stack.show_form(*overlay2, ShowAs::Overlay);
    // The overlay below stays as it is; the snapshot behind is still the normal form.
    EXPECT_TRUE(overlay1->visible());
    EXPECT_EQ(stack.screen_surface().surface()->pixel(0, 0), white);
    stack.draw(target);
    EXPECT_EQ(at(16, 16), 0xF800);
    EXPECT_EQ(at(0, 0), dimmed(white, FormStack::overlay_dim));

    EXPECT_TRUE(stack.close_form(*overlay2));
    EXPECT_EQ(stack.top_form(), overlay1.get());
    EXPECT_TRUE(overlay1->visibility_animation()->running());
    stack.tick(0.2);

    EXPECT_TRUE(stack.close_form(*overlay1));
    EXPECT_EQ(stack.top_form(), a.get());
    EXPECT_TRUE(a->visible());
    EXPECT_EQ(stack.screen_surface().width(), 0);
    for (int frame = 1; frame <= 8; ++frame) {
        ASSERT_TRUE(stack.is_repaint_needed()) << frame;
        const int32_t level_used = FormStack::overlay_dim + 16 * (frame - 1);
        stack.draw(target);
        EXPECT_EQ(at(0, 0), dimmed(white, level_used)) << frame;
    }
    EXPECT_EQ(stack.dim_level(), FormStack::undimmed);
    EXPECT_FALSE(stack.is_repaint_needed());
    stack.draw(target);
    EXPECT_EQ(at(0, 0), white);
}

TEST_F(Stack, ANormalFormOverAnOverlayStartsFromTheDimmedPicture) {
    auto right = b("right");
    stack.show_form(*a);
    stack.show_form(*overlay1, ShowAs::Overlay);
    stack.tick(0.2);
    for (int i = 0; i < 8; ++i)
        stack.draw(target);
    stack.show_form(*right);
    EXPECT_EQ(stack.dim_level(), FormStack::undimmed);
    EXPECT_FALSE(overlay1->visible());
    stack.draw(target);
    // At progress 0 the whole frame is the old picture, dimmed, with the overlay over it.
    EXPECT_EQ(at(0, 0), dimmed(white, FormStack::overlay_dim));
    EXPECT_EQ(at(8, 40), 0x07E0);
}

TEST_F(Stack, EveryAnimationDrawsItsHalfWayPicture) {
    for (const char* name : animation_names) {
        SCOPED_TRACE(name);
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
}

TEST_F(Stack, AnOverlaysOwnAnimationDrawsItOverTheSnapshot) {
    stack.show_form(*a);
    stack.show_form(*overlay1, ShowAs::Overlay);
    stack.tick(0.1);
    EXPECT_DOUBLE_EQ(overlay1->visibility_animation()->progress(), 0.5);
    EXPECT_TRUE(overlay1->needs_redraw());
    stack.draw(target);
    // Half of the 64-pixel height lower: the green bar at 40 starts at 72, off the screen;
    // the key background of the overlay lets the snapshot through.
    EXPECT_EQ(at(8, 40), dimmed(white, FormStack::undimmed));
    stack.tick(0.05);
    stack.draw(target);
    EXPECT_EQ(at(8, 56), 0x07E0);
    EXPECT_NE(at(8, 55), 0x07E0);
}

// A frame after a change draws only where it changed, and its picture is the one a whole
// frame would give: nothing stale where a control went, nothing lost where none changed.
TEST_F(Stack, AFrameDrawsOnlyWhatChangedAndMatchesAWholeFrame) {
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

    RenderSurface whole;
    whole.recreate(W, H);
    stack.draw(whole);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            ASSERT_EQ(at(x, y), whole.surface()->pixel(x, y)) << x << "," << y;
}

TEST_F(Stack, TheFrameCounterDarkensItsCorner) {
    stack.show_form(*a);
    stack.draw(target);
    EXPECT_EQ(at(30, 2), white);
    stack.set_frame_counter(true);
    target.recreate(160, 40);
    stack.draw(target);
    stack.draw(target);
    EXPECT_NE(at(149, 19), white);
    EXPECT_EQ(at(150, 20), white);
}

TEST(Animations, EveryKindRunsAFifthOfASecondAndPopTwiceAsLong) {
    for (const char* name : animation_names) {
        SCOPED_TRACE(name);
        auto animation =
            VisibilityAnimation::create(std::u16string(name, name + std::strlen(name)));
        ASSERT_NE(animation, nullptr);
        const bool pop = std::string(name) == "pop";
        const int ticks = pop ? 8 : 4;
        const double step = pop ? 0.125 : 0.25;
        animation->start(VisibilityAnimation::Direction::Showing);
        EXPECT_EQ(animation->progress(), 0.0);
        for (int i = 1; i < ticks; ++i) {
            animation->tick(0.05);
            EXPECT_TRUE(animation->running());
            EXPECT_NEAR(animation->progress(), i * step, 1e-12);
        }
        animation->tick(0.05);
        EXPECT_FALSE(animation->running());
        EXPECT_EQ(animation->progress(), 1.0);

        animation->start(VisibilityAnimation::Direction::Hiding);
        EXPECT_EQ(animation->progress(), 1.0);
        animation->tick(0.05);
        EXPECT_NEAR(animation->progress(), 1.0 - step, 1e-12);
        animation->tick(1.0);
        EXPECT_FALSE(animation->running());
        EXPECT_EQ(animation->progress(), 0.0);

        auto copy = animation->clone();
        EXPECT_EQ(copy->name(), animation->name());
        EXPECT_EQ(copy->speed(), animation->speed());
        EXPECT_FALSE(copy->running());
    }
    EXPECT_EQ(VisibilityAnimation::create(u"Scale"), nullptr);
    EXPECT_EQ(VisibilityAnimation::create(u""), nullptr);
}

TEST(Animations, CurvesAndOffsets) {
    using Curve = ScaleAnimation::Curve;
    EXPECT_DOUBLE_EQ(ScaleAnimation::factor(Curve::Square, 0.5), 0.25);
    EXPECT_DOUBLE_EQ(ScaleAnimation::factor(Curve::Pop, 0.0), 0.0);
    EXPECT_NEAR(ScaleAnimation::factor(Curve::Pop, 1.0), 1.0, 1e-9);
    // The pop overshoots on the way.
    const double a = 1.5 * std::numbers::pi * 0.8;
    EXPECT_NEAR(ScaleAnimation::factor(Curve::Pop, 0.8), 1.0 - std::cos(a) / (a + 1.0), 1e-12);
    EXPECT_GT(ScaleAnimation::factor(Curve::Pop, 0.8), 1.0);
    using Edge = SlideAnimation::Edge;
    EXPECT_EQ(SlideAnimation::offset(Edge::Right, 48, 64, 0.25), (SkinPoint{36, 0}));
    EXPECT_EQ(SlideAnimation::offset(Edge::Bottom, 48, 64, 0.25), (SkinPoint{0, 48}));
    EXPECT_EQ(SlideAnimation::offset(Edge::Left, 48, 64, 0.25), (SkinPoint{-36, 0}));
    EXPECT_EQ(SlideAnimation::offset(Edge::Top, 48, 64, 1.0), (SkinPoint{0, 0}));
}

TEST(Animations, ReverseAndCancel) {
    auto animation = VisibilityAnimation::create(u"left");
    animation->start(VisibilityAnimation::Direction::Showing);
    animation->tick(0.1);
    animation->reverse();
    EXPECT_EQ(animation->direction(), VisibilityAnimation::Direction::Hiding);
    animation->tick(0.05);
    EXPECT_NEAR(animation->progress(), 0.25, 1e-12);
    animation->front().recreate(4, 4);
    animation->cancel();
    EXPECT_FALSE(animation->running());
    EXPECT_EQ(animation->front().width(), 0);
}

} // namespace
