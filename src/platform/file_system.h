#pragma once

// File-system services over POSIX. Paths are UTF-8.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// False when it exists or cannot be made.
[[nodiscard]] bool make_directory(const std::string& path);

// Test double of a full disk, chosen at run time: when QUILLORY_FULL_DISK names a folder, the
// files under it cannot grow (FileHandle's writes past a file's end fail with ENOSPC) and
// volume_space finds nothing available there. Bytes a file already has can still be
// overwritten, as on a real full disk.
bool on_full_disk_double(const std::string& path);
[[nodiscard]] bool remove_file(const std::string& path); // not for folders

// What move_to_trash did.
enum class TrashOutcome {
    Trashed, // the file is in the desktop's trash ("files/", with its ".trashinfo" in "info/")
    NoTrash, // no trash could take it (none for this volume, none could be made); file untouched
    Gone,    // there was no such file
};
// Moves a file to the desktop's trash through GIO, the home's trash for files on the home's
// volume and the volume's own ".Trash-UID" elsewhere (removable volumes). `reason` says why
// when the file is not trashed.
[[nodiscard]] TrashOutcome move_to_trash(const std::string& path, std::string& reason);
// Moves a file or folder; refuses to replace an existing target (as MoveFile does). A file
// moved to another volume is copied whole and synced before the original is removed. The
// folders that changed are synced afterwards, so that the move survives a crash.
[[nodiscard]] bool rename_path(const std::string& from, const std::string& to, int& error);
// Makes `to` a second name of the file `from` (same volume); refuses an existing `to`.
[[nodiscard]] bool link_path(const std::string& from, const std::string& to, int& error);
// Puts `from` in the place of the existing file `to` (same folder) in one step: `from` first
// takes `to`'s permissions and the earlier of its birth and last-write times as its last-write
// time, so the file keeps its date, and the folder is synced afterwards so that the swap
// survives a crash.
[[nodiscard]] bool replace_keeping_date(const std::string& from, const std::string& to, int& error);

// Makes the folder's entries (files created, renamed or removed in it) durable: fsync of the
// folder itself. False when it cannot be opened or synced (a file system that cannot sync
// folders counts as synced).
[[nodiscard]] bool sync_directory(const std::string& folder);
// The folder a path lies in ("." for a bare name).
std::string folder_of(const std::string& path);

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
[[nodiscard]] bool path_status(const std::string& path, PathStatus& out, int& error);

// What tells files apart: the device and inode the path leads to (links followed). Two paths
// with the same identity are the same file, hard links included.
struct FileIdentity {
    uint64_t device{0};
    uint64_t inode{0};
    bool operator==(const FileIdentity&) const = default;
    bool operator<(const FileIdentity& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};
// False with `error` (an errno value) when the path cannot be looked up.
[[nodiscard]] bool file_identity(const std::string& path, FileIdentity& out, int& error);
// Whether the path exists and is a regular file that we may read (links followed); when it is
// not, `error` says why (ENOENT, EACCES, EISDIR for a folder, EINVAL for anything else that is
// not a file).
[[nodiscard]] bool is_regular_file(const std::string& path, int& error);
// A short English reason for an errno value: "no such file", "permission denied", ...
std::string error_text(int error);

// Bytes on the volume holding the path, and bytes available to unprivileged callers.
[[nodiscard]] bool volume_space(const std::string& path, uint64_t& total, uint64_t& available);

struct DirectoryEntry {
    std::string name;
    bool directory{false};
};
// The folder's entries without "." and "..", sorted by name (byte order), so that every
// search lists a folder the same way. False when the folder cannot be read.
[[nodiscard]] bool list_directory(const std::string& path, std::vector<DirectoryEntry>& out);

bool is_executable_file(const std::string& path);

} // namespace platform
