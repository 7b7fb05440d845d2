#pragma once

// Drawings compared with golden PNG files under tests/data. On a mismatch the actual image and a
// difference image (changed pixels red, the rest dimmed) are written under the build folder's
// "golden-failures". QV_UPDATE_GOLDEN=1 in the environment rewrites the goldens instead.
// Header-only: test programs that include it link the skin compiler library (skinc_lib).

#include "png_convert.h"
#include "skin/surface.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace testing_support {

// The surface's pixels as 8-bit RGB, expanded as the PNG writer does.
inline std::vector<uint8_t> rgb_of(const skin::RenderSurface& surface) {
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < surface.height(); ++y)
        for (int32_t x = 0; x < surface.width(); ++x) {
            uint16_t p = surface.surface()->pixel(x, y);
            unsigned r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
            out.push_back(uint8_t((r << 3) | (r >> 2)));
            out.push_back(uint8_t((g << 2) | (g >> 4)));
            out.push_back(uint8_t((b << 3) | (b >> 2)));
        }
    return out;
}

// Compares surface with QV_TEST_DATA/relative_path (a .png). tolerance is the largest
// difference allowed per 8-bit channel.
inline ::testing::AssertionResult matches_golden(const skin::RenderSurface& surface,
                                                 const std::string& relative_path,
                                                 int tolerance = 0) {
    namespace fs = std::filesystem;
    const fs::path golden = fs::path(QV_TEST_DATA) / relative_path;
    if (surface.width() < 1 || surface.height() < 1)
        return ::testing::AssertionFailure() << "nothing drawn for " << relative_path;
    const char* update = std::getenv("QV_UPDATE_GOLDEN");
    if (update && *update && std::string(update) != "0") {
        fs::create_directories(golden.parent_path());
        if (!skinc::write_png_565(golden, surface.width(), surface.height(),
                                  surface.surface()->row(0), surface.surface()->pitch()))
            return ::testing::AssertionFailure() << "cannot write " << golden;
        return ::testing::AssertionSuccess();
    }

    const fs::path failures = fs::path(QV_BUILD_DIR) / "golden-failures";
    const std::string stem = fs::path(relative_path).stem().string();
    auto write_actual = [&] {
        fs::create_directories(failures);
        skinc::write_png_565(failures / (stem + ".actual.png"), surface.width(), surface.height(),
                             surface.surface()->row(0), surface.surface()->pitch());
    };

    skinc::RgbaImage expected;
    std::string reason;
    if (!skinc::read_png(golden, expected, reason)) {
        write_actual();
        return ::testing::AssertionFailure()
               << "no golden " << golden << " (" << reason << "); actual image in " << failures;
    }
    if (expected.width != surface.width() || expected.height != surface.height()) {
        write_actual();
        return ::testing::AssertionFailure()
               << golden << " is " << expected.width << "x" << expected.height << ", drawn "
               << surface.width() << "x" << surface.height();
    }

    const std::vector<uint8_t> actual = rgb_of(surface);
    size_t differing = 0;
    std::vector<uint16_t> diff(size_t(surface.width()) * surface.height());
    for (size_t i = 0; i < diff.size(); ++i) {
        bool same = true;
        for (int c = 0; c < 3; ++c)
            if (std::abs(int(actual[i * 3 + c]) - int(expected.pixels[i * 4 + c])) > tolerance)
                same = false;
        if (same) {
            unsigned grey = (actual[i * 3] + actual[i * 3 + 1] + actual[i * 3 + 2]) / 12;
            diff[i] = uint16_t(((grey >> 3) << 11) | ((grey >> 2) << 5) | (grey >> 3));
        } else {
            diff[i] = 0xF800;
            ++differing;
        }
    }
    if (differing == 0)
        return ::testing::AssertionSuccess();
    write_actual();
    skinc::write_png_565(failures / (stem + ".diff.png"), surface.width(), surface.height(),
                         diff.data(), surface.width() * 2);
    return ::testing::AssertionFailure() << differing << " pixels differ from " << golden
                                         << "; actual and diff images in " << failures;
}

} // namespace testing_support
