#include "shell/instance_guard.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/single_instance.h"

#include <cstdio>
#include <memory>

namespace shell {

namespace {

struct InstanceState {
    std::u16string application_name;
    std::u16string class_name;
    std::u16string command_line;
    bool found{false};
    int exit_status{0};
    std::unique_ptr<platform::SingleInstance> guard;
};

InstanceState& state() {
    static InstanceState instance;
    return instance;
}

} // namespace

std::u16string class_name_for(const std::u16string& application_name) {
    return u"ZuzivirClass_" + application_name;
}

bool show_running_instance_open_bracket(const std::u16string& command_line,
                                        const std::u16string& application_name) {
    foundation::log() << "Application::show_running_instance_open_bracket cmd_line=" << command_line
                      << "\n";
    InstanceState& s = state();
    s.application_name = application_name;
    s.class_name = class_name_for(application_name);
    s.command_line = command_line;
    s.found = false;
    s.exit_status = 0;
    s.guard = std::make_unique<platform::SingleInstance>(foundation::to_utf8(s.class_name));
    std::u16string text = command_line.empty() ? u"%CommandLineEmpty%" : command_line;
    switch (s.guard->claim(text)) {
    case platform::SingleInstance::Claim::HandedOver:
        foundation::log() << "Application::EnumProc window found 2\n";
        s.found = true;
        s.guard.reset();
        break;
    case platform::SingleInstance::Claim::NotTaken:
        foundation::log() << "Application::show_running_instance_open_bracket not taken\n";
        std::fprintf(stderr,
                     "quillory: the running instance did not take the command \"%s\"; try "
                     "again\n",
                     foundation::to_utf8(command_line).c_str());
        s.found = true;
        s.exit_status = 1;
        s.guard.reset();
        break;
    case platform::SingleInstance::Claim::NoPrivateFolder:
        // Without a folder no other user can write in, another user could stand in for the
        // running instance or keep the guard off: better not to start.
        foundation::log() << "Application::show_running_instance_open_bracket no private folder\n";
        std::fprintf(stderr, "quillory: no private runtime folder (XDG_RUNTIME_DIR, the "
                             "temporary folder and the cache folder are not this user's own); "
                             "not starting\n");
        s.found = true;
        s.exit_status = 1;
        s.guard.reset();
        break;
    case platform::SingleInstance::Claim::Unguarded:
        foundation::log() << "Application::show_running_instance_open_bracket mutex==0\n";
        foundation::start_log_anew();
        break;
    case platform::SingleInstance::Claim::Primary:
        // This process is the one that runs: its log starts anew.
        foundation::start_log_anew();
        break;
    }
    return s.found;
}

int hand_over_exit_status() {
    return state().exit_status;
}

void close_bracket(platform::WindowHandle window) {
    InstanceState& s = state();
    if (!s.guard || !s.guard->holds_lock())
        return;
    if (!s.guard->listen(window))
        foundation::log() << "Application::close_bracket listen failed\n";
    s.guard->release_lock();
}

void end_single_instance() {
    state().guard.reset();
}

} // namespace shell
