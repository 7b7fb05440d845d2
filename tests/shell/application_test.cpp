#include "platform/clock.h"
#include "platform/messages.h"
#include "shell/application.h"
#include "shell/key_codes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

using namespace shell;
using platform::LParam;

namespace {

LParam point(int x, int y) {
    return LParam((uint32_t(uint16_t(y)) << 16) | uint16_t(x));
}

struct RecordingForms : FormHost {
    std::vector<PenEvent> pens;
    std::vector<KeyEvent> keys;
    std::u16string typed;
    std::vector<double> steps;
    bool update(double seconds) override {
        steps.push_back(seconds);
        return false;
    }
    void paint(platform::PixelBuffer&) override {}
    void pen(const PenEvent& event) override { pens.push_back(event); }
    void key(const KeyEvent& event) override { keys.push_back(event); }
    void text(char16_t c) override { typed.push_back(c); }
    bool empty() const override { return false; }
    void invalidate_all() override {}
    bool needs_frame() const override { return false; }
};

struct RecordingDelegate : ApplicationListener {
    bool allow_close{false};
    bool consume_keys{false};
    int background{0}, foreground{0};
    void on_other_instance_started(const std::u16string&) override {}
    bool may_close() override { return allow_close; }
    void on_went_to_background() override { ++background; }
    void on_came_to_foreground() override { ++foreground; }
    bool on_key_event(const KeyEvent&) override { return consume_keys; }
};

class ApplicationWindow : public ::testing::Test {
protected:
    ApplicationWindow()
        : config("XDG_CONFIG_HOME", folder.path().string()),
          application(u"Quillory Vozir", Application::Options{false}) {
        auto owned = std::make_unique<RecordingForms>();
        forms = owned.get();
        application.set_forms(std::move(owned));
        application.set_delegate(&delegate);
    }
    ~ApplicationWindow() override {
        platform::Message message;
        while (platform::peek_message(message)) {
        }
    }
    platform::LResult send(uint32_t message, platform::WParam wparam, LParam lparam) {
        return platform::send_message(application.game().window(), message, wparam, lparam);
    }
    testing_support::TempDir folder;
    testing_support::ScopedEnv config;
    RecordingDelegate delegate;
    Application application;
    RecordingForms* forms{nullptr};
};

} // namespace

TEST_F(ApplicationWindow, PenIsCapturedFromDownToUp) {
    send(platform::WM_MOUSEMOVE, 0, point(1, 1)); // hovering is not a pen
    send(platform::WM_LBUTTONDOWN, 1, point(10, 20));
    send(platform::WM_MOUSEMOVE, 1, point(-5, 300));
    send(platform::WM_LBUTTONUP, 0, point(30, 40));
    send(platform::WM_MOUSEMOVE, 0, point(31, 41));
    std::vector<std::tuple<PenEvent::Kind, int32_t, int32_t, bool>> seen;
    for (const PenEvent& pen : forms->pens)
        seen.emplace_back(pen.kind, pen.x, pen.y, pen.cancelled);
    EXPECT_EQ(seen, (decltype(seen){{PenEvent::Kind::Down, 10, 20, false},
                                    {PenEvent::Kind::Move, -5, 300, false},
                                    {PenEvent::Kind::Up, 30, 40, false}}));
}

TEST_F(ApplicationWindow, LosingTheCaptureCancelsThePen) {
    send(platform::WM_LBUTTONDOWN, 1, point(10, 20));
    send(platform::WM_ACTIVATE, platform::WA_INACTIVE, 0);
    ASSERT_EQ(forms->pens.size(), 2u);
    const PenEvent& up = forms->pens[1];
    EXPECT_EQ(std::tuple(up.kind, up.cancelled, up.x, up.y),
              std::tuple(PenEvent::Kind::Up, true, GameBase::no_point, GameBase::no_point));
    EXPECT_TRUE(application.game().in_background() && delegate.background == 1);
    send(platform::WM_LBUTTONUP, 0, point(1, 1)); // no capture left: no second up
    send(platform::WM_CANCELMODE, 0, 0);
    EXPECT_EQ(forms->pens.size(), 2u);
    send(platform::WM_ACTIVATE, platform::WA_ACTIVE, 0);
    EXPECT_TRUE(!application.game().in_background() && delegate.foreground == 1);
}

