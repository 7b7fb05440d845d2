#pragma once

namespace testing_support {

// Links in the ThreadSanitizer suppressions for GLib's threads (the private bus calls it).
void use_glib_tsan_suppressions();

} // namespace testing_support
