#pragma once

// The program's one rectangle: left and top inclusive, right and bottom exclusive, in pixels;
// foundation/rect.h gives it to the code above this layer.

#include <algorithm>
#include <cstdint>

namespace platform {

struct Rect {
    int32_t left{0};
    int32_t top{0};
    int32_t right{0};
    int32_t bottom{0};

    static Rect of_size(int32_t x, int32_t y, int32_t width, int32_t height) {
        return Rect{x, y, x + width, y + height};
    }
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    [[nodiscard]] bool empty() const { return right <= left || bottom <= top; }
    bool contains(int32_t x, int32_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
    Rect intersect(const Rect& other) const {
        return Rect{std::max(left, other.left), std::max(top, other.top),
                    std::min(right, other.right), std::min(bottom, other.bottom)};
    }
    Rect offset(int32_t dx, int32_t dy) const {
        return Rect{left + dx, top + dy, right + dx, bottom + dy};
    }
    [[nodiscard]] bool operator==(const Rect&) const = default;
};

} // namespace platform
