#pragma once

// Where things are on this system. Paths are UTF-8.

#include <string>

namespace platform {

// The running program's file (/proc/self/exe); empty when it cannot be read.
std::string executable_path();
// $HOME, else the password database's entry, else "/".
std::string home_directory();
// The XDG documents folder: $XDG_DOCUMENTS_DIR, else the entry in user-dirs.dirs, else
// ~/Documents.
std::string documents_directory();
// $TMPDIR when it names a folder, else "/tmp".
std::string temp_directory();
// The phone's special folders as this system has them (empty when there is none):
// "windows" the folder of helper programs, "startup", "programs", "start_menu",
// "program_files".
std::string special_directory(const std::string& which);

} // namespace platform
