#pragma once

// Golden images of drawn text: "RGB565 W H\n" then little-endian pixels, kept in
// tests/data/skin/NAME.rgb565. A mismatch writes the actual image to
// BUILD/test-output/NAME.rgb565 (and NAME.ppm to look at); QV_UPDATE_GOLDEN=1 in the
// environment rewrites the golden from the actual image instead of comparing.

#include "skin/surface.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace text_golden {

inline void write_rgb565(const skin::RenderSurface& s, const std::filesystem::path& path) {
    std::ofstream out(path, std::ios::binary);
    out << "RGB565 " << s.width() << " " << s.height() << "\n";
    for (int y = 0; y < s.height(); ++y)
        out.write(reinterpret_cast<const char*>(s.surface()->row(y)), 2 * s.width());
}

inline void write_ppm(const skin::RenderSurface& s, const std::filesystem::path& path) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << s.width() << " " << s.height() << "\n255\n";
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x) {
            uint16_t p = s.surface()->pixel(x, y);
            char rgb[3] = {char((p >> 11) * 255 / 31), char(((p >> 5) & 63) * 255 / 63),
                           char((p & 31) * 255 / 31)};
            out.write(rgb, 3);
        }
}

// Pixels may differ a little between FreeType and HarfBuzz versions: up to 1 % of them by more
// than a small step per channel.
inline void expect_golden(const skin::RenderSurface& s, const std::string& name) {
    std::filesystem::path golden =
        std::filesystem::path(QV_TEST_DATA) / "skin" / (name + ".rgb565");
    if (std::getenv("QV_UPDATE_GOLDEN")) {
        write_rgb565(s, golden);
        return;
    }
    int off = s.width() * s.height();
    std::ifstream in(golden, std::ios::binary);
    std::string magic;
    int width = 0, height = 0;
    if (in >> magic >> width >> height && in.get() == '\n' && magic == "RGB565" &&
        width == s.width() && height == s.height()) {
        off = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t b[2] = {0, 0};
                in.read(reinterpret_cast<char*>(b), 2);
                uint16_t want = uint16_t(b[0] | b[1] << 8), got = s.surface()->pixel(x, y);
                int dr = std::abs((want >> 11) - (got >> 11));
                int dg = std::abs(((want >> 5) & 63) - ((got >> 5) & 63));
                int db = std::abs((want & 31) - (got & 31));
                off += !in || dr > 4 || dg > 8 || db > 4;
            }
    }
    bool same = off <= s.width() * s.height() / 100;
    if (!same) {
        std::filesystem::path dir = std::filesystem::path(QV_BUILD_DIR) / "test-output";
        std::filesystem::create_directories(dir);
        write_rgb565(s, dir / (name + ".rgb565"));
        write_ppm(s, dir / (name + ".ppm"));
    }
    EXPECT_TRUE(same) << name << ": " << off << " pixels differ from " << golden
                      << "; the actual image is in " << QV_BUILD_DIR << "/test-output";
}

} // namespace text_golden
