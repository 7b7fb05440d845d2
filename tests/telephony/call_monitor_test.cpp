#include "foundation/active_scheduler.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/messages.h"
#include "platform/registry_notifications.h"
#include "platform/registry_store.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"
#include "telephony/call_monitor.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using namespace telephony;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

const std::u16string phone_key{phone_state_key};

class PhoneTest : public ::testing::Test {
protected:
    PhoneTest() { platform::registry_close(); }
    ~PhoneTest() override { platform::registry_close(); }

    TempDir m_dir;
    ScopedEnv m_config{"QUILLORY_CONFIG_DIR", (m_dir / "config").string()};
};

// Runs the message loop until `done` holds or the time is up.
bool pump_until(const std::function<bool()>& done, int milliseconds) {
    return testing_support::wait_for(
        [&] {
            platform::Message message;
            while (platform::peek_message(message))
                platform::dispatch_message(message);
            return done();
        },
        milliseconds);
}

struct Calls : CallListener {
    std::vector<std::string> seen;
    void on_call_start(const std::u16string& name, const std::u16string& number,
                       CallDirection direction) override {
        seen.push_back("start " + std::string(name.begin(), name.end()) + " " +
                       std::string(number.begin(), number.end()) + " " +
                       std::to_string(int(direction)));
    }
    void on_call_stop() override { seen.push_back("stop"); }
};

} // namespace

TEST_F(PhoneTest, QueryNeedsCountAndActiveBit) {
    EXPECT_EQ(query_phone_state().direction, CallDirection::None);
    // Ringing, or active without a call counted, is no call.
    for (const auto& [count, status] :
         {std::pair{1u, status_incoming_call}, {0u, status_active_call}}) {
        foundation::write_dword(phone_key, u"Active Call Count", count);
        foundation::write_dword(phone_key, u"Status", status);
        EXPECT_EQ(query_phone_state().direction, CallDirection::None) << count;
    }
    // The shell marks a ringing call active before the telephony layer reports it connected.
    provide_call(CallDirection::Incoming, u"+44 20 7946 0958", u"Ada");
    foundation::write_dword(phone_key, u"Status", status_active_call);
    CallInfo call = query_phone_state();
    EXPECT_EQ(call.direction, CallDirection::Unknown);
    EXPECT_EQ(call.name, u"Ada");
    EXPECT_EQ(call.number, u"+44 20 7946 0958");
}

TEST_F(PhoneTest, ConnectedCallsCarryDirectionAndDetails) {
    provide_call(CallDirection::Incoming, u"0123456", u"Ada");
    ASSERT_TRUE(provide_connect());
    CallInfo call = query_phone_state();
    EXPECT_EQ(call.direction, CallDirection::Incoming);
    EXPECT_EQ(call.name, u"Ada");

    provide_hang_up();
    EXPECT_EQ(query_phone_state().direction, CallDirection::None);
    EXPECT_FALSE(provide_connect()) << "nothing to connect after hang-up";

    // An outgoing call whose shell name is empty takes the called-ID name.
    provide_call(CallDirection::Outgoing, u"555 0101", u"Bob");
    foundation::write_string(phone_key, u"Caller Name", u"");
    EXPECT_TRUE(provide_connect());
    call = query_phone_state();
    EXPECT_EQ(call.direction, CallDirection::Outgoing);
    EXPECT_EQ(call.name, u"Bob");
    EXPECT_EQ(call.number, u"555 0101");
}

TEST_F(PhoneTest, MonitorReportsStartOnceAndStop) {
    testing_support::Watchdog watchdog(30);
    foundation::CActiveScheduler scheduler;
    Calls calls;
    {
        CallMonitorImpl monitor(&calls);
        pump_until([] { return false; }, 250);
        EXPECT_TRUE(calls.seen.empty());

        provide_call(CallDirection::Incoming, u"0123456", u"Ada");
        EXPECT_TRUE(provide_connect());
        ASSERT_TRUE(pump_until([&] { return !calls.seen.empty(); }, 3000));
        // Further polls during the same call raise nothing new.
        pump_until([] { return false; }, 350);
        EXPECT_TRUE(monitor.in_call());

        provide_hang_up();
        ASSERT_TRUE(pump_until([&] { return calls.seen.size() >= 2; }, 3000));
        EXPECT_FALSE(monitor.in_call());
    }
    EXPECT_EQ(calls.seen, (std::vector<std::string>{"start Ada 0123456 1", "stop"}));
}

TEST_F(PhoneTest, NotificationStartsCommandWhenCallBecomesActive) {
    testing_support::Watchdog watchdog(30);
    const auto marker = m_dir / "started marker";
    // One left by a program that has since moved: setting it up again with this program's
    // command replaces it.
    ASSERT_TRUE(set_app_notification(u"Quillory Vozir.Call", u"\"/usr/bin/true\""));
    const std::u16string command = u"\"/usr/bin/touch\" \"" + marker.u16string() + u"\"";
    ASSERT_TRUE(set_app_notification(u"Quillory Vozir.Call", command));
    // Setting up the same one again is still success and changes nothing.
    EXPECT_TRUE(set_app_notification(u"Quillory Vozir.Call", command));
    const auto stored = platform::registry_notifications();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].command, foundation::to_utf8(command));

    provide_call(CallDirection::Incoming, u"0123456", u"Ada");
    EXPECT_TRUE(provide_connect());
    EXPECT_TRUE(testing_support::wait_for([&] { return std::filesystem::exists(marker); }, 2000));

    EXPECT_TRUE(stop_app_notification(u"Quillory Vozir.Call"));
    std::filesystem::remove(marker);
    provide_hang_up();
    provide_call(CallDirection::Incoming, u"0123456", u"Ada");
    EXPECT_TRUE(provide_connect());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(std::filesystem::exists(marker));
}
