#pragma once

// Command lines as desktop entries write their Exec lines, the one way this program splits a
// command line into words (registry notifications, parameters handed to a program, handlers'
// Exec lines).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command line into words: blanks (space, tab) separate words outside double quotes;
// double quotes group (and may join text before and after them into one word: a"b c"d is
// "ab cd"; "" is an empty word); inside double quotes a backslash before one of " ` $ \ stands
// for that character and any other backslash is itself. Nothing else is special: no field
// codes, variables or other shell syntax. Nothing when a quote is left open.
[[nodiscard]] std::optional<std::vector<std::string>> split_command_line(std::string_view command);

// The word quoted so that split_command_line gives it back unchanged.
std::string quote_command_word(std::string_view word);

} // namespace platform
