#pragma once

// The start-up object: made by main() after the Application and the Document. It shows the
// splash skin's "FormSplash" at once and becomes the application's delegate; half a second
// later it loads the language and the main skin, shows the main form in place of the splash
// and lets the Document finish loading (settings, call notification, storage scan).
// A skin that lacks a form the program needs is reported in a message box naming the skin and
// the node, and the program ends; missing languages or a missing main skin end it after their
// message boxes too. Every such end has exit status 1.
// User-interface thread only; lives until the message loop has ended.

#include "controller/document.h"
#include "foundation/timer.h"
#include "shell/application.h"
#include "shell/application_listener.h"
#include "skin/exceptions.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/properties.h"

#include <functional>
#include <memory>
#include <string>

namespace shell {

// The message box text for a skin that lacks what the program asks of it.
std::u16string describe_skin_error(const virire::SkinError& error, const std::u16string& skin_path);

class Starter final : public ApplicationListener, public foundation::TimerListener {
public:
    struct Paths {
        std::u16string splash_skin{u"%app_path%/skins/bin/splash.skin"};
        std::u16string main_skin{u"%app_path%/skins/bin/default.skin"};
        std::u16string languages{u"%app_path%"};
    };

    static constexpr char16_t no_languages_text[] =
        u"No languages, please reinstall\n"
        u"\u041d\u0435 \u043d\u0430\u0439\u0434\u0435\u043d\u044b \u044f\u0437\u044b\u043a\u043e"
        u"\u0432\u044b\u0435 \u0444\u0430\u0439\u043b\u044b, \u043d\u0443\u0436\u043d\u0430 "
        u"\u043f\u0435\u0440\u0435\u0443\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430\n";

    Starter(Application& application, controller::Document& document,
            const std::u16string& command_line);
    Starter(Application& application, controller::Document& document,
            const std::u16string& command_line, Paths paths);
    ~Starter() override;
    // Builds the main screen from the loaded main skin; without one a plain "FormMain" form is
    // shown. The maker may throw the skin errors of missing nodes.
    using MainFormMaker =
        std::function<std::unique_ptr<skin::Form>(skin::Properties&, skin::FormStack&)>;
    void set_main_form_maker(MainFormMaker maker) { m_main_form_maker = std::move(maker); }

    Starter(const Starter&) = delete;
    Starter& operator=(const Starter&) = delete;

    // The main form is shown and the Document has finished loading.
    bool loaded() const { return m_loaded; }
    // Start-up ended in a message box; the loop has been told to quit.
    bool failed() const { return m_failed; }

    skin::Properties& splash_skin() { return m_splash_skin; }
    skin::Properties& main_skin() { return m_main_skin; }
    skin::Form* splash_form() { return m_splash_form.get(); }
    skin::Form* main_form() { return m_main_form.get(); }
    const Paths& paths() const { return m_paths; }

    void on_other_instance_started(const std::u16string& command_line) override;
    // The window stays open while a recording runs.
    bool may_close() override { return !m_document.is_recording(); }
    void on_resolution_changed() override;
    void on_timer(foundation::Timer& timer) override;

private:
    void show_splash();
    void load_main();
    void fail(const std::u16string& text, int exit_code);

    Application& m_application;
    controller::Document& m_document;
    Paths m_paths;
    skin::Properties m_splash_skin;
    skin::Properties m_main_skin;
    std::unique_ptr<skin::Form> m_splash_form;
    std::unique_ptr<skin::Form> m_main_form;
    MainFormMaker m_main_form_maker;
    foundation::Timer m_start_timer;
    bool m_loaded{false};
    bool m_failed{false};
};

} // namespace shell
