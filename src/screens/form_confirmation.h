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

    void open(DialogOwner& owner, const std::u16string& question);
    bool is_open() const { return m_owner != nullptr; }
    void ok();
    void cancel();

protected:
    void reloaded() override { find_controls(); }

private:
    void find_controls();
    void clicked(skin::Component& button, const skin::ClickRecord& click) override;

    skin::FormStack& m_stack;
    DialogOwner* m_owner{nullptr};
    skin::Button* m_ok{nullptr};
    skin::Button* m_cancel{nullptr};
};

} // namespace screens
