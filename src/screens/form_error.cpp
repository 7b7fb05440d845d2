#include "screens/form_error.h"

#include "skin/text_component.h"

namespace screens {

FormError::FormError(skin::Properties& properties, skin::FormStack& stack, std::u16string_view node)
    : skin::Form(properties), m_stack(stack) {
    require_form(properties, node);
    find_controls();
}

void FormError::find_controls() {
    find_control<skin::TextComponent>(u"text").set_text(m_message);
    m_close = &find_control<skin::Button>(u"btnClose");
    m_close->set_listener(this);
}

void FormError::open(const std::u16string& message) {
    m_message = message;
    find_control<skin::TextComponent>(u"text").set_text(message);
    m_stack.show_form(*this, skin::ShowAs::Overlay);
}

void FormError::close() {
    m_stack.close_form(*this);
}

bool FormError::key(const skin::KeyEvent& event) {
    constexpr uint32_t key_esc = 8;
    if (event.code != key_esc)
        return skin::Form::key(event);
    if (event.pressed)
        close();
    return true;
}

void FormError::clicked(skin::Component& button, const skin::ClickRecord&) {
    if (&button == m_close)
        close();
}

} // namespace screens
