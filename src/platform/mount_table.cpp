#include "platform/mount_table.h"

#include "platform/file_handle.h"
#include "platform/user_name.h"

#include <algorithm>
#include <string_view>

namespace platform {

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

bool directly_under(const std::string& path, const std::string& base) {
    if (path.size() <= base.size() + 1 || path.compare(0, base.size(), base) != 0 ||
        path[base.size()] != '/')
        return false;
    return path.find('/', base.size() + 1) == std::string::npos;
}
} // namespace

std::vector<std::string> removable_mount_points() {
    std::vector<std::string> result;
    const std::string table = read_whole_text("/proc/self/mountinfo", 16 << 20);
    std::string user = user_name();
    std::string_view lines = table;
    while (!lines.empty()) {
        std::string_view line = lines.substr(0, lines.find('\n'));
        lines.remove_prefix(std::min(lines.size(), line.size() + 1));
        // Fields: mount id, parent id, major:minor, root, mount point, ...
        std::string_view field;
        for (int i = 0; i < 5; ++i) {
            const size_t start = line.find_first_not_of(" \t");
            line.remove_prefix(std::min(line.size(), start));
            field = line.substr(0, line.find_first_of(" \t"));
            line.remove_prefix(field.size());
        }
        if (field.empty())
            continue;
        const std::string mount_point = unescape_mount_path(std::string(field));
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

} // namespace platform
