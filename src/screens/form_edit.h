#pragma once

// "FormEdit": edits a recording's title. Shown as an overlay over its owner with the whole text
// selected, so that typing replaces it; OK tells the owner, which reads text(); Cancel only
// closes. User-interface thread only.

#include "screens/dialog_owner.h"
#include "skin/button.h"
#include "skin/button_listener.h"
#include "skin/edit.h"
#include "skin/form.h"
#include "skin/form_stack.h"

namespace screens {

class FormEdit final : public skin::Form, private skin::ButtonListener {
public:
    FormEdit(skin::Properties& properties, skin::FormStack& stack);
    ~FormEdit() override;

    // Fills the edit with text (all of it selected) and shows the form over the top one.
    void open(DialogOwner& owner, const std::u16string& text);
    std::u16string text() const { return m_edit->text(); }
    skin::Edit& edit() { return *m_edit; }
    void ok();
    void cancel();
    // Esc is Cancel; Enter is OK (the title is one line).
    bool key(const skin::KeyEvent& event) override;

protected:
    void reloaded() override { find_controls(); }

private:
    void find_controls();
    void close();
    void clicked(skin::Component& button, const skin::ClickRecord& click) override;

    skin::FormStack& m_stack;
    DialogOwner* m_owner{nullptr};
    skin::Edit* m_edit{nullptr};
    skin::Button* m_ok{nullptr};
    skin::Button* m_cancel{nullptr};
};

} // namespace screens
