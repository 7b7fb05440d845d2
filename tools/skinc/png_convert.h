#pragma once

// Pictures for skins: PNG in, 16-bit 5-6-5 BMP out, with the transparency conventions of skin
// bitmaps (0xF81F key for transparent pixels, green low bit set on opaque ones, soft pixels
// premultiplied with it clear).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace skinc {

struct RgbaImage {
    int32_t width{0};
    int32_t height{0};
    std::vector<uint8_t> pixels; // RGBA, rows from the top
};

// False with reason set when the file is not a readable PNG.
bool read_png(const std::filesystem::path& file, RgbaImage& image, std::string& reason);

// One 5-6-5 skin pixel for one RGBA pixel. A soft pixel always adds half the target and its
// own colour, so it can only stand for one alpha: each pixel takes whichever of the key (alpha
// below 64), the soft pixel at half the colour (64-191) or the opaque colour (192 and above)
// comes closest to it over any background. Soft channels stay at most half their range, so the
// keyed blends cannot carry into the next channel.
uint16_t skin_pixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha);

std::vector<uint16_t> to_skin_pixels(const RgbaImage& image);

// A bottom-up 16-bit BMP with 5-6-5 bit-field masks.
std::vector<uint8_t> encode_bmp_565(int32_t width, int32_t height, const uint16_t* pixels,
                                    int32_t pitch_pixels);

// Writes 5-6-5 pixels as an 8-bit RGB PNG.
bool write_png_565(const std::filesystem::path& file, int32_t width, int32_t height,
                   const uint16_t* pixels, int32_t pitch_bytes);

} // namespace skinc