TEST_F(ApplicationWindow, KeysCarryRepeatAndGoToDelegateFirst) {
    send(platform::WM_KEYDOWN, 27, 1);
    send(platform::WM_KEYDOWN, 27, 0x40000001);
    send(platform::WM_KEYUP, 27, LParam(int32_t(0xC0000001u)));
    std::vector<std::tuple<uint32_t, bool, bool>> seen;
    for (const KeyEvent& key : forms->keys)
        seen.emplace_back(key.code, key.pressed, key.first_press);
    const uint32_t esc = uint32_t(KeyCode::Esc);
    EXPECT_EQ(seen, (decltype(seen){{esc, true, true}, {esc, true, false}, {esc, false, true}}));
    delegate.consume_keys = true;
    send(platform::WM_KEYDOWN, 'A', 1);
    EXPECT_EQ(forms->keys.size(), 3u);
    send(platform::WM_CHAR, 31, 1);
    send(platform::WM_CHAR, u'\u00e9', 1);
    EXPECT_EQ(forms->typed, u"\u00e9");
}

TEST_F(ApplicationWindow, CloseAsksTheDelegateAndThenQuits) {
    send(platform::WM_CLOSE, 0, 0);
    EXPECT_TRUE(platform::is_window(application.game().window()));
    delegate.allow_close = true;
    platform::WindowHandle window = application.game().window();
    send(platform::WM_CLOSE, 0, 0);
    EXPECT_FALSE(platform::is_window(window));
    platform::Message message;
    EXPECT_TRUE(platform::peek_message(message, 0, platform::WM_QUIT, platform::WM_QUIT));
}

TEST_F(ApplicationWindow, WindowTimerUpdatesOnlyInWindowedForeground) {
    platform::use_fake_clock(true, 1000);
    send(platform::WM_TIMER, GameBase::window_timer_id, 0);
    platform::advance_fake_clock(40);
    send(platform::WM_TIMER, GameBase::window_timer_id, 0);
    application.game().set_idle_until_input();
    send(platform::WM_TIMER, GameBase::window_timer_id, 0);
    send(platform::WM_KEYDOWN, 'A', 1); // input ends the idle state
    platform::advance_fake_clock(5000);
    send(platform::WM_TIMER, GameBase::window_timer_id, 0);
    platform::use_fake_clock(false);
    ASSERT_EQ(forms->steps.size(), 3u);
    EXPECT_EQ(std::tuple(forms->steps[1], forms->steps[2]), std::tuple(0.04, 0.1));
}

TEST(FrameStep, AFrameStepsByTheTimePassedWithinATenthOfASecond) {
    // A stall (a suspended machine) does not jump the animations; the tick counter may wrap.
    for (const auto& [now, last, seconds] : {std::tuple{1050u, 1000u, 0.05},
                                             {1000u, 1000u, 0.001},
                                             {900000u, 1000u, 0.1},
                                             {5u, 0xFFFFFFFBu, 0.01}})
        EXPECT_DOUBLE_EQ(frame_seconds(now, last), seconds) << now << " " << last;
}

TEST(ClientRectangle, HeaderAndReserveFollowTheScreen) {
    struct Case {
        int32_t width, height, dpi;
        bool windowed, task_bar, smartphone;
        foundation::Rect client;
    };
    const Case cases[] = {{480, 640, 192, false, true, false, {0, 0, 480, 640}},
                          {480, 640, 192, true, true, false, {0, 52, 480, 588}},
                          {480, 640, 192, true, false, false, {0, 0, 480, 588}},
                          {480, 640, 96, true, true, false, {0, 26, 480, 614}},
                          {240, 320, 96, true, true, true, {0, 27, 240, 293}},
                          {300, 320, 96, true, true, true, {0, 0, 300, 320}}};
    for (const Case& c : cases) {
        const ScreenInfo screen{c.width, c.height, 0, 0, 0, c.dpi};
        EXPECT_EQ(client_rect_for(screen, c.windowed, c.task_bar, c.smartphone, 480, 640), c.client)
            << c.width << "x" << c.height << " " << c.dpi << c.windowed << c.task_bar;
    }
}
