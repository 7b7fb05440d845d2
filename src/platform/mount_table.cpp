#include "platform/mount_table.h"

#include "platform/user_name.h"

#include <algorithm>
#include <fstream>
#include <sstream>

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

} // namespace platform
