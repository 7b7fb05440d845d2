#pragma once

// Where things are on this system, from the XDG folders (xdg_folders.h). Paths are UTF-8.

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The running program's file (/proc/self/exe); empty when it cannot be read.
std::string executable_path();
// The XDG documents folder: $XDG_DOCUMENTS_DIR, else the entry in user-dirs.dirs, else
// ~/Documents.
std::string documents_directory();
// $TMPDIR when it names a folder, else "/tmp".
std::string temp_directory();
// The phone's special folders as this system has them (empty when there is none):
// "windows" the folder of helper programs, "startup", "programs", "start_menu",
// "program_files".
std::string special_directory(const std::string& which);
// The folder of contact cards: $QUILLORY_CONTACTS, else $XDG_DATA_HOME/contacts, else
// ~/.local/share/contacts.
std::string contacts_directory();
// The program's cache folder: $XDG_CACHE_HOME/quillory, else ~/.cache/quillory.
std::string cache_directory();
// The storage cards named by $QUILLORY_CARDS ("dir1:dir2", empty entries skipped; set but
// empty: no cards), or nothing when it is not set and the mounted volumes are to be searched.
std::optional<std::vector<std::string>> storage_cards_override();
// $QUILLORY_TRACE_HANDOVER set and not empty: the running instance prints each command line it
// receives on standard error.
bool handover_trace_on();

} // namespace platform
