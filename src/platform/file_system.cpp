#include "platform/file_system.h"

#include "platform/command_line.h"
#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gio/gio.h>
#include <sstream>
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
    const std::string target = folder_of(to);
    const std::string source = folder_of(from);
    sync_directory(target);
    if (source != target)
        sync_directory(source);
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

namespace {
// mountinfo escapes blanks and backslashes as \ooo octal.
std::string unescape_mount_path(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            int value = 0;
            bool ok = true;
            for (size_t j = 1; j <= 3; ++j) {
                char c = text[i + j];
                if (c < '0' || c > '7') {
                    ok = false;
                    break;
                }
                value = value * 8 + (c - '0');
            }
            if (ok) {
                out.push_back(char(value));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string user_name() {
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    if (const char* user = std::getenv("LOGNAME"); user && *user)
        return user;
    return {};
}

bool directly_under(const std::string& path, const std::string& base) {
    if (path.size() <= base.size() + 1 || path.compare(0, base.size(), base) != 0 ||
        path[base.size()] != '/')
        return false;
    return path.find('/', base.size() + 1) == std::string::npos;
}
} // namespace

std::vector<std::string> removable_mount_points() {
    std::vector<std::string> result;
    std::ifstream in("/proc/self/mountinfo");
    std::string user = user_name();
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mount_point;
        if (!(fields >> id >> parent >> device >> root >> mount_point))
            continue;
        mount_point = unescape_mount_path(mount_point);
        bool wanted = directly_under(mount_point, "/media");
        if (!user.empty())
            wanted = wanted || directly_under(mount_point, "/media/" + user) ||
                     directly_under(mount_point, "/run/media/" + user);
        if (!user.empty() && mount_point == "/media/" + user)
            wanted = false;
        if (wanted && std::find(result.begin(), result.end(), mount_point) == result.end())
            result.push_back(mount_point);
    }
    return result;
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

namespace {

// The Exec line of a desktop entry found by its id in the XDG data folders.
std::string desktop_exec_line(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos)
        return {};
    std::vector<std::string> folders;
    const char* data_home = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (data_home && *data_home == '/')
        folders.push_back(data_home);
    else if (home && *home)
        folders.push_back(std::string(home) + "/.local/share");
    const char* data_dirs = std::getenv("XDG_DATA_DIRS");
    std::string dirs = data_dirs && *data_dirs ? data_dirs : "/usr/local/share:/usr/share";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        if (end > start)
            folders.push_back(dirs.substr(start, end - start));
        start = end + 1;
    }
    for (const auto& folder : folders) {
        std::ifstream entry(folder + "/applications/" + id);
        if (!entry)
            continue;
        std::string line;
        bool in_main_group = false;
        while (std::getline(entry, line)) {
            if (!line.empty() && line[0] == '[')
                in_main_group = line == "[Desktop Entry]";
            else if (in_main_group && line.rfind("Exec=", 0) == 0)
                return line.substr(5);
        }
    }
    return {};
}

// The words of an Exec line, field codes replaced: the file ones by the path, the rest dropped.
// Empty when the line is malformed.
std::vector<std::string> exec_words(const std::string& exec, const std::string& path) {
    std::vector<std::string> words = split_command_line(exec).value_or(std::vector<std::string>{});
    for (auto& word : words) {
        std::string expanded;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '%' || i + 1 == word.size()) {
                expanded += word[i];
                continue;
            }
            const char code = word[++i];
            if (code == '%')
                expanded += '%';
            else if (code == 'f' || code == 'F' || code == 'u' || code == 'U')
                expanded += path;
        }
        word = std::move(expanded);
    }
    // Codes that expand to nothing leave no empty word behind.
    words.erase(std::remove(words.begin(), words.end(), std::string()), words.end());
    return words;
}

} // namespace

std::vector<std::string> document_command(const std::string& path,
                                          const std::vector<std::string>& extra) {
    // xdg-mime answers at once, or it is stuck.
    constexpr std::chrono::seconds deadline{5};
    if (!extra.empty()) {
        const std::string type =
            first_output_line({"xdg-mime", "query", "filetype", path}, deadline);
        const std::string handler =
            type.empty() ? std::string()
                         : first_output_line({"xdg-mime", "query", "default", type}, deadline);
        std::vector<std::string> words = exec_words(desktop_exec_line(handler), path);
        if (!words.empty()) {
            if (std::find(words.begin(), words.end(), path) == words.end())
                words.push_back(path);
            words.insert(words.end(), extra.begin(), extra.end());
            return words;
        }
    }
    return {"xdg-open", path};
}

} // namespace platform
