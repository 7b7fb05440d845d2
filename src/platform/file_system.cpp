#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

bool make_directory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool remove_file(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

TrashOutcome move_to_trash(const std::string& path, std::string& reason) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 && errno == ENOENT) {
        reason = "no such file";
        return TrashOutcome::Gone;
    }
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    const bool trashed = g_file_trash(file, nullptr, &error);
    g_object_unref(file);
    if (trashed)
        return TrashOutcome::Trashed;
    const bool gone = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND);
    reason = error && error->message ? error->message : "unknown failure";
    if (error)
        g_error_free(error);
    return gone ? TrashOutcome::Gone : TrashOutcome::NoTrash;
}

namespace {

// Copies the regular file `from` into the new file `to` with its permissions and last-write
// time, synced to the disk. False (with `error`) and nothing left at `to` when it fails.
bool copy_file_whole(const std::string& from, const std::string& to, int& error) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = errno;
        return false;
    }
    struct stat source {};
    if (::fstat(in, &source) != 0 || !S_ISREG(source.st_mode)) {
        error = S_ISREG(source.st_mode) ? errno : EISDIR;
        ::close(in);
        return false;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        error = errno;
        ::close(in);
        return false;
    }
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got < 0) {
                error = errno;
                ok = false;
            }
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                error = put < 0 ? errno : EIO;
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok)
            break;
    }
    if (ok) {
        // Cards often hold file systems without Unix permissions: a mode or date that cannot be
        // kept does not stop the move.
        (void)::fchmod(out, source.st_mode & 07777);
        const struct timespec times[2] = {source.st_atim, source.st_mtim};
        (void)::futimens(out, times);
        if (::fsync(out) != 0) {
            error = errno;
            ok = false;
        }
    }
    if (::close(out) != 0 && ok) {
        error = errno;
        ok = false;
    }
    ::close(in);
    if (!ok)
        ::unlink(to.c_str());
    return ok;
}

} // namespace

bool link_path(const std::string& from, const std::string& to, int& error) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        error = 0;
        return true;
    }
    error = errno;
    return false;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool sync_directory(const std::string& folder) {
    const int descriptor =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool ok = ::fsync(descriptor) == 0 || errno == EINVAL;
    ::close(descriptor);
    return ok;
}

namespace {

// After a move: the target's folder, and the source's when it is another one.
void sync_folders_of(const std::string& from, const std::string& to) {
    // The move has been made either way: a folder that cannot be synced leaves it to the
    // file system's own write-back.
    const std::string target = folder_of(to);
    const std::string source = folder_of(from);
    (void)sync_directory(target);
    if (source != target)
        (void)sync_directory(source);
}

} // namespace

bool rename_path(const std::string& from, const std::string& to, int& error) {
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        error = EEXIST;
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) == 0) {
        sync_folders_of(from, to);
        error = 0;
        return true;
    }
    error = errno;
    if (error != EXDEV)
        return false;
    // Another volume (a card): the file is copied whole under a temporary name beside the
    // target, put in its place, and only then is the original removed, so a failure at any
    // step leaves the original where it was.
    const std::string part = to + ".moving";
    if (!copy_file_whole(from, part, error))
        return false;
    if (::lstat(to.c_str(), &info) == 0) {
        error = EEXIST;
        ::unlink(part.c_str());
        return false;
    }
    if (::rename(part.c_str(), to.c_str()) != 0) {
        error = errno;
        ::unlink(part.c_str());
        return false;
    }
    if (::unlink(from.c_str()) != 0) {
        error = errno;
        ::unlink(to.c_str());
        return false;
    }
    sync_folders_of(from, to);
    error = 0;
    return true;
}

bool replace_keeping_date(const std::string& from, const std::string& to, int& error) {
    PathStatus old;
    if (!path_status(to, old, error))
        return false;
    const bool birth_first =
        old.change_seconds < old.write_seconds ||
        (old.change_seconds == old.write_seconds && old.change_nanoseconds < old.write_nanoseconds);
    struct timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = birth_first ? old.change_seconds : old.write_seconds;
    times[1].tv_nsec = birth_first ? old.change_nanoseconds : old.write_nanoseconds;
    // A date or mode that cannot be kept does not stop the swap.
    (void)::utimensat(AT_FDCWD, from.c_str(), times, 0);
    struct stat mode {};
    if (::stat(to.c_str(), &mode) == 0)
        (void)::chmod(from.c_str(), mode.st_mode & 07777);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = errno;
        return false;
    }
    (void)sync_directory(folder_of(to));
    error = 0;
    return true;
}

bool path_status(const std::string& path, PathStatus& out, int& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    error = 0;
    out.directory = S_ISDIR(info.st_mode);
    out.writable = ::access(path.c_str(), W_OK) == 0;
    out.size = uint64_t(info.st_size);
    out.change_seconds = info.st_ctim.tv_sec;
    out.change_nanoseconds = uint32_t(info.st_ctim.tv_nsec);
    // The birth time, where the file system keeps one, is the true creation time.
    struct statx extended {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &extended) == 0 &&
        (extended.stx_mask & STATX_BTIME) != 0) {
        out.change_seconds = extended.stx_btime.tv_sec;
        out.change_nanoseconds = extended.stx_btime.tv_nsec;
    }
    out.write_seconds = info.st_mtim.tv_sec;
    out.write_nanoseconds = uint32_t(info.st_mtim.tv_nsec);
    return true;
}

bool file_identity(const std::string& path, FileIdentity& out, int& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    error = 0;
    out.device = uint64_t(info.st_dev);
    out.inode = uint64_t(info.st_ino);
    return true;
}

bool is_regular_file(const std::string& path, int& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        error = ::access(path.c_str(), R_OK) == 0 ? 0 : errno;
        return error == 0;
    }
    error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
}

std::string error_text(int error) {
    switch (error) {
    case 0:
        return "no error";
    case ENOENT:
        return "no such file";
    case ENOTDIR:
        return "a part of the path is not a folder";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "is a folder";
    case EINVAL:
        return "not a regular file";
    case ENAMETOOLONG:
        return "name too long";
    case ELOOP:
        return "too many symbolic links";
    case EEXIST:
        return "already exists";
    case ENOSPC:
        return "no space left";
    case EROFS:
        return "read-only file system";
    case EXDEV:
        return "on another volume";
    default:
        return std::strerror(error);
    }
}

bool on_full_disk_double(const std::string& path) {
    const char* value = std::getenv("QUILLORY_FULL_DISK");
    if (!value || !*value)
        return false;
    std::string folder = value;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            (path[folder.size()] == '/' || folder == "/"));
}

bool volume_space(const std::string& path, uint64_t& total, uint64_t& available) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0)
        return false;
    total = uint64_t(info.f_blocks) * info.f_frsize;
    available = on_full_disk_double(path) ? 0 : uint64_t(info.f_bavail) * info.f_frsize;
    return true;
}

bool list_directory(const std::string& path, std::vector<DirectoryEntry>& out) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return false;
    out.clear();
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool directory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info {};
            directory = ::stat((path + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        out.push_back({std::move(name), directory});
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return true;
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

} // namespace platform
