#pragma once

#include <string>

namespace testing_support {

// Points this process's fontconfig at the tests' fonts only, once; empty or what went wrong.
std::string use_test_fonts();

// That fontconfig file for programs the tests start, this process's fonts left alone.
std::string test_fonts_file();

} // namespace testing_support
