#include "forms_fixture.h"
#include "skin/bitmap.h"
#include "skin/skin_picture.h"

#include <gtest/gtest.h>

using namespace skin;
using forms_test::patched;

namespace {

void put(std::vector<uint8_t>& out, uint32_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint16_t pattern(int x, int y) {
    return uint16_t(0x0821 * (x + 1) + 0x1000 * y);
}

// A BMP of width x |height| pixels holding pattern(x, y) (y from the top).
std::vector<uint8_t> make_bmp(int width, int height, int bits = 16, bool masks = false,
                              size_t cut = 0) {
    int rows = height < 0 ? -height : height;
    uint32_t stride = (uint32_t(bits) * width + 31) / 32 * 4;
    uint32_t offset = 54 + (masks ? 12 : 0);
    std::vector<uint8_t> out{'B', 'M'};
    for (uint32_t v : {offset + stride * rows, 0u, offset, 40u, uint32_t(width), uint32_t(height)})
        put(out, v);
    put(out, 1, 2);
    put(out, uint32_t(bits), 2);
    for (uint32_t v : {masks ? 3u : 0u, 0u, 0u, 0u, 0u, 0u})
        put(out, v);
    if (masks)
        for (uint32_t v : {0xF800u, 0x07E0u, 0x001Fu})
            put(out, v);
    for (int i = 0; i < rows; ++i) {
        int y = height < 0 ? i : rows - 1 - i;
        size_t start = out.size();
        for (int x = 0; x < width; ++x)
            put(out, pattern(x, y), 2);
        while (out.size() - start < stride)
            out.push_back(0xEE); // padding must be skipped
    }
    out.resize(out.size() - cut);
    return out;
}

void expect_pattern(const Bitmap& bitmap, int width, int height) {
    ASSERT_EQ(bitmap.width(), width);
    ASSERT_EQ(bitmap.height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(bitmap.surface().pixel(x, y), pattern(x, y)) << x << "," << y;
}

// A 16 x 16 bitmap whose pixel (x, y) is 0x0100 * y + x + 1: every source pixel is distinct.
std::shared_ptr<Bitmap> grid_bitmap(int size = 16) {
    auto surface = Surface::create(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            surface->set_pixel(x, y, uint16_t(0x0100 * y + x + 1));
    return std::make_shared<Bitmap>(u"grid", std::move(surface));
}

SkinPicture nine_part(int s = 1) {
    return SkinPicture(grid_bitmap(), {0, 0}, {4 * s, 4 * s}, {12 * s, 12 * s}, {16 * s, 16 * s},
                       false, Scale::whole(s));
}

// The source columns begin..end-1 of each run, each drawn times times.
std::vector<int> runs(std::initializer_list<std::pair<int, int>> ranges, int times = 1) {
    std::vector<int> out;
    for (const auto& [begin, end] : ranges)
        for (int x = begin * times; x < end * times; ++x)
            out.push_back(x / times);
    return out;
}

std::vector<int> columns_at(const RenderSurface& target, int y, int width) {
    std::vector<int> out;
    for (int x = 0; x < width; ++x)
        out.push_back(int(target.surface()->pixel(x, y) & 0xFF) - 1);
    return out;
}

} // namespace

TEST(Pictures, BitmapsLoadOrAreRefusedAndNinePartsTileCutScaleClipAndKey) {
    for (int width : {1, 3, 4, 5})
        for (const auto& bytes :
             {make_bmp(width, 3), make_bmp(width, -3), make_bmp(width, 3, 16, true)}) {
            auto bitmap = decode_bmp_565(bytes, u"b");
            ASSERT_TRUE(bitmap) << width;
            expect_pattern(*bitmap, width, 3);
        }
    // The final row's padding may be missing.
    auto unpadded = decode_bmp_565(make_bmp(3, 2, 16, false, 2), u"u");
    ASSERT_TRUE(unpadded);
    expect_pattern(*unpadded, 3, 2);

    const auto bytes = make_bmp(4, 4);
    const std::vector<uint8_t> refused[] = {
        make_bmp(4, 4, 24),
        make_bmp(4, 4, 8),
        make_bmp(3, 2, 16, false, 3), // pixels cut
        make_bmp(4, 4, 16, false, 40),
        std::vector<uint8_t>(30, 0),
        patched(bytes, 18, 100000),     // absurd width
        patched(bytes, 22, 0x80000000), // absurd height
        patched(bytes, 18, 0),
        patched(bytes, 22, 0),
        patched(bytes, 10, 0xFFFFFF00), // pixels past the end
        patched(bytes, 30, 1),          // RLE
        patched(bytes, 0, 'X', 1),      // magic
    };
    for (const auto& bad : refused)
        EXPECT_FALSE(decode_bmp_565(bad, u"x")) << &bad - refused;

    RenderSurface target;
    target.recreate(40, 16);
    nine_part().draw(target, Rect{0, 0, 40, 16}, Blend::copy());
    EXPECT_EQ(columns_at(target, 0, 40),
              runs({{0, 4}, {4, 12}, {4, 12}, {4, 12}, {4, 12}, {12, 16}}));
    EXPECT_EQ(target.surface()->pixel(39, 15), 0x0F00 + 16);
    EXPECT_EQ(nine_part().natural_size(), (SkinPoint{16, 16}));

    target.recreate(6, 16);
    nine_part().draw(target, Rect{0, 0, 6, 16}, Blend::copy());
    EXPECT_EQ(columns_at(target, 0, 6), (std::vector<int>{0, 1, 2, 4, 14, 15}));

    RenderSurface one;
    one.recreate(1, 1);
    nine_part().draw(one, Rect{0, 0, 1, 1}, Blend::copy());
    EXPECT_EQ(one.surface()->pixel(0, 0), 0x0400 + 5); // the middle's first pixel

    // A part that is too short gives its share to the other side.
    RenderSurface lopsided;
    lopsided.recreate(6, 1);
    SkinPicture narrow_left(grid_bitmap(), {0, 0}, {1, 0}, {3, 1}, {16, 1}, false, Scale{});
    narrow_left.draw(lopsided, Rect{0, 0, 6, 1}, Blend::copy());
    EXPECT_EQ(columns_at(lopsided, 0, 6), (std::vector<int>{0, 1, 12, 13, 14, 15}));

    // A scale above one enlarges every bitmap pixel.
    target.recreate(40, 32);
    nine_part(2).draw(target, Rect{0, 0, 40, 32}, Blend::copy());
    // 40 - 16 = 24 doubled-middle pixels: 16 then 8.
    EXPECT_EQ(columns_at(target, 0, 40), runs({{0, 4}, {4, 12}, {4, 8}, {12, 16}}, 2));
    EXPECT_EQ(target.surface()->pixel(0, 1) >> 8, 0);
    EXPECT_EQ(target.surface()->pixel(0, 2) >> 8, 1);
    EXPECT_EQ(target.surface()->pixel(0, 31) >> 8, 15);

    // Half as large again: two bitmap pixels cover three screen pixels, none left out.
    SkinPicture whole(grid_bitmap(), {0, 0}, {0, 0}, {24, 24}, {24, 24}, false,
                      Scale::from_halves(3));
    whole.draw(target, Rect{0, 0, 24, 24}, Blend::copy());
    EXPECT_EQ(columns_at(target, 23, 24),
              (std::vector<int>{0, 0, 1, 2,  2,  3,  4,  4,  5,  6,  6,  7,
                                8, 8, 9, 10, 10, 11, 12, 12, 13, 14, 14, 15}));
    EXPECT_EQ(target.surface()->pixel(0, 23) >> 8, 15);

    // Clipped, keyed, and nothing without a bitmap.
    target.recreate(20, 20);
    target.fill(Rect{0, 0, 20, 20}, Blend::fill(0x1111));
    {
        ClipScope clip(target, 2, 2, 3, 3);
        nine_part().draw(target, Rect{0, 0, 20, 20}, Blend::copy());
    }
    EXPECT_EQ(forms_test::ink(target, 0x1111), (Rect{2, 2, 5, 5}));
    EXPECT_EQ(target.surface()->pixel(2, 2), 0x0200 + 3);

    SkinPicture().draw(target, Rect{0, 0, 20, 20}, Blend::copy());
    EXPECT_EQ(target.surface()->pixel(10, 10), 0x1111);

    auto keyed = Surface::create(2, 1);
    keyed->set_pixel(0, 0, key_color);
    keyed->set_pixel(1, 0, 0x07E0);
    SkinPicture two(std::make_shared<Bitmap>(u"k", std::move(keyed)), {0, 0}, {0, 0}, {2, 1},
                    {2, 1}, false, Scale{});
    two.draw(target, Rect{0, 0, 2, 1}, Blend::keyed(2));
    EXPECT_EQ(std::tuple(target.surface()->pixel(0, 0), target.surface()->pixel(1, 0)),
              std::tuple(0x1111, 0x07E0));

    // A huge destination costs only its visible part.
    SkinPicture thin(grid_bitmap(), {0, 0}, {0, 0}, {1, 1}, {1, 1}, false, Scale{});
    thin.draw(target, Rect{-1000000000, 0, 1000000000, 1}, Blend::copy());
    EXPECT_EQ(target.surface()->pixel(19, 0), 1);
}
