#pragma once

// Pictures compared with golden PNG files under tests/data; on a mismatch the actual picture and
// a difference picture (differing pixels red, masked dark blue) go to the build folder's
// "golden-failures". QV_UPDATE_GOLDEN=1 rewrites the goldens. Needs skinc_lib.

#include "png_convert.h"
#include "skin/surface.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

namespace testing_support {

// A part of a picture left out of the comparison (what changes from run to run).
struct Area {
    int x{0}, y{0}, w{0}, h{0};
};

// Compares `rgb` (8-bit RGB) with the golden PNG outside the masks: up to `budget` pixels may
// have a channel off by more than `tolerance`. `save` writes the actual picture to a path.
inline ::testing::AssertionResult
compare_with_golden(const std::vector<uint8_t>& rgb, int width, int height,
                    const std::filesystem::path& golden,
                    const std::function<bool(const std::filesystem::path&)>& save,
                    int tolerance = 0, size_t budget = 0, const std::vector<Area>& masks = {}) {
    namespace fs = std::filesystem;
    const char* update = std::getenv("QV_UPDATE_GOLDEN");
    if (update && *update && std::string(update) != "0") {
        fs::create_directories(golden.parent_path());
        return save(golden) ? ::testing::AssertionSuccess()
                            : ::testing::AssertionFailure() << "cannot write " << golden;
    }
    const fs::path failures = fs::path(QV_BUILD_DIR) / "golden-failures";
    const std::string stem = golden.stem().string();
    fs::create_directories(failures);
    skinc::RgbaImage expected;
    std::string reason;
    if (!skinc::read_png(golden, expected, reason) || expected.width != width ||
        expected.height != height) {
        save(failures / (stem + ".actual.png"));
        return ::testing::AssertionFailure()
               << "golden " << golden << " (" << expected.width << "x" << expected.height << " "
               << reason << ") against " << width << "x" << height << " drawn; actual in "
               << failures;
    }
    size_t differing = 0;
    std::vector<uint16_t> diff(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t at = size_t(y) * size_t(width) + size_t(x);
            bool same = true;
            for (size_t c = 0; c < 3; ++c)
                same &=
                    std::abs(int(rgb[at * 3 + c]) - int(expected.pixels[at * 4 + c])) <= tolerance;
            bool masked = false;
            for (const Area& m : masks)
                masked |= x >= m.x && x < m.x + m.w && y >= m.y && y < m.y + m.h;
            differing += !same && !masked ? 1 : 0;
            const unsigned grey = (rgb[at * 3] + rgb[at * 3 + 1] + rgb[at * 3 + 2]) / 12 + 160;
            diff[at] = masked  ? uint16_t(0x0010)
                       : !same ? uint16_t(0xF800)
                               : uint16_t(((grey >> 3) << 11) | ((grey >> 2) << 5) | (grey >> 3));
        }
    if (differing <= budget)
        return ::testing::AssertionSuccess();
    save(failures / (stem + ".actual.png"));
    skinc::write_png_565(failures / (stem + ".diff.png"), width, height, diff.data(), width * 2);
    return ::testing::AssertionFailure()
           << differing << " pixels differ from " << golden << " (budget " << budget
           << "); actual and diff in " << failures;
}

// Compares surface with QV_TEST_DATA/relative_path (a .png), channels off by up to `tolerance`.
inline ::testing::AssertionResult matches_golden(const skin::RenderSurface& surface,
                                                 const std::string& relative_path,
                                                 int tolerance = 0) {
    if (surface.width() < 1 || surface.height() < 1)
        return ::testing::AssertionFailure() << "nothing drawn for " << relative_path;
    // The pixels as 8-bit RGB, expanded as the PNG writer does.
    std::vector<uint8_t> rgb;
    for (int32_t y = 0; y < surface.height(); ++y)
        for (int32_t x = 0; x < surface.width(); ++x) {
            const uint16_t p = surface.surface()->pixel(x, y);
            const unsigned r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
            rgb.insert(rgb.end(), {uint8_t((r << 3) | (r >> 2)), uint8_t((g << 2) | (g >> 4)),
                                   uint8_t((b << 3) | (b >> 2))});
        }
    return compare_with_golden(
        rgb, surface.width(), surface.height(), std::filesystem::path(QV_TEST_DATA) / relative_path,
        [&](const std::filesystem::path& path) {
            return skinc::write_png_565(path, surface.width(), surface.height(),
                                        surface.surface()->row(0), surface.surface()->pitch());
        },
        tolerance);
}

} // namespace testing_support
