#include "shell/starter.h"

#include "foundation/log.h"
#include "platform/clock.h"

namespace shell {

Starter::Starter(Application& application, controller::Document& document,
                 const std::u16string& command_line)
    : m_application(application), m_document(document), m_start_timer(*this) {
    foundation::log() << "Starter:" << platform::tick_count() << "\n";
    m_document.set_application_window(m_application.game().window());
    m_document.command_line(command_line);
    if (command_line == u"call") {
        m_application.game().minimise();
        m_document.set_exit_after_call(true);
    }
    m_application.set_delegate(this);
    m_start_timer.after(0.5);
}

Starter::~Starter() {
    m_start_timer.cancel();
    if (m_application.delegate() == this)
        m_application.set_delegate(nullptr);
}

void Starter::on_timer(foundation::Timer& timer) {
    if (&timer != &m_start_timer)
        return;
    m_document.load_secondary_things();
    m_loaded = true;
}

void Starter::on_other_instance_started(const std::u16string& command_line) {
    foundation::log() << "on_other_instance_started:" << command_line << "\n";
    m_document.command_line(command_line);
    if (command_line == u"call")
        return;
    m_application.game().bring_to_front();
    m_document.set_exit_after_call(false);
}

} // namespace shell
