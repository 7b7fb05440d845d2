#include "platform/xdg_folders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

// The variable's value when it is an absolute path.
const char* absolute(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value == '/' ? value : nullptr;
}

} // namespace

std::string home_directory() {
    if (const char* home = absolute("HOME"))
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

std::string config_home() {
    if (const char* dir = absolute("XDG_CONFIG_HOME"))
        return dir;
    return home_directory() + "/.config";
}

std::string data_home() {
    if (const char* dir = absolute("XDG_DATA_HOME"))
        return dir;
    return home_directory() + "/.local/share";
}

std::string cache_home() {
    if (const char* dir = absolute("XDG_CACHE_HOME"))
        return dir;
    return home_directory() + "/.cache";
}

std::string runtime_dir() {
    const char* dir = absolute("XDG_RUNTIME_DIR");
    return dir ? dir : std::string();
}

std::vector<std::string> data_dirs() {
    std::vector<std::string> folders;
    const char* value = std::getenv("XDG_DATA_DIRS");
    const std::string list = value && *value ? value : "/usr/local/share:/usr/share";
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start && list[start] == '/')
            folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

} // namespace platform
