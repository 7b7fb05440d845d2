#include "foundation/active_scheduler.h"
#include "foundation/timer.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "support/watchdog.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

using namespace foundation;

namespace {

// Runs every message waiting now on this thread; returns how many were dispatched.
int pump() {
    int count = 0;
    platform::Message message;
    while (platform::peek_message(message)) {
        platform::dispatch_message(message);
        ++count;
    }
    return count;
}

class Probe : public CActive {
public:
    explicit Probe(std::vector<int>& log, int tag) : m_log(log), m_tag(tag) {}
    ~Probe() override { cancel(); }
    std::thread::id ran_on;

protected:
    void RunL() override {
        ran_on = std::this_thread::get_id();
        m_log.push_back(m_tag);
    }
    void DoCancel() override { notify(); }

private:
    std::vector<int>& m_log;
    int m_tag;
};

// Completes its request from another thread a little later, as a device would.
class SlowCancel : public CActive {
public:
    ~SlowCancel() override {
        cancel();
        if (m_thread.joinable())
            m_thread.join();
    }
    bool ran{false};

protected:
    void RunL() override { ran = true; }
    void DoCancel() override {
        if (m_thread.joinable())
            return; // the completion is already on its way
        m_thread = std::thread([this] {
            platform::sleep_ms(30);
            notify();
        });
    }

private:
    std::thread m_thread;
};

struct Bare : CActive {
    void RunL() override {}
    void DoCancel() override {}
};

struct Counting : TimerListener {
    int calls{0};
    uint32_t at{0};
    void on_timer(Timer&) override {
        ++calls;
        at = platform::tick_count();
    }
};

class ActiveScheduler : public ::testing::Test {
protected:
    void SetUp() override { platform::use_fake_clock(true, 5000); }
    void TearDown() override {
        pump();
        platform::use_fake_clock(false);
    }
    CActiveScheduler scheduler{u"ZuzivirClass_Test"};
};

} // namespace

