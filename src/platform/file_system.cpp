#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

bool make_directory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool remove_file(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool rename_path(const std::string& from, const std::string& to, int& error) {
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        error = EEXIST;
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = errno;
        return false;
    }
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
    std::string folder = to.substr(0, to.find_last_of('/') + 1);
    int descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (descriptor >= 0) {
        (void)::fsync(descriptor);
        ::close(descriptor);
    }
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

bool volume_space(const std::string& path, uint64_t& total, uint64_t& available) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0)
        return false;
    total = uint64_t(info.f_blocks) * info.f_frsize;
    available = uint64_t(info.f_bavail) * info.f_frsize;
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

bool spawn_detached(const std::vector<std::string>& words) {
    if (words.empty() || words.front().empty())
        return false;
    // The words reach the program whole, never through a shell's parser. The program runs in
    // a session of its own with its standard streams on /dev/null.
    std::vector<std::string> args = words;
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t child = 0;
    // posix_spawnp reports a program that cannot be found or run as a failure.
    bool started = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ) == 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (!started)
        return false;
    // The program outlives the call; a detached waiter collects its exit status so it leaves
    // no zombie while this process lives (after that, init adopts it).
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace platform
