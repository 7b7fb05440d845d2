// The scrolling list driven by pen events and ticks: taps, flings, spring-back, rows recycled,
// inserted and removed.

#include "forms_fixture.h"
#include "skin/vlist.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace skin;

namespace {

class Row : public VListRow {
public:
    explicit Row(Properties& p) : VListRow(p) { require_form(p, u"LRow"); }
    void bind(VList&, int32_t) override {}
};

struct Provider : VListProvider {
    explicit Provider(Properties& p) : properties(p) {}
    void item_tapped(VList&, int32_t index) override { taps.push_back(index); }
    std::unique_ptr<VListRow> create_row(VList&, int32_t) override {
        return std::make_unique<Row>(properties);
    }
    Properties& properties;
    std::vector<int32_t> taps;
};

class VListTest : public forms_test::FormsTest {
protected:
    void SetUp() override {
        load_forms();
        provider = std::make_unique<Provider>(properties);
        build(1000);
    }
    void build(int32_t items) {
        f = form(u"LForm", 200, 200);
        list = &f->find_control<VList>(u"list");
        list->set_provider(provider.get());
        list->set_item_count(items);
    }
    void pen(int32_t y, bool down, uint32_t time, int32_t x = 50) {
        f->pen_button(pen_at(x, y, down, time));
    }
    void move(int32_t y, uint32_t time) { f->pen_move(pen_at(50, y, false, time)); }
    std::unique_ptr<Form> f;
    std::unique_ptr<Provider> provider;
    VList* list{nullptr};
};

// Rows fill the view; scrolling to an item moves the least distance; the wheel scrolls the list.
TEST_F(VListTest, RowsFillTheViewAndScrollIntoViewByTheLeastDistance) {
    EXPECT_EQ(list->position(), 5.0);
    ASSERT_TRUE(list->row_of(0) && list->row_of(4));
    EXPECT_EQ(std::tuple(list->row_of(0)->y(), list->row_of(4)->y()), std::tuple(5, 85));
    EXPECT_EQ(list->row_of(5), nullptr); // starts at 105, out of view
    EXPECT_EQ(list->max_position(), 5.0 + 20000 + 10 - 100);
    list->scroll_into_view(2); // already in view
    EXPECT_EQ(list->position(), 5.0);
    list->scroll_into_view(20); // below: its bottom comes to the lower border
    ASSERT_NE(list->row_of(20), nullptr);
    EXPECT_EQ(list->row_of(20)->y() + 20, 95);
    list->scroll_into_view(3); // above: its top comes to the upper border
    ASSERT_NE(list->row_of(3), nullptr);
    EXPECT_EQ(list->row_of(3)->y(), 5);
    list->scroll_into_view(999);
    EXPECT_EQ(list->position(), list->max_position());
    list->scroll_into_view(0);
    EXPECT_EQ(list->position(), 5.0);
    list->scroll_into_view(1000); // no such item
    EXPECT_EQ(list->position(), 5.0);
    Command wheel{VList::command_wheel, u"", 50, 50, 40};
    EXPECT_TRUE(f->command(wheel));
    EXPECT_TRUE(list->position() == 45.0 && list->row_of(2)->y() == 5);
    wheel.amount = -1000; // never past the top
    f->command(wheel);
    EXPECT_EQ(list->position(), 5.0);
    wheel.x = 150; // not over the list
    EXPECT_FALSE(f->command(wheel));
    auto& grown = f->find_control<VList>(u"grown");
    grown.set_provider(provider.get());
    grown.set_item_count(3);
    EXPECT_EQ(grown.measure(Axis::Y), (Measure{3 * 20 + 7, 7}));
    grown.set_item_count(0);
    grown.tick(0.1);
    EXPECT_EQ(grown.position(), 3.0);
}

TEST_F(VListTest, TapReportsTheItemAndShowsPressed) {
    pen(30, true, 0);
    Component* pressed = list->row_of(1)->find_child(u"#vlist_pressed");
    EXPECT_TRUE(pressed->visible() && list->pressed_index() == 1);
    pen(32, false, 50);
    EXPECT_FALSE(pressed->visible());
    EXPECT_EQ(provider->taps, (std::vector<int32_t>{1}));

    // Released over another row: dropped.
    pen(30, true, 100);
    pen(50, false, 150);
    EXPECT_EQ(provider->taps.size(), 1u);

    // A row control that takes the pen suppresses the tap.
    pen(30, true, 200, 95);
    EXPECT_FALSE(pressed->visible());
    pen(30, false, 240, 95);
    EXPECT_EQ(provider->taps.size(), 1u);

    list->set_selected(2);
    EXPECT_TRUE(list->row_of(2)->find_child(u"#vlist_selected")->visible());
    EXPECT_FALSE(list->row_of(2)->find_child(u"#vlist_normal")->visible());
}

// A fling slows until it rests; a flick too slow to be one leaves the content where it is.
TEST_F(VListTest, AFlingSlowsDownAndStops) {
    pen(90, true, 0);
    for (int i = 1; i <= 4; ++i)
        move(90 - 20 * i, 20 * i);
    pen(10, false, 80);
    EXPECT_EQ(std::tuple(list->position(), list->speed()), std::tuple(85.0, 1000.0));
    double position = list->position(), speed = list->speed();
    int frames = 0;
    while (list->speed() > 0 && frames < 600) {
        list->tick(1.0 / 60);
        ++frames;
        ASSERT_TRUE(list->position() > position && list->speed() < speed && list->speed() >= 0)
            << frames;
        position = list->position();
        speed = list->speed();
    }
    EXPECT_LT(frames, 300); // at rest within five seconds
    EXPECT_GT(list->position(), 400.0);
    list->tick(1.0);
    EXPECT_EQ(list->position(), position);

    pen(90, true, 1000);
    move(60, 1020);
    move(30, 1040);
    pen(30, false, 1040);
    EXPECT_EQ(list->speed(), 0.0);
}

TEST_F(VListTest, ContentPulledPastTheTopSpringsBackWithoutOvershooting) {
    pen(20, true, 0);
    move(40, 500);
    move(80, 1000);
    pen(80, false, 1500);
    EXPECT_EQ(std::tuple(list->position(), list->speed()), std::tuple(5.0 - 60, 0.0));
    double position = list->position();
    for (int frame = 0; frame < 30; ++frame) {
        list->tick(1.0 / 60);
        ASSERT_TRUE(list->position() >= position && list->position() <= 5.0) << frame;
        position = list->position();
    }
    EXPECT_TRUE(list->position() == 5.0 && list->row_of(0)->y() == 5);
}

TEST_F(VListTest, RemoveShrinksTheRowAwayAndRowsRecycleForAHugeList) {
    auto* third = static_cast<Row*>(list->row_of(3));
    list->set_selected(2);
    list->remove_item(2);
    EXPECT_TRUE(list->item_count() == 999 && list->selected() == -1 && list->row_of(2) == third);
    const double dt = 0.05; // 10 pixels a tick
    list->tick(dt);
    EXPECT_EQ(third->y(), 5 + 2 * 20 + 10);
    list->tick(dt);
    EXPECT_EQ(third->y(), 45);
    for (const auto& row : list->rows())
        EXPECT_GT(row->height(), 0);
    list->set_item_count(10000);
    for (double p = 5; p < list->max_position(); p += 37)
        list->set_position(p);
    list->set_position(list->max_position());
    // 6 rows are in view at most; a few spare ones are kept.
    EXPECT_LE(list->rows_created(), 6 + int(VList::spare_rows) + 1);
    EXPECT_LE(list->rows().size(), 7u);
    EXPECT_NE(list->row_of(9999), nullptr);
}

// Paints the form so that the next change shows in needs_redraw().
void settle(Form& form) {
    std::vector<uint16_t> pixels(200 * 200);
    RenderSurface surface(pixels.data(), 200, 200, 200 * 2);
    form.paint(surface, SkinPoint{0, 0});
}

TEST_F(VListTest, InsertInViewOrAtTheTopGrowsTheNewRow) {
    auto* second = static_cast<Row*>(list->row_of(2));
    const int64_t created = list->rows_created();
    list->set_selected(3);
    list->insert_item(2);
    EXPECT_TRUE(list->item_count() == 1001 && list->selected() == 4);
    // The rows already made stay bound to their items, one index further on.
    EXPECT_TRUE(list->row_of(3) == second && second->item_index() == 3);
    ASSERT_TRUE(list->row_of(2) && list->row_of(2) != second);
    EXPECT_LE(list->rows_created(), created + 1);
    for (const auto& [height, y] : {std::pair(0, 45), {10, 55}, {20, 65}}) {
        EXPECT_EQ(std::tuple(list->row_of(2)->height(), second->y()), std::tuple(height, y));
        list->tick(0.05); // 10 pixels a tick
    }
    EXPECT_EQ(list->max_position(), 5.0 + 20020 + 10 - 100);

    // With a top border and without one (the record list's way), a row inserted at the top of a
    // list at rest grows in place.
    for (int border : {5, 0}) {
        SCOPED_TRACE(border);
        std::string source = forms_source();
        const std::string key = "scroll_border_min = 0, 5";
        source.replace(source.find(key), key.size(),
                       "scroll_border_min = 0, " + std::to_string(border));
        load(source);
        build(10);
        settle(*f);
        list->insert_item(0);
        for (int i = 0; i < 10; ++i)
            list->tick(0.05);
        EXPECT_EQ(list->position(), border);
        ASSERT_NE(list->row_of(0), nullptr);
        EXPECT_EQ(std::tuple(list->row_of(0)->y(), list->row_of(0)->height()),
                  std::tuple(border, 20));
    }
}

// A row inserted above or below the view changes nothing on screen.
TEST_F(VListTest, InsertOutsideTheViewChangesNothingOnScreen) {
    list->set_position(505); // item 25 at the top border
    auto* top = list->row_of(25);
    ASSERT_NE(top, nullptr);
    const int32_t y = top->y();
    for (int32_t at : {3, 500}) {
        SCOPED_TRACE(at);
        settle(*f);
        list->insert_item(at);
        EXPECT_FALSE(list->needs_redraw());
        list->tick(0.05);
        EXPECT_TRUE(list->position() == 525.0 && list->row_of(26) == top && top->y() == y);
    }
    EXPECT_EQ(list->item_count(), 1002);
    // At the end of the list, and into an empty one.
    list->insert_item(1002);
    EXPECT_EQ(list->item_count(), 1003);
    list->insert_item(1004); // past the end: nothing
    list->insert_item(-1);
    EXPECT_EQ(list->item_count(), 1003);
    list->set_item_count(0);
    list->insert_item(0);
    EXPECT_EQ(list->item_count(), 1);
    EXPECT_TRUE(list->row_of(0) && list->row_of(0)->y() == 5);
}

} // namespace
