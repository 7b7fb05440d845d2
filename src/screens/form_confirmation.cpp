#include "screens/form_confirmation.h"

#include "skin/text_component.h"

namespace screens {

FormConfirmation::FormConfirmation(skin::Properties& properties, skin::FormStack& stack)
    : skin::Form(properties), m_stack(stack) {
    require_form(properties, u"FormConfirmation");
    find_controls();
}

void FormConfirmation::find_controls() {
    find_control<skin::TextComponent>(u"text");
    m_ok = &find_control<skin::Button>(u"btnOk");
    m_skin_ok_caption = m_ok->caption();
    m_cancel = &find_control<skin::Button>(u"btnCancel");
    m_ok->set_listener(this);
    m_cancel->set_listener(this);
}

void FormConfirmation::open(DialogOwner& owner, const std::u16string& question,
                            const std::u16string& ok_caption) {
    m_owner = &owner;
    m_ok->set_caption(ok_caption.empty() ? m_skin_ok_caption : ok_caption);
    find_control<skin::TextComponent>(u"text").set_text(question);
    m_stack.show_form(*this, skin::ShowAs::Overlay);
}

void FormConfirmation::ok() {
    // Taken before anything runs, so that a second tap cannot act twice.
    DialogOwner* owner = m_owner;
    m_owner = nullptr;
    m_stack.close_form(*this);
    if (owner)
        owner->dialog_ok(*this);
}

void FormConfirmation::cancel() {
    m_owner = nullptr;
    m_stack.close_form(*this);
}

bool FormConfirmation::key(const skin::KeyEvent& event) {
    constexpr uint32_t key_esc = 8;
    if (event.code != key_esc)
        return skin::Form::key(event);
    if (event.pressed && m_owner)
        cancel();
    return true;
}

void FormConfirmation::clicked(skin::Component& button, const skin::ClickRecord&) {
    if (&button == m_ok)
        ok();
    else if (&button == m_cancel)
        cancel();
}

} // namespace screens
