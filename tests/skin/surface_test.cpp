#include "forms_fixture.h"
#include "skin/blend.h"
#include "skin/surface.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace skin;

namespace {

// A source whose pixel (x, y) is 100 * y + x + 1.
void number_pixels(RenderSurface& surface) {
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x)
            surface.surface()->set_pixel(x, y, uint16_t(100 * y + x + 1));
}

} // namespace

TEST(RenderSurface, RecreateCopyAndScaledCopy) {
    for (int width : {1, 3, 7})
        EXPECT_EQ(reinterpret_cast<uintptr_t>(Surface::create(width, 3)->row(1)) % 4, 0u);
    EXPECT_FALSE(Surface::create(0, 5));
    EXPECT_FALSE(Surface::create(5, -1));
    EXPECT_FALSE(Surface::create(Surface::max_side + 1, 1));
    int64_t before = RenderSurface::total_pixels();
    {
        RenderSurface a, b;
        EXPECT_TRUE(a.recreate(10, 4));
        a.surface()->set_pixel(3, 3, 0x1234);
        EXPECT_FALSE(a.recreate(10, 4)); // same size keeps the pixels
        EXPECT_TRUE(a.surface()->pixel(3, 3) == 0x1234 && a.clip() == (Rect{0, 0, 10, 4}));
        b.recreate(5, 5);
        EXPECT_EQ(RenderSurface::total_pixels(), before + 65);
        EXPECT_TRUE(a.recreate(0, 0));
        EXPECT_TRUE(a.width() == 0 && RenderSurface::total_pixels() == before + 25);
        EXPECT_FALSE(a.recreate(-3, 4));
    }
    EXPECT_EQ(RenderSurface::total_pixels(), before);

    RenderSurface source, target;
    source.recreate(10, 10);
    number_pixels(source);
    target.recreate(20, 20);

    // Bottom-right 5 x 5 of the source lands at (0, 0).
    source.copy(target, -5, -5, Rect{0, 0, 10, 10}, Blend::copy());
    EXPECT_EQ(std::tuple(target.surface()->pixel(0, 0), target.surface()->pixel(4, 4),
                         forms_test::ink(target, 0)),
              std::tuple(100 * 5 + 5 + 1, 100 * 9 + 9 + 1, Rect{0, 0, 5, 5}));

    RenderSurface fresh;
    fresh.recreate(20, 20);
    source.copy(fresh, 0, 0, Rect{1, 0, 11, 10}, Blend::copy());   // one past the right
    source.copy(fresh, 0, 0, Rect{-1, 0, 9, 10}, Blend::copy());   // negative start
    source.copy(fresh, 0, 0, Rect{0, 0, 0, 10}, Blend::copy());    // empty
    source.copy(fresh, 18, 18, Rect{0, 0, 10, 10}, Blend::copy()); // only 2 x 2 visible
    EXPECT_EQ(forms_test::ink(fresh, 0), (Rect{18, 18, 20, 20}));
    EXPECT_EQ(fresh.surface()->pixel(19, 19), 100 + 1 + 1);
    // A clip wholly outside the target lets nothing through.
    ClipScope outside(fresh, 50, 60, 5, 5);
    source.copy(fresh, 0, 0, Rect{0, 0, 10, 10}, Blend::copy());
    EXPECT_EQ(forms_test::ink(fresh, 0), (Rect{18, 18, 20, 20}));

    // A scaled copy steps the source in fixed point.
    source.recreate(4, 2);
    number_pixels(source);
    target.recreate(8, 4);
    source.copy_scaled(target, Rect{0, 0, 8, 4}, Rect{0, 0, 4, 2}, Blend::copy());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(target.surface()->pixel(x, y), 100 * (y / 2) + x / 2 + 1) << x << "," << y;
    // Halving, clipped on the left.
    RenderSurface small;
    small.recreate(2, 1);
    ClipScope scope(small, 1, 0, 1, 1);
    source.copy_scaled(small, Rect{0, 0, 2, 1}, Rect{0, 0, 4, 2}, Blend::copy());
    EXPECT_EQ(std::tuple(small.surface()->pixel(0, 0), small.surface()->pixel(1, 0)),
              std::tuple(0, 3));
}

uint16_t over(uint16_t target, uint16_t source, const Blend& blend) {
    blend.copy_span()(&target, &source, 1, blend);
    return target;
}

int red(uint16_t p) {
    return p >> 11;
}

// The key never shows; opaque pixels show at every level; soft ones fade out from level 0 to 4.
TEST(Blend, KeyedFadeTintFillAndWholeSpans) {
    const uint16_t grey = 0x8410, opaque = 0x07E0, soft = 0x2104;
    for (int level = 0; level <= 4; ++level) {
        SCOPED_TRACE(level);
        EXPECT_EQ(over(grey, key_color, Blend::keyed(level)), grey);
        EXPECT_EQ(over(grey, opaque, Blend::keyed(level)), opaque);
    }
    EXPECT_TRUE(over(grey, soft, Blend::keyed(0)) == soft &&
                over(grey, soft, Blend::keyed(4)) == grey);
    EXPECT_NEAR(red(over(grey, soft, Blend::keyed(1))), red(soft) + red(grey) / 4, 1);
    EXPECT_NEAR(red(over(grey, soft, Blend::keyed(2))), red(soft) + red(grey) / 2, 1);
    const int l2 = red(over(grey, soft, Blend::keyed(2))),
              l3 = red(over(grey, soft, Blend::keyed(3)));
    EXPECT_TRUE((l2 <= l3 && l3 <= red(grey)) || (red(grey) <= l3 && l3 <= l2));
    EXPECT_TRUE(Blend::keyed_for_alpha(63).level() == 0 &&
                Blend::keyed_for_alpha(0xFFFFFFFF).level() == 4);

    auto faded = [](uint32_t alpha) {
        uint16_t t = 0xFFFF;
        Blend b = Blend::fade(alpha);
        b.fill_span()(&t, 1, b);
        return t;
    };
    EXPECT_TRUE(faded(255) == 0xFFFF && faded(0) == 0);
    for (uint32_t alpha = 16; alpha <= 256; alpha += 16)
        EXPECT_GT(red(faded(alpha)), red(faded(alpha - 16))) << alpha;
    EXPECT_NEAR(red(over(0, 0xFFFF, Blend::tint(128))), 15, 1);
    uint16_t row[3] = {1, 2, 3};
    Blend fill = Blend::fill(0x1234);
    fill.copy_span()(row, row, 3, fill);
    EXPECT_EQ(row[2], 0x1234);
    EXPECT_EQ(Blend::copy().fill_span(), nullptr);

    // Whole spans match pixel by pixel.
    const uint16_t kinds[] = {key_color, 0x07E0, 0x2104, 0xFFFF, 0x07C0, 0x8430};
    std::vector<uint16_t> source(37), background(37);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = kinds[(i * 5 + i / 3) % 6];
        background[i] = uint16_t(0x1111 * (i % 15));
    }
    for (int level = 0; level <= 4; ++level) {
        Blend blend = Blend::keyed(level);
        for (int offset : {0, 1}) {
            int count = int(source.size()) - offset;
            std::vector<uint16_t> whole = background, single = background;
            blend.copy_span()(whole.data() + offset, source.data() + offset, count, blend);
            for (int i = offset; i < int(source.size()); ++i)
                blend.copy_span()(&single[i], &source[i], 1, blend);
            EXPECT_EQ(whole, single) << "level " << level << " offset " << offset;
        }
    }
}
