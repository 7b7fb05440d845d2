// Skin pictures from arbitrary bytes: a 5-6-5 bitmap of the declared size, or nothing.

#include "fuzz_support.h"
#include "skin/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto bitmap = skin::decode_bmp_565(std::vector<uint8_t>(data, data + size), u"fuzz");
    if (!bitmap)
        return 0;
    if (bitmap->width() < 1 || bitmap->height() < 1 || bitmap->width() > skin::Surface::max_side ||
        bitmap->height() > skin::Surface::max_side)
        __builtin_trap();
    return 0;
}
