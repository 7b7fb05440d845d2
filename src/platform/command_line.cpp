#include "platform/command_line.h"

namespace platform {

namespace {

bool escapable(char c) {
    return c == '"' || c == '`' || c == '$' || c == '\\';
}

} // namespace

std::optional<std::vector<std::string>> split_command_line(std::string_view command) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < command.size() && escapable(command[i + 1]))
                word.push_back(command[++i]);
            else
                word.push_back(c);
        } else if (c == '"') {
            quoted = true;
            in_word = true;
        } else if (c == ' ' || c == '\t') {
            if (in_word)
                words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            word.push_back(c);
            in_word = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (in_word)
        words.push_back(std::move(word));
    return words;
}

std::string quote_command_word(std::string_view word) {
    std::string out = "\"";
    for (char c : word) {
        if (escapable(c))
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

} // namespace platform
