#include "shell/application.h"

#include "foundation/log.h"
#include "shell/inspector.h"
#include "skin/component_factory.h"

#include <atomic>
#include <cstdio>

namespace shell {

namespace {
std::atomic<Application*> g_application{nullptr};

// Where text is being typed (an on-screen keyboard keeps it clear), or null when it is not.
std::string text_input_json(const platform::Display* display) {
    int32_t x = 0, y = 0, width = 0, height = 0;
    if (!display || !display->text_input_area(x, y, width, height))
        return "\"text_input\": null";
    return "\"text_input\": [" + std::to_string(x) + ", " + std::to_string(y) + ", " +
           std::to_string(width) + ", " + std::to_string(height) + "]";
}

} // namespace

Application::Application(const std::u16string& application_name, Options options) {
    Application* expected = nullptr;
    if (!g_application.compare_exchange_strong(expected, this))
        foundation::fatal_error(u"Singleton::Singleton()", u"Singleton is already instantiated");
    skin::register_framework_components(skin::ComponentFactory::instance());
    m_application_name = application_name;
    m_inspect_path = platform::inspect_path();
    m_screenshot_path = platform::screenshot_path();
    auto stack = std::make_unique<StackForms>();
    m_stack_forms = stack.get();
    if (!m_inspect_path.empty() || !m_screenshot_path.empty())
        stack->set_settled_hook([this](StackForms& forms) { stack_settled(forms); });
    m_forms = std::move(stack);
    m_game = std::make_unique<GameBase>(*this, application_name, options.open_display,
                                        options.start_minimised);
    m_redraw_all = true;
    foundation::log() << "Application::Application() this=" << static_cast<const void*>(this)
                      << "\n";
}

Application::~Application() {
    foundation::log() << "Application::~Application()\n";
    m_game.reset();
    m_stack_forms = nullptr;
    m_forms.reset();
    skin::unregister_framework_components(skin::ComponentFactory::instance());
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
    m_stack_forms = dynamic_cast<StackForms*>(forms.get());
    m_forms = std::move(forms);
    m_redraw_all = true;
}

skin::FormStack& Application::form_stack() {
    if (!m_stack_forms)
        foundation::fatal_error(u"Application::form_stack", u"no form stack");
    return m_stack_forms->stack();
}

void Application::set_client_origin(int32_t left, int32_t top) {
    if (m_stack_forms)
        m_stack_forms->set_client_origin(left, top);
}

void Application::stack_settled(StackForms& forms) {
    // The picture first: whoever sees a state in the inspector file finds at least that state
    // in the picture.
    platform::Display* display = m_game ? m_game->display() : nullptr;
    if (!m_screenshot_path.empty() && display && !display->save_screenshot(m_screenshot_path)) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", m_screenshot_path.c_str());
        foundation::log() << "Application::stack_settled cannot write " << m_screenshot_path
                          << "\n";
    }
    if (m_inspect_path.empty())
        return;
    std::string text = forms.inspect();
    // The window's own state leads: whether it is minimised (asked for, whatever the window
    // system made of it) and whether it is in the background; then whether the screens are
    // still moving (a transition, an animation, the dimming), so that a reader can wait for
    // the picture at rest.
    if (m_game && !text.empty() && text.front() == '{')
        text.insert(1, std::string("\"window\": {\"minimised\": ") +
                           (m_game->minimised() ? "true" : "false") +
                           ", \"background\": " + (m_game->in_background() ? "true" : "false") +
                           "},\n \"moving\": " + (forms.needs_frame() ? "true" : "false") + ",\n " +
                           text_input_json(display) + ",\n ");
    if (!write_file_atomically(m_inspect_path, text))
        foundation::log() << "Application::stack_settled cannot write " << m_inspect_path << "\n";
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
