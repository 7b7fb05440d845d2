#pragma once

#include <string>

namespace testing_support {

// Gives the process a fontconfig setup of its own for text tests: a folder with links to a few
// font files from Debian packages (DejaVu Sans, bold and oblique, for Latin, Greek, Cyrillic,
// Arabic and Hebrew; FreeSans for Devanagari; WenQuanYi Micro Hei for Chinese; Symbola for emoji
// and symbols; Noto Color Emoji for emoji Symbola lacks) and a fonts.conf that names only that
// folder. Done once; later calls report the first result. Empty when ready, otherwise what went
// wrong.
std::string use_test_fonts();

// The same fontconfig file for programs the tests start (their FONTCONFIG_FILE), without
// changing this process's fonts; empty when it cannot be made.
std::string test_fonts_file();

} // namespace testing_support
