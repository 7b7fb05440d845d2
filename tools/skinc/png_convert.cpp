#include "png_convert.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <png.h>

namespace skinc {

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

} // namespace

bool read_png(const std::filesystem::path& file, RgbaImage& image, std::string& reason) {
    std::unique_ptr<FILE, FileCloser> in(std::fopen(file.c_str(), "rb"));
    if (!in) {
        reason = "cannot open " + file.string();
        return false;
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_stdio(&png, in.get())) {
        reason = file.string() + " is not a PNG: " + png.message;
        return false;
    }
    if (png.width < 1 || png.height < 1 || png.width > 16384 || png.height > 16384) {
        png_image_free(&png);
        reason = file.string() + " has an absurd size";
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    image.width = static_cast<int32_t>(png.width);
    image.height = static_cast<int32_t>(png.height);
    image.pixels.assign(PNG_IMAGE_SIZE(png), 0);
    if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
        reason = file.string() + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

uint16_t skin_pixel(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    if (alpha < 64)
        return 0xF81F;
    if (alpha >= 192)
        return static_cast<uint16_t>(((red & 0xF8) << 8) | ((green & 0xFC) << 3) | (blue >> 3) |
                                     0x0020);
    // Half the colour: over half the target (keyed level 2) that is the pixel at half alpha.
    return static_cast<uint16_t>(((red >> 4) << 11) | (((green >> 3) & ~1u) << 5) | (blue >> 4));
}

std::vector<uint16_t> to_skin_pixels(const RgbaImage& image) {
    std::vector<uint16_t> out(size_t(image.width) * image.height);
    for (size_t i = 0; i < out.size(); ++i) {
        const uint8_t* p = &image.pixels[4 * i];
        out[i] = skin_pixel(p[0], p[1], p[2], p[3]);
    }
    return out;
}

std::vector<uint8_t> encode_bmp_565(int32_t width, int32_t height, const uint16_t* pixels,
                                    int32_t pitch_pixels) {
    const uint32_t stride = (16u * width + 31) / 32 * 4;
    const uint32_t header = 14 + 40 + 12;
    std::vector<uint8_t> out;
    out.reserve(header + stride * height);
    out.push_back('B');
    out.push_back('M');
    put32(out, header + stride * height);
    put32(out, 0);
    put32(out, header);
    put32(out, 40);
    put32(out, static_cast<uint32_t>(width));
    put32(out, static_cast<uint32_t>(height));
    put16(out, 1);
    put16(out, 16);
    put32(out, 3); // BI_BITFIELDS
    put32(out, stride * height);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0xF800);
    put32(out, 0x07E0);
    put32(out, 0x001F);
    for (int32_t y = height - 1; y >= 0; --y) {
        const uint16_t* row = pixels + size_t(y) * pitch_pixels;
        for (int32_t x = 0; x < width; ++x)
            put16(out, row[x]);
        for (uint32_t pad = 2u * width; pad < stride; ++pad)
            out.push_back(0);
    }
    return out;
}

bool write_png_565(const std::filesystem::path& file, int32_t width, int32_t height,
                   const uint16_t* pixels, int32_t pitch_bytes) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* row = reinterpret_cast<const uint16_t*>(
            reinterpret_cast<const uint8_t*>(pixels) + size_t(y) * pitch_bytes);
        for (int32_t x = 0; x < width; ++x) {
            uint16_t p = row[x];
            uint8_t* out = &rgb[(size_t(y) * width + x) * 3];
            unsigned r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
            out[0] = uint8_t((r << 3) | (r >> 2));
            out[1] = uint8_t((g << 2) | (g >> 4));
            out[2] = uint8_t((b << 3) | (b >> 2));
        }
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, file.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

} // namespace skinc
