#include "support/glib_dirs.h"

#include <cstdlib>
#include <string>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// GLib's own way for tests to move the user's folders; its header is not installed.
extern "C" void g_set_user_dirs(const char* first_dir_type, ...);

namespace testing_support {

void glib_follow_home() {
    const char* home = std::getenv("HOME");
    if (!home)
        return;
    const char* data = std::getenv("XDG_DATA_HOME");
    const std::string data_home = data ? data : std::string(home) + "/.local/share";
#if defined(__SANITIZE_ADDRESS__)
    // GLib keeps the values it replaces alive on purpose (a caller may still hold them).
    __lsan::ScopedDisabler kept_by_glib;
#endif
    g_set_user_dirs("HOME", home, "XDG_DATA_HOME", data_home.c_str(), nullptr);
}

} // namespace testing_support
