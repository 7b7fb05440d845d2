#include "platform/user_name.h"

#include <cstdlib>

namespace platform {

std::string user_name() {
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    if (const char* user = std::getenv("LOGNAME"); user && *user)
        return user;
    return {};
}

} // namespace platform
