#pragma once

// Skins for tests in the skin compiler's source format, compiled on the spot (needs skinc_lib).

#include "png_convert.h"
#include "skin_source.h"

#include <fstream>

namespace testing_support {

// Compiles source into folder/name and returns the path. Pictures declared with a file are
// written beside it; those declared without one are left to write_test_bitmap.
inline std::filesystem::path write_test_skin(const std::filesystem::path& folder,
                                             const std::string& name, const std::string& source) {
    std::filesystem::create_directories(folder);
    skinc::Skin skin = skinc::parse_skin(source, folder / (name + ".skn"));
    std::vector<uint8_t> bytes = skinc::write_skin(skin, name);
    std::filesystem::path path = folder / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    skinc::write_pictures(skin, folder, (folder / (name + ".skn")).string());
    return path;
}

// A 16-bit picture of one colour, as folder/name.bmp.
inline void write_test_bitmap(const std::filesystem::path& folder, const std::string& name,
                              int32_t width, int32_t height, uint16_t colour) {
    std::vector<uint16_t> pixels(size_t(width) * size_t(height), colour);
    std::vector<uint8_t> bytes = skinc::encode_bmp_565(width, height, pixels.data(), width);
    std::ofstream(folder / (name + ".bmp"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace testing_support
