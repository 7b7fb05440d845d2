// The program: one instance per user. A later start hands its command line ("record", "call" or
// nothing) to the running instance and ends at once.

#include "controller/document.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/clock.h"
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

#include <memory>
#include <string>

namespace {

std::u16string command_line_of(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return foundation::from_utf8(line);
}

} // namespace

int main(int argc, char** argv) {
    // A start that only hands its command line over must not empty the running instance's log.
    foundation::defer_log_start();
    foundation::log() << "WinMain:" << platform::tick_count() << "\n";
    const std::u16string command_line = command_line_of(argc, argv);
    const std::u16string application_name = u"Quillory Vozir";
    if (shell::show_running_instance_open_bracket(command_line, application_name))
        return 0;

    foundation::log() << "WinMain1:" << platform::tick_count() << "\n";
    auto application = std::make_unique<shell::Application>(application_name);
    if (!application->game().display()) {
        platform::message_box(foundation::to_utf8(application_name),
                              "The display cannot be opened.");
        application.reset();
        shell::end_single_instance();
        return 1;
    }

    // The display's set-up took over SIGTERM (it ends the program through WM_ENDSESSION); a
    // hang-up takes the same way.
    platform::treat_hangup_as_termination();

    foundation::log() << "WinMain2:" << platform::tick_count() << "\n";
    auto document = std::make_unique<controller::Document>();
    auto starter = std::make_unique<shell::Starter>(*application, *document, command_line);
    shell::Application* app = application.get();
    starter->set_main_form_maker([app, &document](skin::Properties& properties,
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
        services.send_record = [](const std::u16string& path) {
            return sharing::send_by_mail(path);
        };
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

    starter.reset();
    document.reset();
    application.reset();
    shell::end_single_instance();
    return status;
}
