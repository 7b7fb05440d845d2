#pragma once

// File-system services over POSIX. Paths are UTF-8.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

bool make_directory(const std::string& path); // false when it exists or cannot be made
bool remove_file(const std::string& path);    // not for folders
// Renames within a volume; refuses to replace an existing target (as MoveFile does).
bool rename_path(const std::string& from, const std::string& to, int& error);
// Puts `from` in the place of the existing file `to` (same folder) in one step: `from` first
// takes `to`'s permissions and the earlier of its birth and last-write times as its last-write
// time, so the file keeps its date, and the folder is synced afterwards so that the swap
// survives a crash.
bool replace_keeping_date(const std::string& from, const std::string& to, int& error);

struct PathStatus {
    bool directory{false};
    bool writable{false};
    uint64_t size{0};
    int64_t change_seconds{0}; // birth time where kept, else the last status change
    uint32_t change_nanoseconds{0};
    int64_t write_seconds{0};
    uint32_t write_nanoseconds{0};
};
// False with `error` (an errno value) when the path cannot be looked up.
bool path_status(const std::string& path, PathStatus& out, int& error);

// Bytes on the volume holding the path, and bytes available to unprivileged callers.
bool volume_space(const std::string& path, uint64_t& total, uint64_t& available);

struct DirectoryEntry {
    std::string name;
    bool directory{false};
};
// The folder's entries without "." and "..", sorted by name (byte order), so that every
// search lists a folder the same way. False when the folder cannot be read.
bool list_directory(const std::string& path, std::vector<DirectoryEntry>& out);

// Mount points of removable-looking volumes: those under /media/$USER, /run/media/$USER or
// /media, from /proc/self/mountinfo, in mount order.
std::vector<std::string> removable_mount_points();

bool is_executable_file(const std::string& path);
// Starts a program with arguments, detached (never waited for, never left as a zombie).
bool spawn_detached(const std::vector<std::string>& argv);

} // namespace platform
