#include "screens/form_quick_record.h"

#include "foundation/text.h"
#include "skin/image_component.h"
#include "skin/text_component.h"

#include <string>

namespace screens {

// One row of the list, made from the skin node "HardwareKey".
class FormQuickRecord::Row final : public skin::VListRow {
public:
    Row(skin::Properties& properties, FormQuickRecord& owner)
        : VListRow(properties), m_owner(owner) {
        require_form(properties, u"HardwareKey");
        find_parts();
    }

    void bind(skin::VList&, int32_t index) override {
        const auto& entries = m_owner.entries();
        if (index < 0 || size_t(index) >= entries.size())
            return;
        const HardwareKey& entry = entries[size_t(index)];
        if (m_name)
            m_name->set_text(entry.name);
        if (m_checked)
            m_checked->set_visible(entry.assigned);
        if (m_unchecked)
            m_unchecked->set_visible(!entry.assigned);
        // A recycled row must not keep the icon of the entry it showed before.
        if (m_icon)
            m_icon->set_picture(entry.assigned ? m_owner.m_icon : skin::SkinPicture{});
        invalidate();
    }

protected:
    void reloaded() override { find_parts(); }

private:
    void find_parts() {
        m_name = dynamic_cast<skin::TextComponent*>(find_child(u"name"));
        m_icon = dynamic_cast<skin::ImageComponent*>(find_child(u"icon"));
        m_checked = find_child(u"checked");
        m_unchecked = find_child(u"unchecked");
    }

    FormQuickRecord& m_owner;
    skin::TextComponent* m_name{nullptr};
    skin::ImageComponent* m_icon{nullptr};
    skin::Component* m_checked{nullptr};
    skin::Component* m_unchecked{nullptr};
};

FormQuickRecord::FormQuickRecord(skin::Properties& properties, skin::FormStack& stack,
                                 std::unique_ptr<HardwareKeys> keys)
    : skin::Form(properties), m_properties(properties), m_stack(stack), m_keys(std::move(keys)) {
    require_form(properties, u"QuickRecord");
    find_controls();
}

FormQuickRecord::~FormQuickRecord() {
    if (m_list)
        m_list->set_provider(nullptr);
}

void FormQuickRecord::find_controls() {
    m_ok = &find_control<skin::Button>(u"btnOk");
    m_list = &find_control<skin::VList>(u"list");
    m_ok->set_listener(this);
    m_list->set_provider(this);
    m_icon = skin::SkinPicture{};
    if (skin::NodeDir dir = m_properties.find_named_node(u"program_icon"); dir.valid())
        m_icon = m_properties.get_picture(dir, u"src", skin::SkinPicture{});
    m_list->set_item_count(int32_t(entries().size()));
}

std::u16string FormQuickRecord::name_of(const platform::KeyBinding& binding) const {
    const std::u16string fallback = foundation::from_utf8(binding.name);
    if (binding.slot == 0)
        return m_properties.text(u"Key_record", fallback);
    if (binding.slot > 0) {
        std::u16string text = m_properties.text(u"Key_launch", fallback);
        const std::u16string number = foundation::from_utf8(std::to_string(binding.slot));
        if (const size_t at = text.find(u"%number%"); at != std::u16string::npos)
            text.replace(at, 8, number);
        return text;
    }
    return fallback;
}

void FormQuickRecord::load() {
    m_keys->load([this](const platform::KeyBinding& binding) { return name_of(binding); });
    m_list->set_item_count(int32_t(entries().size()));
}

void FormQuickRecord::reloaded() {
    find_controls();
    if (m_stack.contains(*this))
        load();
}

void FormQuickRecord::open() {
    load();
    m_list->set_position(m_list->min_position());
    if (!m_stack.contains(*this))
        m_stack.show_form(*this, skin::ShowAs::Normal);
}

void FormQuickRecord::close() {
    if (m_stack.contains(*this))
        m_stack.close_form(*this);
}

void FormQuickRecord::tap(int32_t index) {
    if (index < 0 || !m_keys->toggle(size_t(index)))
        return;
    m_list->refresh_item(index);
}

void FormQuickRecord::clicked(skin::Component& button, const skin::ClickRecord&) {
    if (&button == m_ok)
        close();
}

void FormQuickRecord::item_tapped(skin::VList&, int32_t index) {
    tap(index);
}

std::unique_ptr<skin::VListRow> FormQuickRecord::create_row(skin::VList&, int32_t) {
    return std::make_unique<Row>(m_properties, *this);
}

} // namespace screens
