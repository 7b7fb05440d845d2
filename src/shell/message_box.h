#pragma once

// Message boxes of the program: modal over the main window, answered with OK. Where none can be
// shown (no screen), the text goes to standard error and the log and counts as answered.

#include <functional>
#include <string>

namespace shell {

class Application;

void show_message_box(Application* application, const std::u16string& text,
                      const std::u16string& caption);

// Test seam: receives every message box instead of the screen (empty restores the screen).
void set_message_box_hook_for_testing(
    std::function<void(const std::u16string& text, const std::u16string& caption)> hook);

} // namespace shell