TEST_F(ActiveScheduler, RunsNotifiedObjectsInOrderFromOneWakeup) {
    std::vector<int> log;
    Probe first(log, 1), second(log, 2), third(log, 3);
    for (Probe* probe : {&first, &second, &third})
        probe->set_active();
    EXPECT_EQ(scheduler.active_count(), 3);
    for (Probe* probe : {&second, &first, &third})
        probe->notify();
    platform::Message message;
    ASSERT_TRUE(platform::peek_message(message, scheduler.window()));
    EXPECT_EQ(message.message, CActiveScheduler::wake_message);
    platform::dispatch_message(message);
    EXPECT_EQ(log, (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(scheduler.active_count(), 0);
    EXPECT_FALSE(first.is_active());
    log.clear();
    pump(); // the two remaining wake-ups find the queue empty
    EXPECT_TRUE(log.empty());
}

TEST_F(ActiveScheduler, CancelDropsQueuedObjectKeepsOthersRunningAndGivesBackAQuit) {
    std::vector<int> log;
    Probe other(log, 1);
    SlowCancel slow;
    other.set_active();
    slow.set_active();
    other.notify();
    // The cancel waits for the slow completion, swallowing the other's wake-up: it posts it again.
    testing_support::Watchdog watchdog(10);
    slow.cancel();
    EXPECT_FALSE(slow.is_active());
    const uint32_t wake = CActiveScheduler::wake_message;
    int wakeups = 0;
    for (platform::Message m; platform::peek_message(m, scheduler.window(), wake, wake);)
        ++wakeups;
    EXPECT_EQ(wakeups, 1);
    scheduler.process_actives();
    EXPECT_EQ(log, (std::vector<int>{1}));
    EXPECT_FALSE(slow.ran);
    EXPECT_EQ(scheduler.active_count(), 0);
    // A quit met while cancelling is given back.
    SlowCancel quitting;
    quitting.set_active();
    platform::post_quit_message(3);
    quitting.cancel();
    platform::Message message;
    EXPECT_FALSE(platform::get_message(message));
    EXPECT_EQ(message.wparam, 3u);
    EXPECT_TRUE(quitting.is_active()); // still waiting for its completion; the destructor cancels
}

TEST_F(ActiveScheduler, CancelledDueTimerNeverCallsItsListener) {
    std::vector<int> log;
    Counting listener;
    Timer timer(listener);
    Probe other(log, 7);
    timer.after(0.1);
    platform::advance_fake_clock(100);
    // Deliver only the window timer: the timer is now queued to run, not yet run.
    platform::Message message;
    ASSERT_TRUE(platform::peek_message(message, scheduler.window(), platform::WM_TIMER,
                                       platform::WM_TIMER));
    platform::dispatch_message(message);
    other.set_active();
    other.notify();
    timer.cancel();
    EXPECT_FALSE(timer.is_active());
    pump();
    EXPECT_EQ(listener.calls, 0);
    EXPECT_EQ(log, (std::vector<int>{7}));
}

TEST_F(ActiveScheduler, TimersFireAtTheirDueTimeNeitherEarlyNorLate) {
    Counting slow, quick, rearmed, far;
    Timer half(slow), fifth(quick), again(&rearmed), ahead(far);
    half.after(0.5);
    fifth.after(0.2);
    again.after(0.5);
    ahead.after(20000.0); // 20,000 s: longer than one window timer can wait
    // Runs the loop until `ms` after the start, in steps the clock's timers can take.
    const auto run_until = [](uint32_t ms) {
        while (platform::tick_count() < 5000 + ms) {
            platform::advance_fake_clock(std::min(1000000u, 5000 + ms - platform::tick_count()));
            pump();
        }
    };
    const auto fires_at = [&](Counting& listener, uint32_t due) {
        run_until(due - 1);
        EXPECT_EQ(listener.calls, 0) << due;
        run_until(due);
        EXPECT_EQ(listener.calls, 1) << due;
        EXPECT_EQ(listener.at, 5000 + due);
    };
    fires_at(quick, 200);
    run_until(300);
    again.after(0.5); // re-arming replaces the due time
    fires_at(slow, 500);
    fires_at(rearmed, 800);
    fires_at(far, 20000000);
    run_until(20001000);
    EXPECT_EQ(quick.calls + slow.calls + rearmed.calls + far.calls, 4);
}

TEST_F(ActiveScheduler, ZeroOrNegativeDelayRunsFromTheLoopNotInsideAfter) {
    struct Rearming : TimerListener {
        int calls{0};
        void on_timer(Timer& timer) override {
            if (++calls < 3)
                timer.after(0); // re-arming from on_timer is allowed
        }
    } rearming;
    Counting negative;
    Timer zero(rearming), before(negative);
    zero.after(0);
    before.after(-2.5);
    EXPECT_EQ(rearming.calls, 0);
    EXPECT_EQ(negative.calls, 0);
    EXPECT_TRUE(zero.is_active());
    pump();
    EXPECT_EQ(rearming.calls, 3);
    EXPECT_EQ(negative.calls, 1);
    EXPECT_EQ(scheduler.active_count(), 0);
}

TEST_F(ActiveScheduler, NotifyFromAnotherThreadRunsOnTheLoopThread) {
    testing_support::Watchdog watchdog(10);
    platform::use_fake_clock(false);
    std::vector<int> log;
    Probe probe(log, 5);
    probe.set_active();
    std::thread worker([&probe] {
        platform::sleep_ms(20);
        probe.notify();
    });
    platform::Message message;
    while (log.empty() && platform::get_message(message))
        platform::dispatch_message(message);
    worker.join();
    EXPECT_EQ(probe.ran_on, std::this_thread::get_id());
    EXPECT_EQ(log, (std::vector<int>{5}));
}

using ActiveSchedulerDeathTest = ActiveScheduler;

TEST_F(ActiveSchedulerDeathTest, ProtocolViolationsEndTheProcessWithCodeZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<int> log;
    const std::pair<std::function<void()>, const char*> violations[] = {
        {[&] { Probe(log, 1).notify(); },
         "Gluck: Active object [0-9]+ is not active @ CActiveScheduler::notify\\(\\)"},
        {[&] {
             Probe probe(log, 1);
             probe.set_active();
             probe.set_active();
         },
         "Gluck: Object [0-9]+ is already active @ CActiveScheduler::set_active\\(\\)"},
        {[] { Bare().set_active(); },
         "Gluck: Active object [0-9]+ is already active @ CActive::~CActive\\(\\)"},
        {[] { CActiveScheduler second; }, "Gluck: Singleton is already instantiated"},
    };
    for (const auto& [violate, message] : violations)
        EXPECT_EXIT(violate(), ::testing::ExitedWithCode(0), message);
}

TEST(ActiveSchedulerLifetimeDeathTest, DestroyingWithArmedObjectsIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::vector<int> log;
            auto* scheduler = new CActiveScheduler;
            auto* probe = new Probe(log, 1);
            probe->set_active();
            delete scheduler;
        },
        ::testing::ExitedWithCode(0),
        "Gluck: Some active objects still live while scheduler is terminating "
        "active_counter=1 @ \n");
}
