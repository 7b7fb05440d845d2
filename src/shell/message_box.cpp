#include "shell/message_box.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/display.h"
#include "shell/application.h"

#include <cstdio>

namespace shell {

namespace {
std::function<void(const std::u16string&, const std::u16string&)> g_hook;
} // namespace

void show_message_box(Application* application, const std::u16string& text,
                      const std::u16string& caption) {
    foundation::log() << "MessageBox {" << caption << "} " << text << "\n";
    if (g_hook) {
        g_hook(text, caption);
        return;
    }
    const std::string title = foundation::to_utf8(caption);
    const std::string body = foundation::to_utf8(text);
    platform::Display* display = application ? application->game().display() : nullptr;
    if (display ? display->message_box(title, body) : platform::message_box(title, body))
        return;
    if (display) {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
        std::fflush(stderr);
    }
}

void set_message_box_hook_for_testing(
    std::function<void(const std::u16string&, const std::u16string&)> hook) {
    g_hook = std::move(hook);
}

} // namespace shell
