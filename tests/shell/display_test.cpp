#include "platform/clock.h"
#include "platform/display.h"
#include "platform/messages.h"
#include "png_convert.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

class HeadlessDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        display = platform::Display::open("test", &error);
        ASSERT_NE(display, nullptr) << error;
        display->attach(window);
    }
    void TearDown() override {
        display.reset();
        platform::destroy_window(window);
    }

    testing_support::ScopedEnv video{"SDL_VIDEODRIVER", "offscreen"};
    testing_support::ScopedEnv size{"QUILLORY_SCREEN", "64x48"};
    std::vector<platform::Message> seen;
    platform::WindowHandle window = platform::create_window(
        [this](platform::WindowHandle window, uint32_t message, platform::WParam wparam,
               platform::LParam lparam) -> platform::LResult {
            seen.push_back(platform::Message{window, message, wparam, lparam, 0});
            return 0;
        });
    std::string error;
    std::unique_ptr<platform::Display> display;
};

} // namespace

TEST_F(HeadlessDisplay, ScreenshotHoldsTheBackBuffer) {
    EXPECT_EQ(display->width(), 64);
    EXPECT_EQ(display->height(), 48);
    // Smaller than the design: drawn at its own size.
    EXPECT_EQ(display->dots_per_inch(), 96);
    platform::PixelBuffer buffer = display->back_buffer();
    ASSERT_EQ(buffer.width, 64);
    for (int32_t y = 0; y < buffer.height; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(buffer.pixels) +
                                                y * buffer.pitch);
        for (int32_t x = 0; x < buffer.width; ++x)
            row[x] = (y == 0 && x == 0) ? 0xF800 : 0x07E0; // red corner on green
    }
    display->present();
    testing_support::TempDir folder;
    auto path = folder / "shot.bmp";
    ASSERT_TRUE(display->save_screenshot(path.string()));
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GT(bytes.size(), 54u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(le32(bytes, 18), 64u);
    uint32_t height = le32(bytes, 22);
    EXPECT_EQ(height, 48u); // positive: rows stored bottom-up
    EXPECT_EQ(bytes[28], 24);
    uint32_t offset = le32(bytes, 10);
    size_t stride = 64 * 3;
    // Top-left pixel is the last row in the file; BMP stores blue, green, red.
    size_t top_left = offset + stride * 47;
    ASSERT_LE(top_left + 6, bytes.size());
    EXPECT_EQ(bytes[top_left + 2], 255); // red
    EXPECT_EQ(bytes[top_left + 1], 0);
    EXPECT_EQ(bytes[top_left + 4], 255); // next pixel green
    EXPECT_EQ(bytes[top_left + 5], 0);
}

TEST_F(HeadlessDisplay, PostFromAnotherThreadEndsTheWait) {
    testing_support::Watchdog watchdog(20);
    std::thread poster([w = window] {
        platform::sleep_ms(50);
        platform::post_message(w, platform::WM_USER + 3, 0, 0);
    });
    uint32_t start = platform::tick_count();
    platform::Message message;
    while (!platform::peek_message(message, window, platform::WM_USER + 3, platform::WM_USER + 3) &&
           platform::tick_count() - start < 10000)
        display->wait_events(10000);
    poster.join();
    EXPECT_EQ(message.message, uint32_t(platform::WM_USER + 3));
    EXPECT_LT(platform::tick_count() - start, 5000u);
}

TEST(VirtualKeys, SdlKeysBecomeThePhonesVirtualKeys) {
    EXPECT_EQ(platform::virtual_key_for('a'), uint32_t('A'));
    EXPECT_EQ(platform::virtual_key_for('7'), uint32_t('7'));
    EXPECT_EQ(platform::virtual_key_for(27), platform::VK_ESCAPE);
    EXPECT_EQ(platform::virtual_key_for(8), platform::VK_BACK);
    EXPECT_EQ(platform::virtual_key_for('#'), platform::VK_F1 + 8);
    EXPECT_EQ(platform::virtual_key_for('*'), platform::VK_F1 + 7);
    EXPECT_EQ(platform::virtual_key_for('~'), 0u);
}

