#pragma once

// skin-render's form mode: builds a named form (or list row template, or the popup menu) of a
// compiled skin with the program's component kinds, lays it out for a window size and dpi with
// a language file, and draws it into a PNG.

#include <string>
#include <vector>

namespace skin {
class RenderSurface;
}

namespace skinc {

// Draws the form the arguments name (as render_form_main takes them, without OUT.png's
// meaning: args are NAME SKIN.skin [options]) into target. False with error set on failure.
bool render_form(const std::vector<std::string>& args, skin::RenderSurface& target,
                 std::string& error);

// argv without the program name, starting at "--form". Returns the process exit status.
int render_form_main(int argc, char** argv);

} // namespace skinc
