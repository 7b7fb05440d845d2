// Components built from skins: missing pieces, finding children, drawing straight or cached.

#include "forms_fixture.h"
#include "skin/color_component.h"
#include "skin/container.h"
#include "skin/exceptions.h"
#include "skin/image_component.h"
#include "support/golden_png.h"

#include <gtest/gtest.h>

using namespace skin;

namespace {

using Components = forms_test::FormsTest;

TEST_F(Components, FindChildPrefersDirectChildrenThenChildOrder) {
    load_forms();
    auto f = form(u"FormFind");
    ASSERT_EQ(f->children().size(), 3u);
    EXPECT_TRUE(f->id() == u"frmFind" && f->outside_color() == (SkinColor{0x20, 0x40, 0x60, 255}));
    // A direct child wins over an earlier one deeper down.
    EXPECT_EQ(f->find_child(u"dup"), f->children()[1].get());
    // Below that, the first in child order.
    Component* outer = f->children()[0].get();
    EXPECT_EQ(f->find_child(u"deep"), outer->children()[1]->children()[0].get());
    EXPECT_EQ(f->find_child(u"missing"), nullptr);
    EXPECT_TRUE(f->find_child(u"y")->parent() == f.get() &&
                f->find_child(u"deep")->form() == f.get());
}

TEST_F(Components, MissingPiecesOfASkinRaiseTheirExceptions) {
    load_forms();
    Form f(properties);
    EXPECT_FALSE(f.load_form(properties, u"FormAbsent"));
    EXPECT_THROW(f.require_form(properties, u"FormAbsent"), virire::NodeNotFoundInSkin);
    EXPECT_THROW(f.require_form(properties, u"FormUnknown"), virire::NodeNotRegistered);
    // A node without a type asks for the empty name, which nothing registers.
    EXPECT_THROW(f.require_form(properties, u"FormUntyped"), virire::NodeNotRegistered);

    f.require_form(properties, u"FormFind");
    EXPECT_EQ(&f.find_control<Container>(u"outer"), f.children()[0].get());
    // The message names the form and the control.
    try {
        f.find_control<Container>(u"btnMissing");
        ADD_FAILURE() << "no exception";
    } catch (const virire::NodeNotFound& e) {
        EXPECT_STREQ(e.what(), "NodeNotFound: frmFind / btnMissing");
    }
    // The wrong kind is as missing as no control.
    EXPECT_THROW(f.find_control<ColorComponent>(u"outer"), virire::NodeNotFound);
}

TEST_F(Components, TheFactoryRefusesAKindTwice) {
    EXPECT_THROW(
        factory().add(u"node", [](Component* p) { return std::make_unique<Container>(p); }),
        virire::NodeAlreadyRegistered);
    EXPECT_TRUE(factory().contains(u"htable") && !factory().remove(u"gauge"));
}

TEST_F(Components, ReloadRebuildsTheTreeOrRaisesWhenTheNodeIsGone) {
    load_forms();
    auto f = form(u"FormFind");
    Component* before = f->find_child(u"dup");
    load(R"(node FormFind { type "form" id "frmFind" node { type "node" id "only" } })");
    properties.send_reload_skin();
    EXPECT_TRUE(f->find_child(u"only") && f->children().size() == 1 &&
                f->find_child(u"dup") != before);
    load(R"(node FormOther { type "form" })");
    EXPECT_THROW(properties.send_reload_skin(), virire::NodeNotFoundInSkin);
}

TEST_F(Components, CachedComponentsDrawLikeStraightOnesAndKeepTheirKeyTransparent) {
    load_forms();
    auto f = form(u"FormCache");
    f->place(0, 0, 30, 20);
    RenderSurface target;
    target.recreate(30, 20);
    f->paint(target, SkinPoint{});
    const Surface& s = *target.surface();
    // The plain cache keeps the key colour; through the keyed one the blue shows.
    EXPECT_TRUE(s.pixel(17, 7) == key_color && s.pixel(27, 7) == 0x001F);
    Component* cached = f->find_child(u"cached");
    EXPECT_EQ(cached->cache_surface().width(), 10);
    EXPECT_TRUE(testing_support::matches_golden(target, "skin/forms/cache.png"));

    // Unchanged, the cache is copied again without a redraw; a change inside redraws it.
    auto* red = static_cast<ColorComponent*>(cached->children()[0].get());
    red->set_color(SkinColor{0, 255, 0, 255});
    EXPECT_TRUE(cached->needs_redraw());
    f->paint(target, SkinPoint{});
    EXPECT_TRUE(s.pixel(10, 0) == 0x07E0 && s.pixel(0, 0) == 0xF800);

    // Hidden components give their cache back.
    cached->set_visible(false);
    EXPECT_EQ(cached->cache_surface().width(), 0);
}

TEST_F(Components, ImagesDrawTheirPictureAndGrowToIt) {
    testing_support::write_test_bitmap(m_dir.path(), "dot", 4, 3, 0x07E0);
    load(R"(
picture dot
node FormImage {
    type "form"
    node {
        type "htable"
        node { type "image" id "grown" picture src = dot outer 0,0 4,3 int grow = 1 }
        node { type "image" id "plain" picture src = dot outer 0,0 4,3 string anchor_x = "MIN_SIDE" }
    }
}
)");
    auto f = form(u"FormImage");
    f->place(0, 0, 20, 10);
    auto* grown = &f->find_control<ImageComponent>(u"grown");
    auto* plain = &f->find_control<ImageComponent>(u"plain");
    EXPECT_TRUE(grown->measure(Axis::X) == (Measure{4, 4}) &&
                plain->measure(Axis::X) == (Measure{0, 0}));
    EXPECT_EQ(grown->rect(), Rect::of_size(0, 0, 4, 10));
    RenderSurface target;
    target.recreate(20, 10);
    target.fill(Rect{0, 0, 20, 10}, Blend::fill(0));
    f->paint(target, SkinPoint{});
    EXPECT_TRUE(target.surface()->pixel(3, 9) == 0x07E0 && target.surface()->pixel(4, 0) == 0);
}

} // namespace
