#pragma once

// "FormConfirmation": asks before something is deleted. The owner gives the question; OK tells
// the owner once (a second tap finds the form closed), Cancel only closes.
// User-interface thread only.

#include "screens/dialog_owner.h"
#include "skin/button.h"
#include "skin/button_listener.h"
#include "skin/form.h"
#include "skin/form_stack.h"

namespace screens {

class FormConfirmation final : public skin::Form, private skin::ButtonListener {
public:
    FormConfirmation(skin::Properties& properties, skin::FormStack& stack);

    // ok_caption names what OK does when the skin's caption would not fit the question (the
    // skin's speaks of the listed records); empty keeps the skin's.
    void open(DialogOwner& owner, const std::u16string& question,
              const std::u16string& ok_caption = {});
    bool is_open() const { return m_owner != nullptr; }
    void ok();
    void cancel();
    // Esc is Cancel.
    bool key(const skin::KeyEvent& event) override;

protected:
    void reloaded() override { find_controls(); }

private:
    void find_controls();
    void clicked(skin::Component& button, const skin::ClickRecord& click) override;

    skin::FormStack& m_stack;
    DialogOwner* m_owner{nullptr};
    skin::Button* m_ok{nullptr};
    skin::Button* m_cancel{nullptr};
    std::u16string m_skin_ok_caption;
};

} // namespace screens
