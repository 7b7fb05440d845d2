#pragma once

// Screenshots as PNG files: a 16-bit RGB 5-6-5 buffer written as 8-bit RGB, each channel's high
// bits repeated into its low ones (so white stays white). False when the buffer is empty or the
// file cannot be written whole.

#include <cstdint>
#include <string>

namespace platform {

struct PixelBuffer;

bool save_png(const std::string& path_utf8, const PixelBuffer& buffer);

} // namespace platform
