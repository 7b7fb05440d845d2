#include "platform/desktop_entries.h"

#include "platform/command_line.h"
#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/xdg_folders.h"

#include <algorithm>
#include <chrono>
#include <string_view>

namespace platform {

namespace {

// The Exec line of a desktop entry found by its id in the XDG data folders.
std::string desktop_exec_line(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos)
        return {};
    std::vector<std::string> folders = data_dirs();
    folders.insert(folders.begin(), data_home());
    for (const auto& folder : folders) {
        const std::string entry = read_whole_text(folder + "/applications/" + id, 1 << 20);
        std::string_view lines = entry;
        bool in_main_group = false;
        while (!lines.empty()) {
            const std::string_view line = lines.substr(0, lines.find('\n'));
            lines.remove_prefix(std::min(lines.size(), line.size() + 1));
            if (!line.empty() && line[0] == '[')
                in_main_group = line == "[Desktop Entry]";
            else if (in_main_group && line.starts_with("Exec="))
                return std::string(line.substr(5));
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
