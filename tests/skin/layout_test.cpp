// Placement of children in plain containers and tables, alone and through forms built from skins.

#include "forms_fixture.h"
#include "skin/layout.h"
#include "skin/table.h"

#include <gtest/gtest.h>
#include <vector>

using namespace skin;
using namespace skin::layout;

namespace {

LayoutItem item(Anchor mode, int32_t b0, int32_t b1, int32_t preferred, int32_t minimum,
                int32_t ratio = 0) {
    return LayoutItem{mode, b0, b1, Measure{preferred, minimum}, ratio};
}

std::vector<Range> table(const std::vector<LayoutItem>& items, int32_t x, int32_t length) {
    std::vector<Range> out(items.size(), Range{-99, -99});
    place_table(items, x, length, out);
    return out;
}

// One child in a plain slot of 100 at x: where each anchoring puts it.
TEST(Layout, PlainPlacementPerAnchoring) {
    struct Case {
        const char* what;
        LayoutItem item;
        int32_t x;
        Range expected;
    };
    const Case cases[] = {
        {"both sides stretch", item(Anchor::BothSide, 10, 10, 500, 500), 0, {10, 80}},
        {"both sides from x", item(Anchor::BothSide, 10, 10, 5, 5), 7, {17, 80}},
        {"centred", item(Anchor::Center, 0, 0, 30, 30), 0, {35, 30}},
        {"centred too big", item(Anchor::Center, 0, 0, 120, 120), 0, {0, 100}},
        {"centred after a border, odd rest", item(Anchor::Center, 10, 0, 31, 31), 0, {40, 31}},
        {"high side", item(Anchor::MaxSide, 0, 5, 30, 30), 0, {65, 30}},
        {"high side too big", item(Anchor::MaxSide, 0, 5, 300, 300), 0, {0, 95}},
        {"low side too big", item(Anchor::MinSide, 8, 0, 300, 300), 0, {8, 92}},
        {"low side overhangs", item(Anchor::MinSideNoSize, 10, 0, 150, 150), 0, {10, 150}},
        {"high side overhangs", item(Anchor::MaxSideNoSize, 0, 10, 150, 150), 0, {0, 150}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(place_plain(c.item, c.x, 100), c.expected) << c.what;
    // Overhanging children ask for no room.
    const std::vector<LayoutItem> overhanging{item(Anchor::MinSideNoSize, 10, 0, 150, 150)};
    EXPECT_EQ(measure_plain(20, overhanging), (Measure{20, 20}));
}

TEST(Layout, TableWithoutRoomPutsEveryChildAtItsStartWithLengthZero) {
    std::vector<LayoutItem> items{item(Anchor::BothSide, 10, 10, 5, 5),
                                  item(Anchor::MinSide, 5, 0, 5, 5)};
    for (int32_t length : {25, 20, 0, -4})
        EXPECT_EQ(table(items, 7, length), (std::vector<Range>{{7, 0}, {7, 0}})) << length;
}

// A table's children: spare room by ratio, grow passes, and too little room shared by minimum.
TEST(Layout, TablePlacement) {
    // A child stretched between no borders.
    auto both = [](int32_t preferred, int32_t minimum, int32_t ratio = 0) {
        return item(Anchor::BothSide, 0, 0, preferred, minimum, ratio);
    };
    struct Case {
        int32_t x, length;
        std::vector<LayoutItem> items;
        std::vector<Range> expected;
    };
    const Case cases[] = {
        // Equal ratios share 11 spare pixels as 5 and 6.
        {0, 31, {both(10, 10, 1), both(10, 10, 1)}, {{0, 15}, {15, 16}}},
        // Ratios 1, 2 and none over 10 spare: 3, 7 and 0.
        {100, 25, {both(5, 5, 1), both(5, 5, 2), both(5, 5)}, {{100, 8}, {108, 12}, {120, 5}}},
        // 15 between sum M = 0 and sum P = 22: pass one offers 5 each, the first takes 2 and
        // gives back 3; pass two offers the 3 to the other two as 1 and 2.
        {0, 15, {both(2, 0), both(10, 0), both(10, 0)}, {{0, 2}, {2, 6}, {8, 7}}},
        // No ratio: growth stops at preferred and borders keep their place.
        {0,
         27,
         {item(Anchor::MinSide, 2, 0, 10, 4), item(Anchor::MaxSide, 0, 3, 8, 8)},
         {{2, 10}, {12, 8}}},
        // 31 pixels over minimums 10, 20 and 30: running sums give 5, 10 and 16.
        {4, 31, {both(40, 10), both(40, 20), both(40, 30)}, {{4, 5}, {9, 10}, {19, 16}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(table(c.items, c.x, c.length), c.expected) << c.x << " " << c.length;
}

TEST(Layout, HugeRatiosDoNotOverflow) {
    auto r = table({item(Anchor::BothSide, 0, 0, 0, 0, INT32_MAX),
                    item(Anchor::BothSide, 0, 0, 0, 0, INT32_MAX)},
                   0, 2000000001);
    EXPECT_EQ(int64_t(r[0].size) + r[1].size, 2000000001);
}

using FormLayout = forms_test::FormsTest;

TEST_F(FormLayout, TablesInAFormFollowTheirChildrenAndTheirVisibility) {
    load_forms();
    auto f = form(u"FormTable");
    f->place(0, 0, 240, 320);
    auto range_of = [&](const char16_t* id) {
        Component* c = f->find_child(id);
        EXPECT_NE(c, nullptr) << "missing";
        return c ? c->rect() : Rect{};
    };
    // Along the row 135 spare pixels split 1 : 3; the column keeps its design width.
    EXPECT_EQ(std::vector({range_of(u"row"), range_of(u"a"), range_of(u"b"), range_of(u"c"),
                           range_of(u"column"), range_of(u"top"), range_of(u"fill")}),
              std::vector({Rect::of_size(10, 0, 230, 320), Rect::of_size(10, 0, 20, 320),
                           Rect::of_size(30, 0, 63, 320), Rect::of_size(98, 0, 142, 320),
                           Rect::of_size(224, 0, 16, 320), Rect::of_size(224, 0, 16, 100),
                           Rect::of_size(224, 100, 16, 220)}));

    // A hidden child takes no room.
    f->find_child(u"b")->set_visible(false);
    f->place(0, 0, 240, 320);
    EXPECT_EQ(range_of(u"a"), Rect::of_size(10, 0, 20, 320));
    EXPECT_EQ(range_of(u"c"), Rect::of_size(35, 0, 205, 320));

    // A new screen size flows through the whole tree.
    f->place(0, 0, 320, 240);
    EXPECT_EQ(range_of(u"c"), Rect::of_size(35, 0, 285, 240));
    EXPECT_EQ(range_of(u"fill"), Rect::of_size(304, 100, 16, 140));
}

} // namespace
