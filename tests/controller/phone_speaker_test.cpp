// The speaker switch as the Document uses it, against a mock callaudiod on a private session bus.

#include "controller/phone_speaker.h"
#include "support/private_bus.h"
#include "support/watchdog.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using controller::PhoneSpeaker;
using testing_support::wait_for;

namespace {

class PhoneSpeakerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QV_REQUIRE_SESSION_MOCKS(m_bus);
        ASSERT_TRUE(m_bus.start_mock(m_mock, QV_SOURCE_DIR "/tests/platform/callaudiod_mock.py",
                                     "org.mobian_project.CallAudio", false));
    }
    // The switch as the service holds it.
    std::string speaker_state() const {
        return m_bus.python("print(bus.get_object('org.mobian_project.CallAudio', "
                            "'/org/mobian_project/CallAudio').Get('org.mobian_project.CallAudio',"
                            " 'SpeakerState', dbus_interface='org.freedesktop.DBus.Properties'))");
    }

    testing_support::Watchdog m_watchdog{60, "phone speaker test"};
    testing_support::MockSessionBus m_bus;
    testing_support::Child m_mock;
};

TEST_F(PhoneSpeakerTest, EndOfARecordingOnlyUndoesItsOwnSwitch) {
    PhoneSpeaker speaker;
    // An ordinary recording ending with the Speaker setting on: nothing was switched on.
    speaker.set_speaker(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(speaker.call_audio().completed(), 0u) << "nothing to switch off";
    // A call recording switches on, and off again at its end.
    speaker.set_speaker(true);
    ASSERT_TRUE(wait_for([&] { return speaker.call_audio().completed() == 1; }));
    EXPECT_EQ(speaker_state(), "1\n");
    speaker.set_speaker(false);
    ASSERT_TRUE(wait_for([&] { return speaker.call_audio().completed() == 2; }));
    EXPECT_EQ(speaker_state(), "0\n");
    // The user's own choice always goes through.
    speaker.choose_speaker(true);
    speaker.choose_speaker(false);
    ASSERT_TRUE(wait_for([&] { return speaker.call_audio().completed() >= 3; }));
    EXPECT_TRUE(wait_for([&] { return speaker_state() == "0\n"; }));
    EXPECT_EQ(speaker.call_audio().last_outcome(), platform::CallAudio::Outcome::Switched);
}

} // namespace
