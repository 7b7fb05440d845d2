#include "shell/form_host.h"

#include <algorithm>

namespace shell {

void BackgroundForms::paint(platform::PixelBuffer& target) {
    for (int32_t y = 0; y < target.height; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(target.pixels) +
                                                ptrdiff_t(y) * target.pitch);
        std::fill(row, row + target.width, m_colour);
    }
    m_dirty = false;
}

} // namespace shell
