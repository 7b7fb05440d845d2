#include "skin/blend.h"
#include "skin/surface.h"

#include <gtest/gtest.h>

using namespace skin;

namespace {

// A source whose pixel (x, y) is 100 * y + x + 1.
void number_pixels(RenderSurface& surface) {
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x)
            surface.surface()->set_pixel(x, y, uint16_t(100 * y + x + 1));
}

int count_non_zero(const RenderSurface& surface) {
    int n = 0;
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x)
            n += surface.surface()->pixel(x, y) != 0;
    return n;
}

} // namespace

TEST(Surface, MemorySurfaceRowsStartOnFourByteBoundaries) {
    for (int width : {1, 2, 3, 7, 480}) {
        auto s = Surface::create(width, 3);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->pitch(), (2 * width + 3) & ~3);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(s->row(1)) % 4, 0u);
    }
    EXPECT_FALSE(Surface::create(0, 5));
    EXPECT_FALSE(Surface::create(5, -1));
    EXPECT_FALSE(Surface::create(Surface::max_side + 1, 1));
}

TEST(RenderSurface, RecreateTracksThePixelTotal) {
    int64_t before = RenderSurface::total_pixels();
    {
        RenderSurface a;
        EXPECT_EQ(a.width(), 0);
        EXPECT_FALSE(a.recreate(0, 0));
        EXPECT_TRUE(a.recreate(10, 4));
        EXPECT_EQ(RenderSurface::total_pixels(), before + 40);
        a.surface()->set_pixel(3, 3, 0x1234);
        EXPECT_FALSE(a.recreate(10, 4)); // same size keeps the pixels
        EXPECT_EQ(a.surface()->pixel(3, 3), 0x1234);
        EXPECT_EQ(a.clip(), (Rect{0, 0, 10, 4}));
        RenderSurface b;
        b.recreate(5, 5);
        EXPECT_EQ(RenderSurface::total_pixels(), before + 65);
        EXPECT_TRUE(a.recreate(0, 0));
        EXPECT_EQ(a.width(), 0);
        EXPECT_EQ(RenderSurface::total_pixels(), before + 25);
        EXPECT_FALSE(a.recreate(-3, 4));
    }
    EXPECT_EQ(RenderSurface::total_pixels(), before);
}

TEST(RenderSurface, WrapsAnExternalBuffer) {
    std::vector<uint16_t> buffer(8 * 3, 0); // pitch of 8 pixels for a 6-pixel-wide screen
    int64_t before = RenderSurface::total_pixels();
    RenderSurface screen(buffer.data(), 6, 3, 16);
    EXPECT_EQ(RenderSurface::total_pixels(), before);
    EXPECT_EQ(screen.clip(), (Rect{0, 0, 6, 3}));
    screen.fill(Rect{-5, 1, 100, 2}, Blend::fill(0xABCD));
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(buffer[8 + x], x < 6 ? 0xABCD : 0) << x;
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[16], 0);
}

TEST(RenderSurface, CopyClipsAgainstTheTargetAndRefusesBadSources) {
    RenderSurface source, target;
    source.recreate(10, 10);
    number_pixels(source);
    target.recreate(20, 20);

    // Bottom-right 5 x 5 of the source lands at (0, 0).
    source.copy(target, -5, -5, Rect{0, 0, 10, 10}, Blend::copy());
    EXPECT_EQ(target.surface()->pixel(0, 0), 100 * 5 + 5 + 1);
    EXPECT_EQ(target.surface()->pixel(4, 4), 100 * 9 + 9 + 1);
    EXPECT_EQ(target.surface()->pixel(5, 0), 0);
    EXPECT_EQ(count_non_zero(target), 25);

    RenderSurface fresh;
    fresh.recreate(20, 20);
    source.copy(fresh, 0, 0, Rect{1, 0, 11, 10}, Blend::copy());   // one past the right
    source.copy(fresh, 0, 0, Rect{-1, 0, 9, 10}, Blend::copy());   // negative start
    source.copy(fresh, 0, 0, Rect{0, 0, 0, 10}, Blend::copy());    // empty
    source.copy(fresh, 18, 18, Rect{0, 0, 10, 10}, Blend::copy()); // only 2 x 2 visible
    EXPECT_EQ(count_non_zero(fresh), 4);
    EXPECT_EQ(fresh.surface()->pixel(19, 19), 100 + 1 + 1);
}

TEST(RenderSurface, NestedClipScopes) {
    RenderSurface source, target;
    source.recreate(10, 10);
    number_pixels(source);
    target.recreate(10, 10);
    {
        ClipScope outer(target, 2, 2, 6, 6);
        EXPECT_EQ(target.clip(), (Rect{2, 2, 8, 8}));
        {
            ClipScope inner(target, 5, 0, 100, 4);
            EXPECT_EQ(target.clip(), (Rect{5, 2, 8, 4}));
            EXPECT_EQ(target.clip_depth(), 2);
            source.copy(target, 0, 0, Rect{0, 0, 10, 10}, Blend::copy());
        }
        EXPECT_EQ(target.clip(), (Rect{2, 2, 8, 8}));
        {
            ClipScope outside(target, 50, 60, 5, 5);
            EXPECT_TRUE(target.clip().empty());
            EXPECT_EQ(target.clip().width(), 0);
            source.copy(target, 0, 0, Rect{0, 0, 10, 10}, Blend::copy());
            target.fill(Rect{0, 0, 10, 10}, Blend::fill(1));
        }
    }
    EXPECT_EQ(target.clip_depth(), 0);
    EXPECT_EQ(count_non_zero(target), 3 * 2);
    EXPECT_EQ(target.surface()->pixel(5, 2), 100 * 2 + 5 + 1);
    EXPECT_EQ(target.surface()->pixel(7, 3), 100 * 3 + 7 + 1);
}

