#pragma once

namespace testing_support {

// GLib reads the user's home and data folders once per process, when first asked. A test that
// moves them (a world of its own) tells GLib, or GIO's trash stays in the first world's home
// for the rest of the process: once that world is gone, nothing can be trashed any more.
void glib_follow_home();

} // namespace testing_support
