// The popup menu on a form stack: opening, choosing, sub-menus, row buttons, closing.

#include "forms_fixture.h"
#include "skin/button.h"
#include "skin/form_stack.h"
#include "skin/menu.h"
#include "skin/text_component.h"
#include "support/golden_png.h"

#include <gtest/gtest.h>
#include <map>
#include <vector>

using namespace skin;

namespace {

struct Provider : MenuProvider {
    void fill_menu(Menu&, std::u16string_view id, std::vector<MenuItem>& items) override {
        asked.emplace_back(id);
        if (id == u"main") {
            items.push_back({u"Magic4Buttons", u"", u"Magic"});
            items.push_back({u"sort", u"Sort", u"", true, false, false});
            items.push_back({u"off", u"Off", u"", false, true, false});
            items.push_back({u"more", u"", u"", true, false, false});
        } else if (id == u"sort") {
            for (int i = 0; i < 3; ++i)
                items.push_back({u"by" + std::u16string(1, char16_t(u'0' + i)), u"", u"", true,
                                 false, i == checked});
        } else if (id.starts_with(u"by")) {
            checked = id[2] - u'0';
            if (!close_after_sort) {
                fill_menu(*menu, u"sort", items);
                menu->fill_as(u"sort");
            }
        }
    }
    std::vector<std::u16string> asked;
    int checked{0};
    bool close_after_sort{false};
    Menu* menu{nullptr};
};

class MenuTest : public forms_test::FormsTest {
protected:
    void SetUp() override {
        load_forms();
        localisation::TextTable::Entries texts;
        texts.emplace(u"more", u"More...");
        texts.emplace(u"sort", u"Sort order");
        texts.emplace(u"by1", u"By date");
        properties.texts().assign(std::move(texts), u"");
        stack.set_screen_size(200, 300);
        menu = std::make_unique<Menu>(properties, stack, provider, u"Menu");
        provider.menu = menu.get();
    }
    // Taps the middle of item index's row.
    void tap_row(int32_t index, int32_t x = 100) {
        VListRow* row = menu->list().row_of(index);
        ASSERT_NE(row, nullptr);
        stack.pen_button(pen_at(x, row->y() + row->height() / 2, true));
        stack.pen_button(pen_at(x, row->y() + row->height() / 2, false));
    }
    std::u16string row_text(int32_t index) {
        auto* t = dynamic_cast<TextComponent*>(menu->list().row_of(index)->find_child(u"#text"));
        return t ? t->text() : u"-";
    }
    FormStack stack;
    Provider provider;
    std::unique_ptr<Menu> menu;
};

TEST_F(MenuTest, OpensWithRowsFromTheirTemplates) {
    menu->open(u"main", u"Main");
    EXPECT_TRUE(menu->is_open() && stack.top_is_overlay() && menu->panel().visible());
    EXPECT_EQ(menu->caption_text(), u"Main");
    EXPECT_EQ(menu->list().item_count(), 4);
    EXPECT_EQ(menu->list().row_of(0)->node_name(), u"Magic");
    EXPECT_EQ(menu->list().row_of(2)->node_name(), u"MenuElementDisabled");
    EXPECT_EQ(row_text(1), u"Sort");
    EXPECT_EQ(row_text(3), u"More..."); // the language text of the id
    EXPECT_FALSE(menu->list().row_of(1)->find_child(u"separator")->visible());
    for (int i = 0; i < 40; ++i)
        stack.tick(0.05);
    RenderSurface target;
    target.recreate(200, 300);
    stack.draw(target);
    EXPECT_TRUE(testing_support::matches_golden(target, "skin/widgets/menu.png", 64));
}

TEST_F(MenuTest, ChoosingOpensASubMenuUnderItsOwnTitleAndDisabledRowsDoNothing) {
    menu->open(u"main", u"Main");
    tap_row(2);
    EXPECT_EQ(provider.asked, (std::vector<std::u16string>{u"main"}));
    tap_row(1);
    EXPECT_EQ(provider.asked.back(), u"sort");
    // The sub-menu is titled by its own id's text, not by the caption of the row tapped.
    EXPECT_EQ(menu->caption_text(), u"Sort order");
    EXPECT_EQ(menu->list().item_count(), 3);
    // Filled again by "by1", it keeps its title.
    tap_row(1);
    EXPECT_TRUE(provider.checked == 1 && menu->is_open());
    EXPECT_EQ(menu->find_control<TextComponent>(u"caption").text(), u"Sort order");
}

TEST_F(MenuTest, EmptyListClosesAndBackspaceCancels) {
    provider.close_after_sort = true;
    menu->open(u"sort");
    tap_row(1);
    EXPECT_TRUE(!menu->is_open() && provider.checked == 1);

    menu->open(u"main");
    EXPECT_TRUE(stack.key(KeyEvent{key_code_from_name(u"Backspace"), true}));
    EXPECT_FALSE(menu->is_open());
}

TEST_F(MenuTest, RowButtonsChooseTheirIds) {
    menu->open(u"main");
    tap_row(0, 5); // "Help"
    stack.tick(0.01);
    EXPECT_EQ(provider.asked.back(), u"Help");
    EXPECT_FALSE(menu->is_open()); // nothing under "Help": closed
}

TEST_F(MenuTest, MissingPartsRaise) {
    EXPECT_THROW(Menu(properties, stack, provider, u"NoPanel"), virire::NodeNotFound);
    EXPECT_THROW(Menu(properties, stack, provider, u"Nowhere"), virire::NodeNotFoundInSkin);
}

} // namespace
