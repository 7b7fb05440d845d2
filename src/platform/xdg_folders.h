#pragma once

// The user's folders as the XDG base directory rules name them: the one place that reads HOME
// and the XDG_* variables. A variable counts only when it holds an absolute path; otherwise
// the rule's default under the home folder applies. Paths are UTF-8.

#include <string>
#include <vector>

namespace platform {

// $HOME when it is an absolute path, else the password database's entry for this user, else
// "/".
std::string home_directory();
// $XDG_CONFIG_HOME, else ~/.config.
std::string config_home();
// $XDG_DATA_HOME, else ~/.local/share.
std::string data_home();
// $XDG_CACHE_HOME, else ~/.cache.
std::string cache_home();
// $XDG_RUNTIME_DIR; empty when it is not set (nothing stands in for it).
std::string runtime_dir();
// $XDG_DATA_DIRS (its absolute entries), else /usr/local/share and /usr/share.
std::vector<std::string> data_dirs();

} // namespace platform
