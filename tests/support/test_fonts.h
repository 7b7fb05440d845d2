#pragma once

#include <string>

namespace testing_support {

// Gives the process a fontconfig setup naming only the text tests' fonts (see test_fonts.cpp),
// once; empty when ready, otherwise what went wrong.
std::string use_test_fonts();

// That fontconfig file for programs the tests start, this process's fonts left alone.
std::string test_fonts_file();

} // namespace testing_support
