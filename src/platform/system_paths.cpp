#include "platform/system_paths.h"

#include "platform/file_handle.h"
#include "platform/xdg_folders.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

std::string executable_path() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (size_t(length) < buffer.size())
            return std::string(buffer.data(), size_t(length));
        if (buffer.size() >= 1 << 20)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

namespace {

// The value of XDG_DOCUMENTS_DIR in user-dirs.dirs ("$HOME/..." or an absolute path).
std::string documents_from_user_dirs() {
    const std::string text = read_whole_text(config_home() + "/user-dirs.dirs", 1 << 20);
    std::string_view lines = text;
    while (!lines.empty()) {
        const std::string line(lines.substr(0, lines.find('\n')));
        lines.remove_prefix(std::min(lines.size(), line.size() + 1));
        const std::string key = "XDG_DOCUMENTS_DIR=";
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = line.substr(start + key.size());
        if (value.size() >= 2 && value.front() == '"') {
            size_t end = value.find('"', 1);
            if (end == std::string::npos)
                continue;
            value = value.substr(1, end - 1);
        }
        if (value.rfind("$HOME", 0) == 0)
            value = home_directory() + value.substr(5);
        if (!value.empty() && value.front() == '/')
            return value;
    }
    return {};
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
} // namespace

std::string documents_directory() {
    if (const char* dir = std::getenv("XDG_DOCUMENTS_DIR"); dir && *dir == '/')
        return dir;
    std::string configured = documents_from_user_dirs();
    if (!configured.empty())
        return configured;
    return home_directory() + "/Documents";
}

std::string temp_directory() {
    if (const char* dir = std::getenv("TMPDIR"); dir && *dir == '/' && is_directory(dir)) {
        std::string path = dir;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }
    return "/tmp";
}

std::string special_directory(const std::string& which) {
    if (which == "windows")
        return "/usr/bin";
    if (which == "startup")
        return config_home() + "/autostart";
    if (which == "programs" || which == "start_menu")
        return data_home() + "/applications";
    if (which == "program_files")
        return "/usr/lib";
    return {};
}

std::string contacts_directory() {
    if (const char* folder = std::getenv("QUILLORY_CONTACTS"); folder && *folder)
        return folder;
    return data_home() + "/contacts";
}

std::string cache_directory() {
    return cache_home() + "/quillory";
}

std::optional<std::vector<std::string>> storage_cards_override() {
    const char* list = std::getenv("QUILLORY_CARDS");
    if (!list)
        return std::nullopt;
    std::vector<std::string> cards;
    const std::string text = list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(':', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            cards.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return cards;
}

bool handover_trace_on() {
    const char* value = std::getenv("QUILLORY_TRACE_HANDOVER");
    return value && *value;
}

} // namespace platform
