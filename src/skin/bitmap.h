#pragma once

// Decoded skin pictures: 16-bit 5-6-5 BMP files, kept as they are in the file (no conversion).

#include "skin/surface.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skin {

// One decoded picture, shared by every SkinPicture that shows it.
class Bitmap {
public:
    Bitmap(std::u16string name, std::unique_ptr<Surface> surface)
        : m_name(std::move(name)), m_surface(std::move(surface)) {}

    const std::u16string& name() const { return m_name; }
    const Surface& surface() const { return *m_surface; }
    int32_t width() const { return m_surface->width(); }
    int32_t height() const { return m_surface->height(); }

private:
    std::u16string m_name;
    std::unique_ptr<Surface> m_surface;
};

// Decodes the bytes of a 16-bit BMP (bottom-up or top-down; colour masks skipped, pixels taken
// as 5-6-5; row padding skipped). None, with a log line, for anything else: another bit depth
// ("load_565 <name> is not 16bit bitmap"), compression, sizes below 1 or above
// Surface::max_side, or fewer pixel bytes than the rows need.
std::shared_ptr<Bitmap> decode_bmp_565(const std::vector<uint8_t>& bytes,
                                       const std::u16string& name);

// Loads path + ".bmp" (path macros allowed). None when the file is missing or refused.
std::shared_ptr<Bitmap> load_565(const std::u16string& path);

// Where a skin keeps picture name: the skin's folder, a separator and the name with ".bmp"
// appended by load_565; the name alone when the folder is empty.
std::u16string picture_path(const std::u16string& skin_folder, const std::u16string& name);

} // namespace skin
