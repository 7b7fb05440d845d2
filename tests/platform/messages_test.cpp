#include "platform/clock.h"
#include "platform/messages.h"
#include "support/watchdog.h"

#include <atomic>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

using namespace platform;

namespace {

struct Recorder {
    std::vector<uint32_t> seen;
    WindowHandle window = create_window([this](WindowHandle, uint32_t message, WParam, LParam) {
        seen.push_back(message);
        return LResult(0);
    });
    ~Recorder() { destroy_window(window); }
};

// Takes every message waiting now, without blocking.
std::vector<Message> drain(WindowHandle window = 0, uint32_t first = 0, uint32_t last = 0) {
    std::vector<Message> taken;
    Message message;
    while (peek_message(message, window, first, last))
        taken.push_back(message);
    return taken;
}

std::vector<WParam> wparams(const std::vector<Message>& messages) {
    std::vector<WParam> out;
    for (const Message& message : messages)
        out.push_back(message.wparam);
    return out;
}

} // namespace

TEST(Messages, WindowLifecycleSendsCreateAndDestroy) {
    std::vector<uint32_t> seen;
    // A window that destroys itself again from its destroy message is destroyed once.
    auto window =
        create_window([&](WindowHandle self, uint32_t message, WParam, LParam) -> LResult {
            seen.push_back(message);
            if (message == WM_DESTROY)
                destroy_window(self);
            return 0;
        });
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(is_window(window));
    ASSERT_TRUE(post_message(window, WM_USER + 1, 0, 0));
    ASSERT_TRUE(set_timer(window, 3, 1));
    destroy_window(window);
    EXPECT_FALSE(is_window(window));
    EXPECT_EQ(seen, (std::vector<uint32_t>{WM_CREATE, WM_DESTROY}));
    EXPECT_FALSE(post_message(window, WM_USER, 0, 0));
    EXPECT_FALSE(set_timer(window, 3, 1));
    platform::sleep_ms(5);
    EXPECT_TRUE(drain().empty()); // neither the posted message nor the timer outlives the window
}

TEST(Messages, FiltersByWindowAndRangeKeepingOrder) {
    Recorder a, b;
    post_message(a.window, WM_USER + 1, 1, 0);
    post_message(b.window, WM_USER + 2, 2, 0);
    post_message(a.window, WM_KEYDOWN, 3, 0);
    post_message(b.window, WM_USER + 1, 4, 0);

    Message message;
    ASSERT_TRUE(peek_message(message, b.window, 0, 0, false));
    EXPECT_EQ(message.wparam, 2u);
    EXPECT_EQ(wparams(drain(b.window, WM_USER + 1, WM_USER + 1)), std::vector<WParam>{4});
    EXPECT_EQ(wparams(drain(0, WM_USER, WM_USER + 10)), (std::vector<WParam>{1, 2}));
    auto rest = drain();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].message, uint32_t(WM_KEYDOWN));
    EXPECT_EQ(dispatch_message(rest[0]), 0);
    EXPECT_EQ(a.seen.back(), uint32_t(WM_KEYDOWN));
    // Quit passes every filter, once, and ends get_message.
    post_message(a.window, WM_USER + 7, 0, 0);
    post_quit_message(4);
    EXPECT_FALSE(get_message(message, a.window, WM_USER + 5, WM_USER + 5));
    EXPECT_EQ(message.wparam, 4u);
    EXPECT_EQ(drain().size(), 1u);
}

TEST(Messages, CrossThreadPostWakesBlockedGetAndCallsHook) {
    testing_support::Watchdog watchdog(10);
    Recorder a;
    std::atomic<int> hook_calls{0};
    set_queue_wake_hook([&] { ++hook_calls; });
    std::thread poster([window = a.window] {
        platform::sleep_ms(20);
        for (WParam i = 0; i < 100; ++i)
            post_message(window, WM_USER + 9, i, 0);
    });
    std::vector<WParam> order;
    Message message;
    while (order.size() < 100 && get_message(message))
        order.push_back(message.wparam);
    poster.join();
    set_queue_wake_hook(nullptr);
    std::vector<WParam> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(hook_calls.load(), 100);
}

TEST(Messages, SendFromAnotherThreadRunsOnOwnerDuringGetOrReturnsZeroWhenItEnds) {
    testing_support::Watchdog watchdog(10);
    std::thread::id ran_on;
    auto window =
        create_window([&](WindowHandle, uint32_t message, WParam wparam, LParam) -> LResult {
            if (message == WM_USER + 1) {
                ran_on = std::this_thread::get_id();
                return LResult(wparam * 2);
            }
            return 0;
        });
    LResult result = 0;
    std::thread sender([&] {
        result = send_message(window, WM_USER + 1, 21, 0);
        post_message(window, WM_USER + 2, 0, 0);
    });
    Message message;
    // Only the post ends the wait: the sent message is dispatched inside get_message.
    ASSERT_TRUE(get_message(message, 0, WM_USER + 2, WM_USER + 2));
    sender.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_EQ(send_message(window, WM_USER + 1, 5, 0), 10); // same thread: direct call
    destroy_window(window);
    EXPECT_EQ(send_message(window, WM_USER + 1, 5, 0), 0);
    // A send to a thread that ends returns zero.
    std::atomic<WindowHandle> gone{0};
    std::atomic<bool> leave{false};
    std::thread owner([&] {
        gone = create_window([](WindowHandle, uint32_t, WParam, LParam) -> LResult { return 7; });
        while (!leave)
            platform::sleep_ms(1);
    });
    while (gone == 0)
        platform::sleep_ms(1);
    std::thread late([&] { EXPECT_EQ(send_message(gone, WM_USER, 0, 0), 0); });
    platform::sleep_ms(20);
    leave = true;
    owner.join();
    late.join();
    EXPECT_FALSE(is_window(gone));
}

TEST(Messages, TimersFireOnTheFakeClockAndReaim) {
    testing_support::Watchdog watchdog(10);
    use_fake_clock(true, 0xFFFFFF00u); // due times straddle the tick counter's wrap
    Recorder a, b;
    ASSERT_TRUE(set_timer(a.window, 1, 300));
    ASSERT_TRUE(set_timer(b.window, 1, 100));
    ASSERT_TRUE(set_timer(a.window, 2, 500));
    EXPECT_TRUE(drain().empty());

    advance_fake_clock(100);
    auto fired = drain();
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].window, b.window);
    EXPECT_EQ(fired[0].message, uint32_t(WM_TIMER));
    EXPECT_EQ(fired[0].wparam, 1u);
    EXPECT_TRUE(kill_timer(b.window, 1));
    EXPECT_FALSE(kill_timer(b.window, 1));

    ASSERT_TRUE(set_timer(a.window, 1, 50)); // re-aims the existing one
    advance_fake_clock(50);
    EXPECT_EQ(wparams(drain(a.window, WM_TIMER, WM_TIMER)), std::vector<WParam>{1});

    // Due several periods ago: delivered once, after what was posted meanwhile, re-armed from now.
    advance_fake_clock(400);
    post_message(a.window, WM_USER, 0, 0);
    fired = drain();
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[0].message, uint32_t(WM_USER));
    EXPECT_TRUE(drain().empty());
    use_fake_clock(false);
}
