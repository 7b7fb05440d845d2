#pragma once

// "FormError": reports a storage or speed problem over the main form; its close button
// returns to the main form. The about screen ("FormAbout") is the same kind of form: a text and
// a close button. User-interface thread only.

#include "skin/button.h"
#include "skin/button_listener.h"
#include "skin/form.h"
#include "skin/form_stack.h"

namespace screens {

class FormError final : public skin::Form, private skin::ButtonListener {
public:
    // Throws the skin errors of a missing form, "text" or "btnClose".
    FormError(skin::Properties& properties, skin::FormStack& stack,
              std::u16string_view node = u"FormError");

    void open(const std::u16string& message);
    void close();
    // Esc closes, as the close button does.
    bool key(const skin::KeyEvent& event) override;
    const std::u16string& message() const { return m_message; }

protected:
    void reloaded() override { find_controls(); }

private:
    void find_controls();
    void clicked(skin::Component& button, const skin::ClickRecord& click) override;

    skin::FormStack& m_stack;
    skin::Button* m_close{nullptr};
    std::u16string m_message;
};

} // namespace screens
