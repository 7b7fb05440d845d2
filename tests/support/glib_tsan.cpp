#include "support/glib_tsan.h"

namespace testing_support {

void use_glib_tsan_suppressions() {}

} // namespace testing_support

// GLib's own threads (GDBus's worker, its thread pool) synchronise through futexes that
// ThreadSanitizer cannot see; what they share among themselves is not ours to report. Our code
// touches GLib objects from the thread that made them only.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libglib-2.0.so\nrace:libgio-2.0.so\nrace:libgobject-2.0.so\n"
           "called_from_lib:libglib-2.0.so\ncalled_from_lib:libgio-2.0.so\n"
           "called_from_lib:libgobject-2.0.so\n";
}
