#include "shell/instance_guard.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/single_instance.h"

#include <memory>

namespace shell {

namespace {

struct InstanceState {
    std::u16string application_name;
    std::u16string class_name;
    std::u16string command_line;
    bool found{false};
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
    s.guard = std::make_unique<platform::SingleInstance>(foundation::to_utf8(s.class_name));
    std::u16string text = command_line.empty() ? u"%CommandLineEmpty%" : command_line;
    switch (s.guard->claim(text)) {
    case platform::SingleInstance::Claim::HandedOver:
        foundation::log() << "Application::EnumProc window found 2\n";
        s.found = true;
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
