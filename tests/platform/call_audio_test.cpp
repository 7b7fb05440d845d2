// The speaker switch through callaudiod, against a mock callaudiod on a private session bus.

#include "platform/call_audio.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"

#include <algorithm>
#include <gtest/gtest.h>

using platform::CallAudio;
using namespace testing_support;

namespace {

constexpr char kMock[] = QV_SOURCE_DIR "/tests/platform/callaudiod_mock.py";
constexpr char kName[] = "org.mobian_project.CallAudio";

class CallAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        QV_REQUIRE_DBUS_TOOLS();
        m_bus = std::make_unique<PrivateBus>(m_dir.path().string());
        ASSERT_TRUE(m_bus->ready());
        m_env = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", m_bus->address());
    }

    void start_mock(const std::string& parameters = "{}") {
        ASSERT_TRUE(m_bus->start_mock(m_mock, kMock, kName, false, parameters));
    }

    // The arguments of every EnableSpeaker the mock received, in order.
    std::vector<bool> speaker_calls() {
        const std::string calls = m_bus->python("o = bus.get_object('" + std::string(kName) +
                                                "', '/org/mobian_project/CallAudio')\n"
                                                "for c in o.GetMethodCalls('EnableSpeaker', "
                                                "dbus_interface='org.freedesktop.DBus.Mock'):\n"
                                                "    print(int(c[1][0]))\n");
        std::vector<bool> seen;
        for (char c : calls)
            if (c == '0' || c == '1')
                seen.push_back(c == '1');
        return seen;
    }

    TempDir m_dir;
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<ScopedEnv> m_env;
    Child m_mock;
    Watchdog m_watchdog{60, "call audio test"};
};

TEST_F(CallAudioTest, NeverWaitsAndTheNewestRequestWins) {
    start_mock("{\"slow\": 1.5}");
    CallAudio audio;
    audio.set_speaker(true);
    // Returned while callaudiod is still busy with it (it takes 1.5 s to answer).
    EXPECT_EQ(audio.completed(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    audio.set_speaker(false);
    audio.set_speaker(true);
    EXPECT_EQ(audio.completed(), 0u);
    EXPECT_TRUE(audio.pending());
    ASSERT_TRUE(wait_for([&] { return !audio.pending(); }, 15000));
    // The false was replaced before it was sent; the first true may have been joined by the second.
    const auto calls = speaker_calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), false), 0) << "the false was replaced";
    EXPECT_EQ(calls.size(), audio.completed());
    EXPECT_EQ(audio.last_outcome(), CallAudio::Outcome::Switched);
}

TEST_F(CallAudioTest, RefusalIsReported) {
    start_mock("{\"refuse\": true}");
    CallAudio audio;
    audio.set_speaker(true);
    ASSERT_TRUE(wait_for([&] { return audio.completed() == 1; }));
    EXPECT_EQ(audio.last_outcome(), CallAudio::Outcome::Refused);
    EXPECT_EQ(speaker_calls(), std::vector<bool>{true});
}

TEST_F(CallAudioTest, WithoutCallaudiodTheRequestIsDroppedAndSaidOnce) {
    {
        ScopedEnv no_bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (m_dir / "none").string());
        CallAudio audio;
        audio.set_speaker(true);
        ASSERT_TRUE(wait_for([&] { return audio.completed() == 1; }));
        EXPECT_EQ(audio.last_outcome(), CallAudio::Outcome::Unavailable);
        EXPECT_NE(audio.take_notices().at(0).find("no session bus"), std::string::npos);
    }
    // A bus without callaudiod.
    CallAudio audio;
    audio.set_speaker(true);
    ASSERT_TRUE(wait_for([&] { return audio.completed() == 1; }));
    EXPECT_EQ(audio.last_outcome(), CallAudio::Outcome::Unavailable);
    audio.set_speaker(false);
    ASSERT_TRUE(wait_for([&] { return audio.completed() == 2; }));
    const auto notices = audio.take_notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("callaudiod is not reachable"), std::string::npos) << notices[0];

    // It comes later: the next request reaches it.
    start_mock();
    audio.set_speaker(true);
    ASSERT_TRUE(wait_for([&] { return audio.completed() == 3; }));
    EXPECT_EQ(audio.last_outcome(), CallAudio::Outcome::Switched);
}

} // namespace
