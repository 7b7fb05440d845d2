#pragma once

// The single-instance guard of the program entry: a later start hands its command line to the
// running instance and ends. The guard is held from the first check until the main window exists.

#include "platform/messages.h"

#include <string>

namespace shell {

// True when a running instance was found and given `command_line` (the empty line travels as
// "%CommandLineEmpty%"): this process is to end. False: this process starts, holding the guard.
bool show_running_instance_open_bracket(const std::u16string& command_line,
                                        const std::u16string& application_name);

// Called once the main window exists: command lines of later starts now reach `window` as
// WM_COPYDATA, and the guard is let go. Nothing when no guard is held.
void close_bracket(platform::WindowHandle window);

// Stops taking command lines and lets the guard go if still held (at the end of the program).
void end_single_instance();

// The class name: "ZuzivirClass_" + application name.
std::u16string class_name_for(const std::u16string& application_name);

} // namespace shell
