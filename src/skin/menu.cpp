#include "skin/menu.h"

#include "skin/button.h"
#include "skin/form_stack.h"
#include "skin/named_child.h"
#include "skin/text_component.h"

#include <array>

namespace skin {

namespace {

constexpr uint32_t key_esc = 8;
constexpr uint32_t key_backspace = 11;
constexpr std::u16string_view magic_buttons = u"Magic4Buttons";
constexpr std::array<std::u16string_view, 4> row_buttons{u"About", u"Help", u"Minimize", u"Exit"};

} // namespace

class Menu::Row : public VListRow {
public:
    Row(Properties& properties, Menu& menu, std::u16string template_name)
        : VListRow(properties), m_menu(menu), m_template(std::move(template_name)) {
        require_form(properties, m_template);
        hook_buttons();
    }

    bool fits(VList&, int32_t index) const override {
        return index >= 0 && size_t(index) < m_menu.m_items.size() &&
               m_menu.template_of(m_menu.m_items[size_t(index)]) == m_template;
    }

    void bind(VList&, int32_t index) override {
        if (index < 0 || size_t(index) >= m_menu.m_items.size())
            return;
        const MenuItem& item = m_menu.m_items[size_t(index)];
        if (item.id != magic_buttons)
            set_text_by_id(u"#text",
                           item.caption.empty() ? m_menu.m_properties.text(item.id) : item.caption);
        if (Component* separator = find_child(u"separator"))
            separator->set_visible(item.separator);
        if (Component* checked = find_child(u"checked"))
            checked->set_visible(item.checked);
    }

protected:
    void reloaded() override { hook_buttons(); }

private:
    void hook_buttons() {
        for (std::u16string_view name : row_buttons)
            if (auto* button = dynamic_cast<Button*>(find_child(name)))
                button->set_listener(&m_menu);
    }

    Menu& m_menu;
    std::u16string m_template;
};

Menu::Menu(Properties& properties, FormStack& stack, MenuProvider& provider,
           std::u16string_view node_name, std::u16string_view default_template)
    : Form(properties), m_properties(properties), m_stack(stack), m_provider(provider),
      m_default_template(default_template) {
    require_form(properties, node_name);
    find_parts();
}

Menu::~Menu() {
    if (m_list)
        m_list->set_provider(nullptr);
}

void Menu::find_parts() {
    m_panel = &required_child(*this, u"panel");
    m_caption = named_child(*this, u"caption");
    m_list = dynamic_cast<VList*>(&required_child(*this, u"vlist"));
    if (!m_list)
        throw virire::NodeNotFound(id(), u"vlist");
    m_list->set_provider(this);
    m_list->set_item_count(int32_t(m_items.size()));
    if (m_caption)
        m_caption->set_text_by_id(m_caption->id(), m_caption_text);
}

void Menu::reloaded() {
    find_parts();
}

bool Menu::is_open() const {
    return m_stack.contains(*this);
}

void Menu::open(std::u16string_view id, std::u16string_view caption) {
    change(id, caption, !is_open());
}

void Menu::choose(std::u16string_view id, std::u16string_view caption) {
    change(id, caption, false);
}

void Menu::fill_as(std::u16string_view menu_id) {
    m_filled_as = std::u16string(menu_id);
}

void Menu::close() {
    m_items.clear();
    m_list->set_item_count(0);
    m_stack.close_form(*this);
}

std::u16string Menu::template_of(const MenuItem& item) const {
    std::u16string name = item.template_name.empty() ? m_default_template : item.template_name;
    if (!item.enabled)
        name += u"Disabled";
    return name;
}

void Menu::change(std::u16string_view id, std::u16string_view caption, bool opening) {
    m_filled_as.clear();
    std::vector<MenuItem> items;
    m_provider.fill_menu(*this, id, items);
    if (!m_filled_as.empty())
        m_caption_text = m_properties.text(m_filled_as);
    else
        m_caption_text = caption.empty() ? m_properties.text(id) : std::u16string(caption);
    if (m_caption)
        m_caption->set_text_by_id(m_caption->id(), m_caption_text);

    bool same = is_open() && !opening && items.size() == m_items.size() && !items.empty();
    for (size_t i = 0; same && i < items.size(); ++i)
        same = items[i].id == m_items[i].id && template_of(items[i]) == template_of(m_items[i]);
    m_items = std::move(items);
    if (same) {
        for (size_t i = 0; i < m_items.size(); ++i)
            m_list->refresh_item(int32_t(i));
        return;
    }
    m_panel->set_visible(false);
    m_list->set_selected(-1);
    m_list->set_position(m_list->min_position());
    m_list->set_item_count(int32_t(m_items.size()));
    if (m_items.empty()) {
        m_stack.close_form(*this);
        return;
    }
    if (!is_open())
        m_stack.show_form(*this, ShowAs::Overlay);
    m_panel->set_visible(true);
    m_panel->start_visibility_animation();
}

void Menu::item_tapped(VList&, int32_t index) {
    if (index < 0 || size_t(index) >= m_items.size())
        return;
    const MenuItem item = m_items[size_t(index)];
    if (!item.enabled)
        return;
    // The caption of a row names the row (a setting's current value, "Cancel" for the way
    // back), not the menu it leads to: that one is titled by its own id.
    change(item.id, {}, false);
}

std::unique_ptr<VListRow> Menu::create_row(VList&, int32_t index) {
    if (index < 0 || size_t(index) >= m_items.size())
        return nullptr;
    return std::make_unique<Row>(m_properties, *this, template_of(m_items[size_t(index)]));
}

void Menu::clicked(Component& button, const ClickRecord&) {
    // The row holding the button may be rebuilt by the choice: run it after the input.
    m_pending = button.id();
    m_has_pending = true;
}

void Menu::tick(double seconds) {
    if (m_has_pending) {
        m_has_pending = false;
        std::u16string id = std::move(m_pending);
        choose(id);
    }
    Form::tick(seconds);
}

bool Menu::key(const KeyEvent& event) {
    if ((event.code == key_esc || event.code == key_backspace) && event.pressed && is_open()) {
        close();
        return true;
    }
    return Form::key(event);
}

} // namespace skin
