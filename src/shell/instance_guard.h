#pragma once

// The single-instance guard of the program entry: a later start hands its command line to the
// running instance and ends. The guard is held from the first check until the main window exists.

#include "platform/messages.h"

#include <string>

namespace shell {

// True when this process is to end: a running instance was found and given `command_line` (the
// empty line travels as "%CommandLineEmpty%"), or it did not take it, or there is no private
// folder for the guard (both said on standard error; hand_over_exit_status() is then 1). False:
// this process starts, holding the guard.
bool show_running_instance_open_bracket(const std::u16string& command_line,
                                        const std::u16string& application_name);

// The exit status for a process that show_running_instance_open_bracket told to end: 0 when
// its command line was taken, 1 when not.
int hand_over_exit_status();
// Called once the main window exists: command lines of later starts now reach `window` as
// WM_COPYDATA, and the guard is let go. Nothing when no guard is held.
void close_bracket(platform::WindowHandle window);

// Stops taking command lines and lets the guard go if still held (at the end of the program).
void end_single_instance();

// The class name: "ZuzivirClass_" + application name.
std::u16string class_name_for(const std::u16string& application_name);

} // namespace shell
