#include "platform/png_writer.h"

#include "platform/display.h"

#include <cstdio>
#include <png.h>
#include <vector>

namespace platform {

bool save_png(const std::string& path, const PixelBuffer& buffer) {
    if (!buffer.pixels || buffer.width < 1 || buffer.height < 1)
        return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> row(size_t(buffer.width) * 3);
    bool ok = false;
    if (png && info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_set_IHDR(png, info, uint32_t(buffer.width), uint32_t(buffer.height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int32_t y = 0; y < buffer.height; ++y) {
            const auto* source = reinterpret_cast<const uint16_t*>(
                reinterpret_cast<const uint8_t*>(buffer.pixels) + ptrdiff_t(y) * buffer.pitch);
            for (int32_t x = 0; x < buffer.width; ++x) {
                uint16_t p = source[x];
                uint8_t r = uint8_t((p >> 11) & 0x1F), g = uint8_t((p >> 5) & 0x3F),
                        b = uint8_t(p & 0x1F);
                row[size_t(x) * 3] = uint8_t((r << 3) | (r >> 2));
                row[size_t(x) * 3 + 1] = uint8_t((g << 2) | (g >> 4));
                row[size_t(x) * 3 + 2] = uint8_t((b << 3) | (b >> 2));
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

} // namespace platform
