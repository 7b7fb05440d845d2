#pragma once

// "QuickRecord": the keys the recorder can be put on, one row each (skin node "HardwareKey":
// "name", "icon", "checked", "unchecked"). Tapping a row puts the program on that key or gives
// the key back; "btnOk" closes the form. The list is read again every time the form opens.
// User-interface thread only.

#include "screens/hardware_keys.h"
#include "skin/button.h"
#include "skin/button_listener.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/skin_picture.h"
#include "skin/vlist.h"

#include <memory>

namespace screens {

class FormQuickRecord final : public skin::Form,
                              private skin::ButtonListener,
                              private skin::VListProvider {
public:
    // Throws the skin errors of a missing form or control.
    FormQuickRecord(skin::Properties& properties, skin::FormStack& stack,
                    std::unique_ptr<HardwareKeys> keys);
    ~FormQuickRecord() override;

    // How many keys the form would list (the Settings menu offers it only when there are any).
    size_t entry_count() { return m_keys->count(); }
    // Reads the keys again and shows the form.
    void open();
    void close();
    // A tap on the row of the sorted list's entry.
    void tap(int32_t index);

    HardwareKeys& keys() { return *m_keys; }
    const std::vector<HardwareKey>& entries() const { return m_keys->entries(); }
    skin::VList& list() { return *m_list; }
    // The caption of an entry in the current language.
    std::u16string name_of(const platform::KeyBinding& binding) const;

protected:
    // A new language renames the desktop's fixed keys: the list is read again.
    void reloaded() override;

private:
    class Row;
    friend class Row;

    void find_controls();
    void load();
    void clicked(skin::Component& button, const skin::ClickRecord& click) override;
    void item_tapped(skin::VList& list, int32_t index) override;
    std::unique_ptr<skin::VListRow> create_row(skin::VList& list, int32_t index) override;

    skin::Properties& m_properties;
    skin::FormStack& m_stack;
    std::unique_ptr<HardwareKeys> m_keys;
    skin::Button* m_ok{nullptr};
    skin::VList* m_list{nullptr};
    // The program's own icon, shown on the keys that run it.
    skin::SkinPicture m_icon;
};

} // namespace screens
