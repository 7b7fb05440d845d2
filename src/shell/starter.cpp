#include "shell/starter.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "localisation/languages.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/timing_trace.h"
#include "shell/message_box.h"

namespace shell {

namespace {
const std::u16string caption = u"Quillory Vozir";
} // namespace

std::u16string describe_skin_error(const virire::SkinError& error, const std::u16string& path) {
    const std::u16string skin = u"The skin " + foundation::expand(path);
    if (const auto* e = dynamic_cast<const virire::NodeNotFoundInSkin*>(&error))
        return skin + u" has no node \"" + e->name() + u"\".";
    if (const auto* e = dynamic_cast<const virire::NodeNotFound*>(&error))
        return skin + u" has no node \"" + e->child_id() + u"\" in \"" + e->form_id() + u"\".";
    if (const auto* e = dynamic_cast<const virire::NodeNotRegistered*>(&error))
        return skin + u" has a node of the unknown type \"" + e->type_name() + u"\".";
    if (const auto* e = dynamic_cast<const virire::NodeAlreadyRegistered*>(&error))
        return u"The node type \"" + e->type_name() + u"\" is registered twice.";
    return skin + u" cannot be used.";
}

Starter::Starter(Application& application, controller::Document& document,
                 const std::u16string& command_line)
    : Starter(application, document, command_line, Paths{}) {}

Starter::Starter(Application& application, controller::Document& document,
                 const std::u16string& command_line, Paths paths)
    : m_application(application), m_document(document), m_paths(std::move(paths)),
      m_start_timer(*this) {
    foundation::log() << "Starter:" << platform::tick_count() << "\n";
    m_document.set_application_window(m_application.game().window());
    m_document.command_line(command_line);
    if (command_line == u"call") {
        m_application.game().minimise();
        m_document.set_exit_after_call(true);
    }
    show_splash();
    m_application.set_delegate(this);
    if (!m_failed)
        m_start_timer.after(0.5);
}

Starter::~Starter() {
    m_start_timer.cancel();
    if (m_application.delegate() == this)
        m_application.set_delegate(nullptr);
    // Forms leave the stack as they go; the skins outlive them.
    m_main_form.reset();
    m_splash_form.reset();
}

void Starter::fail(const std::u16string& text, int exit_code) {
    m_failed = true;
    show_message_box(&m_application, text, caption);
    platform::post_quit_message(exit_code);
}

void Starter::show_splash() {
    const ScreenInfo screen = m_application.game().take_screen_info();
    if (!m_splash_skin.load_skin(m_paths.splash_skin, screen.dots_per_inch))
        foundation::log() << "Starter::Starter splash skin failed to load\n";
    try {
        auto form = std::make_unique<skin::Form>(m_splash_skin);
        form->require_form(m_splash_skin, u"FormSplash");
        m_splash_form = std::move(form);
    } catch (const virire::SkinError& error) {
        fail(describe_skin_error(error, m_paths.splash_skin), 1);
        return;
    }
    GameBase& game = m_application.game();
    game.set_game_input(false);
    game.set_windowed_mode(false);
    game.set_direct_mode(screen.orientation);
    if (StackForms* forms = m_application.stack_forms())
        forms->stack().show_form(*m_splash_form, skin::ShowAs::Overlay);
}

void Starter::on_timer(foundation::Timer& timer) {
    if (&timer != &m_start_timer || m_failed)
        return;
    load_main();
}

void Starter::load_main() {
    platform::timing_mark("main-load");
    localisation::Languages languages(m_main_skin.texts(), m_paths.languages, caption);
    if (!languages.choose_at_start()) {
        fail(no_languages_text, 1);
        return;
    }
    const ScreenInfo screen = m_application.game().take_screen_info();
    if (!m_main_skin.load_skin(m_paths.main_skin, screen.dots_per_inch)) {
        fail(m_main_skin.text(u"NoSkins"), 1);
        return;
    }
    std::unique_ptr<skin::Form> form;
    try {
        StackForms* forms = m_application.stack_forms();
        if (m_main_form_maker && forms) {
            form = m_main_form_maker(m_main_skin, forms->stack());
        } else {
            form = std::make_unique<skin::Form>(m_main_skin);
            form->require_form(m_main_skin, u"FormMain");
        }
    } catch (const virire::SkinError& error) {
        fail(describe_skin_error(error, m_paths.main_skin), 1);
        return;
    }
    m_main_form = std::move(form);
    if (StackForms* forms = m_application.stack_forms()) {
        forms->stack().show_form(*m_main_form, skin::ShowAs::Normal);
        if (m_splash_form)
            forms->stack().close_form(*m_splash_form);
        platform::timing_mark("main-shown");
    }
    m_document.announce_recording();
    m_document.load_secondary_things();
    m_loaded = true;
    foundation::log() << "Starter::load_main done ticks=" << platform::tick_count() << "\n";
}

void Starter::on_resolution_changed() {
    const ScreenInfo screen = m_application.game().take_screen_info();
    m_application.game().set_direct_mode(screen.orientation);
    // Another density (a move to an output of another scale, a phone's window grown to a
    // desktop's): the skins are drawn at their new scale, their pictures and fonts made anew.
    const skin::Scale scale = skin::Scale::for_dpi(screen.dots_per_inch);
    for (skin::Properties* skin : {&m_splash_skin, &m_main_skin}) {
        if (!skin->image() || skin->scale() == scale)
            continue;
        foundation::log() << "Starter::on_resolution_changed scale=" << scale.name() << "\n";
        if (skin->load_skin(skin == &m_main_skin ? m_paths.main_skin : m_paths.splash_skin,
                            screen.dots_per_inch))
            skin->send_reload_skin();
    }
}

void Starter::on_other_instance_started(const std::u16string& command_line) {
    foundation::log() << "on_other_instance_started:" << command_line << "\n";
    m_document.command_line(command_line);
    // A call recording and a marker (from a key binding) leave the window where it is.
    if (command_line == u"call" || command_line == u"mark")
        return;
    m_application.game().bring_to_front();
    m_document.set_exit_after_call(false);
}

} // namespace shell
