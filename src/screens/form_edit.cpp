#include "screens/form_edit.h"

namespace screens {

namespace {
constexpr uint32_t key_esc = 8;
constexpr uint32_t key_enter = 9;
} // namespace

FormEdit::FormEdit(skin::Properties& properties, skin::FormStack& stack)
    : skin::Form(properties), m_stack(stack) {
    require_form(properties, u"FormEdit");
    find_controls();
}

FormEdit::~FormEdit() {
    if (m_edit)
        m_edit->set_edit(false);
}

void FormEdit::find_controls() {
    m_edit = &find_control<skin::Edit>(u"edit");
    m_ok = &find_control<skin::Button>(u"btnOk");
    m_cancel = &find_control<skin::Button>(u"btnCancel");
    m_ok->set_listener(this);
    m_cancel->set_listener(this);
}

void FormEdit::open(DialogOwner& owner, const std::u16string& text) {
    m_owner = &owner;
    m_edit->set_text(text);
    m_edit->set_caret(text.size());
    m_stack.show_form(*this, skin::ShowAs::Overlay);
    m_edit->set_edit(true);
    m_edit->command(skin::Command{skin::Edit::command_select_all, {}});
}

void FormEdit::close() {
    m_edit->set_edit(false);
    m_stack.close_form(*this);
}

void FormEdit::ok() {
    DialogOwner* owner = m_owner;
    m_owner = nullptr;
    close();
    if (owner)
        owner->dialog_ok(*this);
}

void FormEdit::cancel() {
    m_owner = nullptr;
    close();
}

bool FormEdit::key(const skin::KeyEvent& event) {
    if (event.code != key_esc && event.code != key_enter)
        return skin::Form::key(event);
    // Taken on the press; the release finds the form closed and goes nowhere.
    if (event.pressed && m_owner) {
        if (event.code == key_esc)
            cancel();
        else
            ok();
    }
    return true;
}

void FormEdit::clicked(skin::Component& button, const skin::ClickRecord&) {
    if (&button == m_ok)
        ok();
    else if (&button == m_cancel)
        cancel();
}

} // namespace screens
