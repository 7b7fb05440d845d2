#include "shell/application.h"

#include "foundation/log.h"

#include <atomic>

namespace shell {

namespace {
std::atomic<Application*> g_application{nullptr};
} // namespace

Application::Application(const std::u16string& application_name)
    : Application(application_name, Options{}) {}

Application::Application(const std::u16string& application_name, Options options) {
    Application* expected = nullptr;
    if (!g_application.compare_exchange_strong(expected, this))
        foundation::fatal_error(u"Singleton::Singleton()", u"Singleton is already instantiated");
    // The widget factories and the default font join here with the forms framework.
    m_application_name = application_name;
    m_forms = std::make_unique<BackgroundForms>();
    m_game = std::make_unique<GameBase>(*this, application_name, options.open_display);
    m_redraw_all = true;
    foundation::log() << "Application::Application() this=" << static_cast<const void*>(this)
                      << "\n";
}

Application::~Application() {
    foundation::log() << "Application::~Application()\n";
    m_game.reset();
    m_forms.reset();
    Application* expected = this;
    g_application.compare_exchange_strong(expected, nullptr);
}

Application* Application::instance() {
    return g_application.load(std::memory_order_acquire);
}

foundation::CActiveScheduler* Application::active_scheduler() {
    Application* application = instance();
    return application ? &application->scheduler() : nullptr;
}

void Application::set_forms(std::unique_ptr<FormHost> forms) {
    if (!forms)
        return;
    m_forms = std::move(forms);
    m_redraw_all = true;
}

bool Application::update(double seconds) {
    bool changed = m_forms->update(seconds);
    return changed || m_redraw_all;
}

void Application::paint(platform::PixelBuffer& target) {
    if (m_redraw_all) {
        m_forms->invalidate_all();
        m_redraw_all = false;
    }
    m_forms->paint(target);
}

} // namespace shell
