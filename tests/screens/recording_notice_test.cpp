// The recording's desktop notification: when it shows, what it says, its actions, its end.

#include "controller/controller_env.h"
#include "controller/document.h"
#include "foundation/active_scheduler.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "screens/recording_notice.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <functional>
#include <gtest/gtest.h>

using namespace screens;

namespace {

// Keeps what the notice asked for; the test plays the service's part.
struct FakeService {
    platform::NotificationListener* listener{nullptr};
    int made{0}, shows{0};
    bool shown{false};
    platform::NotificationContent last;
};

class FakeNotifier final : public platform::Notifier {
public:
    explicit FakeNotifier(FakeService& service) : m(service) {}
    void show(const platform::NotificationContent& content) override {
        ++m.shows, m.shown = true, m.last = content;
    }
    void close() override { m.shown = false; }
    void dispatch() override {}
    bool busy() const override { return false; }
    uint32_t id() const override { return m.shown ? 1 : 0; }

private:
    FakeService& m;
};

class RecordingNoticeTest : public ::testing::Test {
protected:
    RecordingNoticeTest() {
        m_texts.texts().assign({{u"skin_Recording", u"Recording"},
                                {u"skin_Paused", u"Paused"},
                                {u"skin_Pause", u"Pause"},
                                {u"skin_Resume", u"Resume"},
                                {u"skin_Stop", u"Stop"}},
                               u"");
        RecordingNotice::Hooks hooks;
        hooks.notifier = [this](platform::NotificationListener& listener) {
            ++m_service.made;
            m_service.listener = &listener;
            return std::make_unique<FakeNotifier>(m_service);
        };
        hooks.in_background = [this] { return m_background; };
        hooks.pause = [this](bool on) {
            ++m_pauses;
            m_document.pause(on);
        };
        hooks.stop = [this] {
            ++m_stops;
            m_document.stop();
        };
        m_notice = std::make_unique<RecordingNotice>(m_document, m_texts, std::move(hooks));
    }

    void pump(double seconds) {
        const uint32_t end = platform::tick_count() + uint32_t(seconds * 1000);
        while (int32_t(end - platform::tick_count()) > 0) {
            platform::Message message;
            while (platform::peek_message(message))
                platform::dispatch_message(message);
            platform::wait_message(5);
        }
    }

    void to_back(bool back) {
        m_background = back;
        pump(0.5);
    }
    // A recording with the window in the background: the notification shows.
    void record_in_background() {
        m_background = true;
        ASSERT_TRUE(m_document.record(controller::RecordingKind::Note, u"", u"",
                                      telephony::CallDirection::None));
        pump(0.5);
        ASSERT_TRUE(m_service.shown);
    }

    testing_support::Watchdog m_watchdog{60};
    controller_test::IsolatedWorld m_world;
    testing_support::FileAudio m_audio{4};
    foundation::CActiveScheduler m_scheduler;
    skin::Properties m_texts;
    controller::Document m_document;
    FakeService m_service;
    bool m_background{false};
    int m_pauses{0};
    int m_stops{0};
    std::unique_ptr<RecordingNotice> m_notice;
};

} // namespace

TEST_F(RecordingNoticeTest, ShownOnlyWhileRecordingInTheBackground) {
    pump(0.5);
    to_back(true);
    EXPECT_EQ(m_service.made, 0) << "nothing records: no service is even asked";

    m_background = false;
    ASSERT_TRUE(m_document.record(controller::RecordingKind::Note, u"Ada", u"",
                                  telephony::CallDirection::None));
    pump(0.5);
    EXPECT_FALSE(m_service.shown) << "the window is in front";
    to_back(true);
    ASSERT_TRUE(m_service.shown);
    EXPECT_EQ(m_service.last.summary, "Recording");
    EXPECT_EQ(m_service.last.body.rfind("0:00:0", 0), 0u) << m_service.last.body;
    EXPECT_NE(m_service.last.body.find("Ada"), std::string::npos) << m_service.last.body;
    EXPECT_EQ(m_service.last.actions, (std::vector<std::pair<std::string, std::string>>{
                                          {"pause", "Pause"}, {"stop", "Stop"}}));

    // The elapsed time is refreshed every few seconds, not every look.
    const int shows = m_service.shows;
    pump(RecordingNotice::refresh_interval + 1.0);
    EXPECT_GT(m_service.shows, shows);
    EXPECT_LE(m_service.shows, shows + 2);

    // The window comes forward: the notification goes; back again: it returns.
    to_back(false);
    EXPECT_FALSE(m_service.shown);
    to_back(true);
    EXPECT_TRUE(m_service.shown);
    EXPECT_EQ(m_service.made, 1) << "one notifier for the program's life";
}

TEST_F(RecordingNoticeTest, ActionsPauseResumeAndStopTheRecording) {
    ASSERT_NO_FATAL_FAILURE(record_in_background());

    m_service.listener->notification_action("pause");
    EXPECT_TRUE(m_document.is_paused());
    EXPECT_EQ(m_service.last.summary, "Paused") << "the new state at once";
    EXPECT_EQ(m_service.last.actions.front().first, "resume");
    m_service.listener->notification_action("resume");
    EXPECT_FALSE(m_document.is_paused());
    EXPECT_EQ(m_service.last.summary, "Recording");
    m_service.listener->notification_action("bogus");
    EXPECT_EQ(m_pauses, 2);
    EXPECT_EQ(m_stops, 0);

    m_service.listener->notification_action("stop");
    EXPECT_EQ(m_stops, 1);
    EXPECT_FALSE(m_document.is_recording());
    EXPECT_FALSE(m_service.shown) << "closed when the recording stops";
    // A late action for a stopped recording does nothing.
    m_service.listener->notification_action("stop");
    m_service.listener->notification_action("pause");
    EXPECT_EQ(m_stops, 1);
    EXPECT_EQ(m_pauses, 2);
}

// Dismissed, it stays away until the window was forward; expired, it returns at the next refresh.
TEST_F(RecordingNoticeTest, ReturnsAfterADismissalOrAnExpiryButNotWithoutAService) {
    ASSERT_NO_FATAL_FAILURE(record_in_background());
    m_service.shown = false;
    m_service.listener->notification_closed(2); // dismissed
    int shows = m_service.shows;
    pump(RecordingNotice::refresh_interval + 0.5);
    EXPECT_EQ(m_service.shows, shows);
    to_back(false);
    to_back(true);
    EXPECT_TRUE(m_service.shown);

    shows = m_service.shows;
    m_service.shown = false;
    m_service.listener->notification_closed(1); // expired
    pump(1.0);
    EXPECT_EQ(m_service.shows, shows) << "not at once";
    pump(RecordingNotice::refresh_interval);
    EXPECT_EQ(m_service.shows, shows + 1);
    EXPECT_TRUE(m_service.shown);

    m_service.listener->notifications_unavailable("no session bus");
    shows = m_service.shows;
    pump(RecordingNotice::refresh_interval + 0.5);
    to_back(false);
    to_back(true);
    EXPECT_EQ(m_service.shows, shows);
    EXPECT_EQ(m_service.made, 1);
    EXPECT_TRUE(m_document.is_recording()) << "the recording goes on";
    m_document.stop();
}