TEST(RenderSurfaceDeathTest, ResizingInsideAClipScopeIsFatal) {
    EXPECT_EXIT(
        {
            RenderSurface s;
            s.recreate(4, 4);
            ClipScope scope(s, 0, 0, 2, 2);
            s.recreate(8, 8);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(RenderSurface, CopyScaledStepsTheSourceInFixedPoint) {
    RenderSurface source, target;
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
    EXPECT_EQ(small.surface()->pixel(0, 0), 0);
    EXPECT_EQ(small.surface()->pixel(1, 0), 3);
}

TEST(Blend, KeyedLevelsFollowThePixelRules) {
    const uint16_t target_pixel = 0x8410; // mid grey
    const uint16_t soft = 0x2104;         // green low bit clear
    struct Case {
        uint16_t source;
        int level;
        uint16_t expected;
    };
    const Case cases[] = {
        {key_color, 0, target_pixel},
        {key_color, 1, target_pixel},
        {key_color, 2, target_pixel},
        {key_color, 3, target_pixel},
        {key_color, 4, target_pixel},
        {0x07E0, 0, 0x07E0},
        {0x07E0, 1, 0x07E0},
        {0x07E0, 2, 0x07E0},
        {0x07E0, 3, 0x07E0},
        {0x07E0, 4, 0x07E0},
        {0x07C0, 0, 0x07C0},
        {0x07C0, 4, target_pixel},
        {soft, 0, soft},
        {soft, 1, uint16_t(soft + ((target_pixel & 0xE79F) >> 2))},
        {soft, 2, uint16_t(soft + ((target_pixel & 0xF7DF) >> 1))},
        {soft, 4, target_pixel},
    };
    for (const Case& c : cases) {
        uint16_t t = target_pixel;
        Blend blend = Blend::keyed(c.level);
        blend.copy_span()(&t, &c.source, 1, blend);
        EXPECT_EQ(t, c.expected) << std::hex << c.source << " level " << c.level;
    }
    // Level 3 lies between levels 2 and 4 in every channel.
    uint16_t l2 = target_pixel, l3 = target_pixel;
    Blend::keyed(2).copy_span()(&l2, &soft, 1, Blend::keyed(2));
    Blend::keyed(3).copy_span()(&l3, &soft, 1, Blend::keyed(3));
    for (int shift : {11, 5, 0}) {
        int mask = shift == 5 ? 0x3F : 0x1F;
        int a = (l2 >> shift) & mask, b = (l3 >> shift) & mask, c = (target_pixel >> shift) & mask;
        EXPECT_TRUE((a <= b && b <= c) || (c <= b && b <= a)) << shift;
    }
    EXPECT_EQ(Blend::keyed_for_alpha(63).level(), 0);
    EXPECT_EQ(Blend::keyed_for_alpha(128).level(), 2);
    EXPECT_EQ(Blend::keyed_for_alpha(255).level(), 3);
    EXPECT_EQ(Blend::keyed_for_alpha(0xFFFFFFFF).level(), 4);
}

TEST(Blend, FadeTintAndFillSpans) {
    EXPECT_EQ(Blend::fade(0).level(), 0);
    EXPECT_EQ(Blend::fade(7).level(), 0);
    EXPECT_EQ(Blend::fade(8).level(), 1);
    EXPECT_EQ(Blend::fade(255).level(), 16);
    const uint16_t white = 0xFFFF;
    auto faded = [&](uint32_t alpha) {
        uint16_t t = white;
        Blend b = Blend::fade(alpha);
        b.fill_span()(&t, 1, b);
        return t;
    };
    EXPECT_EQ(faded(255), white);
    EXPECT_EQ(faded(16), (1 << 11) | (3 << 5) | 1); // one sixteenth of each channel
    EXPECT_EQ(faded(0), 0);
    uint16_t previous = 0;
    for (uint32_t alpha = 0; alpha <= 256; alpha += 16) {
        uint16_t now = faded(alpha);
        EXPECT_GE(now >> 11, previous >> 11);
        previous = now;
    }
    uint16_t t = 0;
    const uint16_t source = 0xFFFF;
    Blend tint = Blend::tint(128);
    tint.copy_span()(&t, &source, 1, tint);
    EXPECT_EQ(t, (15 << 11) | (31 << 5) | 15);
    uint16_t row[3] = {1, 2, 3};
    Blend fill = Blend::fill(0x1234);
    fill.copy_span()(row, row, 3, fill);
    EXPECT_EQ(row[2], 0x1234);
    EXPECT_EQ(Blend::copy().fill_span(), nullptr);
}

TEST(Blend, WholeSpansMatchPixelByPixel) {
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
