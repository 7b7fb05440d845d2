// The program: one instance per user. A later start hands its command line ("record", "call" or
// nothing) to the running instance and ends at once.

#include "controller/document.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/desktop_bus.h"
#include "platform/display.h"
#include "platform/messages.h"
#include "platform/signals.h"
#include "screens/form_main.h"
#include "sharing/send_mail.h"
#include "shell/application.h"
#include "shell/instance_guard.h"
#include "shell/message_box.h"
#include "shell/starter.h"
#include "skin/exceptions.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace {

bool is_minimised_option(std::string_view word) {
    return word == "--minimised" || word == "--minimized";
}

// The words after the program's name, without the start options.
std::u16string command_line_of(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (is_minimised_option(argv[i]))
            continue;
        if (!line.empty())
            line += ' ';
        line += argv[i];
    }
    return foundation::from_utf8(line);
}

// "--minimised": a first start keeps the window minimised (a key bound to "quillory --minimised
// record" records without the window coming forward). A start that finds the program running
// hands over its command line as usual.
bool start_minimised(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (is_minimised_option(argv[i]))
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // A start that only hands its command line over must not empty the running instance's log.
    foundation::defer_log_start();
    foundation::log() << "WinMain:" << platform::tick_count() << "\n";
    const std::u16string command_line = command_line_of(argc, argv);
    const std::u16string application_name = u"Quillory Vozir";
    if (shell::show_running_instance_open_bracket(command_line, application_name))
        return shell::hand_over_exit_status();

    foundation::log() << "WinMain1:" << platform::tick_count() << "\n";
    shell::Application::Options options;
    options.start_minimised = start_minimised(argc, argv);
    auto application = std::make_unique<shell::Application>(application_name, options);
    if (!application->game().display()) {
        // Said on standard error only: a message box could wait for an answer no one can give
        // (no screen, or a compositor that refused the window).
        std::fprintf(stderr, "quillory: The display cannot be opened: %s\n",
                     application->game().display_error().c_str());
        std::fflush(stderr);
        application.reset();
        shell::end_single_instance();
        return 1;
    }

    // The display's set-up took over SIGTERM (it ends the program through WM_ENDSESSION); a
    // hang-up takes the same way.
    platform::treat_hangup_as_termination();

    foundation::log() << "WinMain2:" << platform::tick_count() << "\n";
    auto document = std::make_unique<controller::Document>();
    // Sends records; without a mail program it shows the record in its folder and says so.
    auto mail = std::make_unique<sharing::MailSender>();
    auto starter = std::make_unique<shell::Starter>(*application, *document, command_line);
    shell::Application* app = application.get();
    sharing::MailSender* sender = mail.get();
    starter->set_main_form_maker([app, &document, sender](skin::Properties& properties,
                                                          skin::FormStack& stack) {
        screens::ScreenServices services;
        services.minimise = [app] { app->game().minimise(); };
        services.quit = [] { platform::post_quit_message(0); };
        services.message_box = [app](const std::u16string& text, const std::u16string& caption) {
            shell::show_message_box(app, text, caption);
        };
        services.open_file = [](const std::u16string& file) {
            return foundation::execute_file(file, u"");
        };
        sender->set_listener(
            [app, &properties](sharing::SendOutcome outcome, const std::u16string&) {
                if (outcome == sharing::SendOutcome::MailProgram)
                    return;
                const bool shown = outcome == sharing::SendOutcome::FolderShown;
                shell::show_message_box(
                    app, properties.text(shown ? u"Send_folder_shown" : u"Send_not_possible"),
                    properties.text(u"skin_ProgramName", u"Quillory Vozir"));
            });
        services.in_background = [app] {
            return app->game().minimised() || app->game().in_background();
        };
        services.notifier = [](platform::NotificationListener& listener) {
            return platform::open_notifier(listener);
        };
        services.send_record = [sender](const std::u16string& path) { return sender->send(path); };
        return std::make_unique<screens::FormMain>(properties, stack, *document,
                                                   std::move(services));
    });

    int status = 0;
    try {
        status = application->run();
    } catch (const virire::SkinError& error) {
        // A screen asked the main skin for a node it lacks: say which, and end in order.
        shell::show_message_box(application.get(),
                                shell::describe_skin_error(error, starter->paths().main_skin),
                                application_name);
        status = 1;
    }

    // The sender's listener names the main skin's texts, which the starter owns: it goes before
    // the starter; the sender itself outlives the main form that sends through it.
    mail->set_listener(nullptr);
    starter.reset();
    mail.reset();
    document.reset();
    application.reset();
    shell::end_single_instance();
    return status;
}
