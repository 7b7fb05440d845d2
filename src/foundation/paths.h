#pragma once

// Portable paths: written with "/" and an optional leading macro ("%app_path%/skins",
// "%my_documents%"), expanded just before use. On this system the separator is "/"; both "/"
// and "\" count as separators in the path operations, and expand() turns "\" into "/".
//
// Macros (only at the very start of a path, one per path):
//   "%app_full_name%" the program file, "%app_name%" its file name, "%app_path%" the folder of
//   the program's data: the program's own folder when it holds "skins" (a build tree), else
//   ../share/quillory beside that folder when there is one (an installed program), else the
//   program's own folder again;
//   "%my_documents%" the XDG documents folder, "%windows%" the folder of helper programs
//   (/usr/bin), "%startup%" ~/.config/autostart, "%programs%" and "%start_menu%"
//   ~/.local/share/applications, "%program_files%" /usr/lib.
// All of it runs on the user-interface thread.

#include "foundation/date_time.h"

#include <cstdint>
#include <functional>
#include <string>

namespace foundation {

// The program's location is read once per process at the first expansion; a program path of
// 1024 characters or more is a fatal error ("path is more then MAX_PATH long" at
// "get_app_path()").
std::u16string expand(const std::u16string& path);
// Test seam: the program file the next expansion takes as ours (empty: read it again from
// the system).
void set_program_file_for_testing(const std::u16string& full_name);
// The program `name` in this program's own folder (the folder of "%app_full_name%", not
// "%app_path%"): what commands this program registers with the system start.
std::u16string sibling_program(const std::u16string& name);

std::u16string directory_of(const std::u16string& path); // up to and including the last separator
std::u16string name_of(const std::u16string& path);      // after the last separator
std::u16string without_trailing_separator(const std::u16string& path);
// The name alone when the directory is empty; otherwise directory + "/" + name.
std::u16string join(const std::u16string& directory, const std::u16string& name);
std::u16string parent_of(const std::u16string& path);
// Equal after expansion and without a trailing separator; case-sensitive, as file names here are.
[[nodiscard]] bool same_path(const std::u16string& a, const std::u16string& b);
// The path is the prefix or lies inside it, compared by whole components after expansion
// ("/media/u/disk1/x" does not start with "/media/u/disk").
[[nodiscard]] bool path_starts_with(const std::u16string& path, const std::u16string& prefix);

// Creates the folder and its missing parents, logging each attempt
// ("CreateDirectoryW {path} result=true|false"); an existing folder logs false.
void create_directory(const std::u16string& path);
[[nodiscard]] bool delete_file(const std::u16string& path);
// Makes the entries of the folder that holds `path` durable (a file created or renamed there
// survives a crash). False when the folder cannot be synced.
[[nodiscard]] bool sync_folder_of(const std::u16string& path);
// Deletes a record so that it can be had back: the file goes to the desktop's trash. Where no
// trash can take it, it is deleted as delete_file does (the first such case is logged). True
// when the file has left its place.
[[nodiscard]] bool trash_file(const std::u16string& path);
// Gives the file `from` the second name `to` (same volume, `to` must not exist); the file then
// stays whole under either name whatever becomes of the other.
[[nodiscard]] bool link_file(const std::u16string& from, const std::u16string& to);
// Puts the file `from` in the place of the existing file `to` in one step (same folder), `to`'s
// date kept; durable once it returns true.
[[nodiscard]] bool replace_file(const std::u16string& from, const std::u16string& to);

// One look-up of a path, kept.
class FileInfo {
public:
    explicit FileInfo(const std::u16string& path);

    [[nodiscard]] bool exists() const { return m_attributes != invalid_attributes; }
    bool is_directory() const { return exists() && (m_attributes & attribute_directory) != 0; }
    const std::u16string& path() const { return m_path; }
    // Attribute bits as the phone reports them (0x10 directory, 0x80 normal, 0x01 read-only);
    // invalid_attributes when not found.
    uint32_t attributes() const { return m_attributes; }
    // Low 32 bits of the size.
    uint32_t size() const { return m_size; }
    // Creation: the file's birth time where the file system keeps one, else its last status change.
    const DateTime& creation_time() const { return m_created; }
    const DateTime& write_time() const { return m_written; }
    // errno-style code of the last look-up or move (0: none).
    int last_error() const { return m_error; }

    // Renames the file (same volume). The kept path and look-up stay as they were.
    [[nodiscard]] bool move_to(const std::u16string& new_path);

    static constexpr uint32_t invalid_attributes = 0xFFFFFFFF;
    static constexpr uint32_t attribute_read_only = 0x01;
    static constexpr uint32_t attribute_directory = 0x10;
    static constexpr uint32_t attribute_normal = 0x80;

private:
    std::u16string m_path;
    uint32_t m_attributes{invalid_attributes};
    uint32_t m_size{0};
    DateTime m_created;
    DateTime m_written;
    int m_error{0};
};

// True when both paths lead to one file (the same device and inode: hard links and links
// included). False when either cannot be looked up.
[[nodiscard]] bool same_file(const std::u16string& a, const std::u16string& b);
// True when the path is an existing regular file we may read; otherwise `reason` says why in a
// few English words ("no such file", "permission denied", "is a folder", ...).
[[nodiscard]] bool is_readable_file(const std::u16string& path, std::string& reason);

// Starts a program (an executable file), or opens a document with the desktop's handler for its
// type, with the parameters split at blanks after the handler's own words (xdg-open when there
// are none or no handler is known); logs "execute_file(file} {parameters)".
// True when it was started; nothing is waited for.
[[nodiscard]] bool execute_file(const std::u16string& file, const std::u16string& parameters);

// Bytes of the volume holding the path, and bytes available to us there; 0 on failure.
double total_size(const std::u16string& path);
double free_space(const std::u16string& path);
// Test seam: pretend the volume of every path starting with `prefix` (expanded) has
// `free_bytes` free and `total_bytes` in all (a negative total: the real total, but at least
// the free bytes). A negative `free_bytes` removes the pretence; an empty prefix removes all.
// The longest matching prefix wins.
void set_free_space_for_testing(const std::u16string& prefix, double free_bytes,
                                double total_bytes = -1);

class DriveSink {
public:
    virtual ~DriveSink() = default;
    // Returns whether to go on.
    [[nodiscard]] virtual bool on_drive(const std::u16string& path) = 0;
};
// Offers each usable storage card: removable volumes mounted under /media/$USER,
// /run/media/$USER or /media (QUILLORY_CARDS="dir1:dir2" replaces the search). A card that
// holds the documents folder or has 1,000,000 bytes or less is skipped.
void find_drives(DriveSink& sink);

class FileSink {
public:
    virtual ~FileSink() = default;
    [[nodiscard]] virtual bool on_file(const std::u16string& path) = 0;
    virtual bool on_directory(const std::u16string& path) = 0;
};
// A synchronous search of files matching `file_pattern` and folders matching
// `directory_pattern` (wildcards * and ?, case-insensitive), depth-first when recursive.
// Entries of a folder come in name order. A false answer ends the whole search.
void find_files(FileSink& sink, const std::u16string& directory, const std::u16string& file_pattern,
                const std::u16string& directory_pattern, bool recursive);

// Wildcard match as the searches use it (* any run, ? one character; case-insensitive).
[[nodiscard]] bool matches_pattern(std::u16string_view name, std::u16string_view pattern);

} // namespace foundation
