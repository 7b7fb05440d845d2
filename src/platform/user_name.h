#pragma once

// The name of the user running the program.

#include <string>

namespace platform {

// $USER, else $LOGNAME; empty when neither is set.
std::string user_name();

} // namespace platform
