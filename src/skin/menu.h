#pragma once

// The popup menu: a form shown as an overlay, built from a named node holding "panel",
// "caption" (optional) and "vlist". A menu provider fills the items for an id; choosing an
// item asks for the items of its id (a sub-menu), and an empty list closes the menu. The caption
// on top is the language text of the menu shown (the id chosen, or the one the provider names
// with fill_as), never a row's caption. When the new items have the same ids as the shown ones,
// the rows are refreshed in place.
// User-interface thread only.

#include "skin/button_listener.h"
#include "skin/form.h"
#include "skin/vlist.h"

#include <string>
#include <vector>

namespace skin {

class FormStack;
class Menu;

struct MenuItem {
    std::u16string id;
    std::u16string caption;       // empty: the language text of the id
    std::u16string template_name; // empty: the menu's default template
    bool enabled{true};
    bool separator{false};
    bool checked{false};
};

class MenuProvider {
public:
    // Fills items (empty on entry) with the entries of the menu id; none ends the menu.
    virtual void fill_menu(Menu& menu, std::u16string_view id, std::vector<MenuItem>& items) = 0;

protected:
    ~MenuProvider() = default;
};

class Menu : public Form, private VListProvider, private ButtonListener {
public:
    // Throws virire::NodeNotFoundInSkin for a missing node and virire::NodeNotFound for a
    // missing "panel" or "vlist".
    Menu(Properties& properties, FormStack& stack, MenuProvider& provider,
         std::u16string_view node_name, std::u16string_view default_template = u"MenuElement");
    ~Menu() override;

    // Shows the menu with the items of id (the caption, or the id's language text, on top).
    void open(std::u16string_view id, std::u16string_view caption = {});
    // As choosing an item with this id and caption.
    void choose(std::u16string_view id, std::u16string_view caption = {});
    // Closes without a choice.
    void close();
    // For the provider while it fills items: they are those of menu_id (a command that shows
    // its menu again, such as a setting changed in a sub-menu), whose language text becomes
    // the caption instead of that of the id chosen.
    void fill_as(std::u16string_view menu_id);
    bool is_open() const;

    bool key(const KeyEvent& event) override;
    void tick(double seconds) override;

    const std::vector<MenuItem>& items() const { return m_items; }
    const std::u16string& caption_text() const { return m_caption_text; }
    VList& list() const { return *m_list; }
    Component& panel() const { return *m_panel; }

protected:
    void reloaded() override;

private:
    class Row;

    void find_parts();
    void change(std::u16string_view id, std::u16string_view caption, bool opening);
    std::u16string template_of(const MenuItem& item) const;
    void item_tapped(VList& list, int32_t index) override;
    std::unique_ptr<VListRow> create_row(VList& list, int32_t index) override;
    void clicked(Component& button, const ClickRecord& click) override;

    Properties& m_properties;
    FormStack& m_stack;
    MenuProvider& m_provider;
    std::u16string m_default_template;
    Component* m_panel{nullptr};
    Component* m_caption{nullptr};
    VList* m_list{nullptr};
    std::vector<MenuItem> m_items;
    std::u16string m_caption_text;
    std::u16string m_filled_as; // set by the provider during fill_menu
    std::u16string m_pending;   // a button's choice, run at the next tick
    bool m_has_pending{false};
};

} // namespace skin
