#pragma once

// What the screens ask of the program around them: window commands, the message box and the
// places of the files they read. main() fills these with the application's own; tests record
// the calls.

#include "platform/desktop_bus.h"
#include "platform/key_bindings.h"

#include <functional>
#include <memory>
#include <string>

namespace screens {

struct ScreenServices {
    std::function<void()> minimise;
    // Ends the message loop.
    std::function<void()> quit;
    std::function<void(const std::u16string& text, const std::u16string& caption)> message_box;
    // Opens a file with the desktop's program for it (the help page).
    std::function<bool(const std::u16string& file)> open_file;
    // Sends a record by mail.
    std::function<bool(const std::u16string& path)> send_record;
    // The window is minimised or not in front (a running recording is then shown in a desktop
    // notification made by `notifier`; none made without one).
    std::function<bool()> in_background;
    std::function<std::unique_ptr<platform::Notifier>(platform::NotificationListener&)> notifier;
    // The keypad map and the folder of the language files (path macros allowed).
    std::u16string keyboard_map{u"%app_path%/keyboard.txt"};
    std::u16string languages{u"%app_path%"};
    // The main memory's documents folder, before expansion.
    std::u16string documents{u"%my_documents%"};
    // The desktop's key bindings for quick record (none: the platform's choice).
    std::function<std::unique_ptr<platform::KeyBindings>()> key_bindings;
};

} // namespace screens