TEST_F(HeadlessDisplay, PngScreenshotReadsBackPixelForPixel) {
    platform::PixelBuffer buffer = display->back_buffer();
    for (int32_t y = 0; y < buffer.height; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(buffer.pixels) +
                                                y * buffer.pitch);
        for (int32_t x = 0; x < buffer.width; ++x)
            row[x] = uint16_t((x * 997 + y * 131) & 0xFFFF);
    }
    testing_support::TempDir folder;
    auto path = folder / "shot.PNG";
    ASSERT_TRUE(display->save_screenshot(path.string()));
    skinc::RgbaImage image;
    std::string reason;
    ASSERT_TRUE(skinc::read_png(path, image, reason)) << reason;
    ASSERT_EQ(image.width, 64);
    ASSERT_EQ(image.height, 48);
    for (int32_t y = 0; y < 48; y += 7) {
        for (int32_t x = 0; x < 64; x += 5) {
            uint16_t p = uint16_t((x * 997 + y * 131) & 0xFFFF);
            const uint8_t* rgba = &image.pixels[size_t(y * 64 + x) * 4];
            EXPECT_EQ(rgba[0] >> 3, p >> 11) << x << "," << y;
            EXPECT_EQ(rgba[1] >> 2, (p >> 5) & 0x3F) << x << "," << y;
            EXPECT_EQ(rgba[2] >> 3, p & 0x1F) << x << "," << y;
        }
    }
    EXPECT_FALSE(display->save_screenshot((folder / "missing" / "x.png").string()));
    // No screen: no box, and the caller learns it.
    EXPECT_FALSE(display->message_box("title", "text"));
    EXPECT_TRUE(display->software_renderer());
}

TEST(DisplaySize, TheDesignDoubledByDefaultAndAtTheDensityAsked) {
    testing_support::ScopedEnv video{"SDL_VIDEODRIVER", "offscreen"};
    {
        auto display = platform::Display::open("test");
        ASSERT_NE(display, nullptr);
        EXPECT_EQ(display->width(), 480);
        EXPECT_EQ(display->height(), 640);
        EXPECT_EQ(display->dots_per_inch(), 192);
    }
    // The density asked for is that of a point: the window and the skin follow it (a
    // high-density desktop's 384 shows the design at the same size, twice as sharp).
    for (const auto& [asked, width, height] :
         {std::tuple{96, 240, 320}, std::tuple{384, 960, 1280}}) {
        testing_support::ScopedEnv dpi{"QUILLORY_DPI", std::to_string(asked)};
        auto display = platform::Display::open("test");
        ASSERT_NE(display, nullptr);
        EXPECT_EQ(display->width(), width);
        EXPECT_EQ(display->height(), height);
        EXPECT_EQ(display->dots_per_inch(), asked);
    }
}

TEST(DisplaySize, TheSkinFillsPhoneWindowsAndStaysDoubledOnLargerOnes) {
    testing_support::ScopedEnv video{"SDL_VIDEODRIVER", "offscreen"};
    struct Case {
        const char* window;
        int32_t dpi;
    };
    // Scale from the shorter side: the design's 240 points fit 1, 1.5 or 2 times (1.5 draws
    // at 1 while the output has one pixel a point); never more than the desktop's 2.
    const Case cases[] = {{"240x320", 96}, {"479x640", 96},   {"360x720", 96},   {"480x640", 192},
                          {"720x360", 96}, {"480x1000", 192}, {"960x1280", 192}, {"200x100", 96}};
    for (const Case& c : cases) {
        testing_support::ScopedEnv size{"QUILLORY_SCREEN", c.window};
        auto display = platform::Display::open("test");
        ASSERT_NE(display, nullptr);
        EXPECT_EQ(display->dots_per_inch(), c.dpi) << c.window;
    }
}
