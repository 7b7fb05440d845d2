#pragma once

namespace testing_support {

// Links the ThreadSanitizer suppressions for GLib's own threads into a test that talks to a
// bus (the helpers for private buses call it); does nothing at run time.
void use_glib_tsan_suppressions();

} // namespace testing_support
