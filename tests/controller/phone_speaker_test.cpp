// The speaker switch as the Document uses it, against a mock callaudiod on a private session bus.

#include "controller/phone_speaker.h"
#include "controller_env.h"
#include "support/private_bus.h"
#include "support/watchdog.h"

#include <chrono>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using controller::PhoneSpeaker;
using testing_support::wait_for;

namespace {

constexpr char kMock[] = QV_SOURCE_DIR "/tests/platform/callaudiod_mock.py";
constexpr char kName[] = "org.mobian_project.CallAudio";

class PhoneSpeakerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QV_REQUIRE_DBUS_TOOLS();
        m_bus = std::make_unique<testing_support::PrivateBus>(m_world.root().string());
        ASSERT_TRUE(m_bus->ready());
        m_env = std::make_unique<testing_support::ScopedEnv>("DBUS_SESSION_BUS_ADDRESS",
                                                             m_bus->address());
        ASSERT_TRUE(m_bus->start_mock(m_mock, kMock, kName, false));
    }
    void TearDown() override {
        m_mock.stop(15);
        m_bus.reset();
    }

    uint32_t speaker_state() {
        GVariant* reply =
            m_bus->call(kName, "/org/mobian_project/CallAudio", "org.freedesktop.DBus.Properties",
                        "Get", g_variant_new("(ss)", kName, "SpeakerState"));
        uint32_t state = 99;
        if (reply) {
            GVariant* value = nullptr;
            g_variant_get(reply, "(v)", &value);
            if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
                state = g_variant_get_uint32(value);
            g_variant_unref(value);
            g_variant_unref(reply);
        }
        return state;
    }

    controller_test::IsolatedWorld m_world;
    std::unique_ptr<testing_support::PrivateBus> m_bus;
    std::unique_ptr<testing_support::ScopedEnv> m_env;
    testing_support::Child m_mock;
    testing_support::Watchdog m_watchdog{60, "phone speaker test"};
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
    EXPECT_EQ(speaker_state(), 1u);
    speaker.set_speaker(false);
    ASSERT_TRUE(wait_for([&] { return speaker.call_audio().completed() == 2; }));
    EXPECT_EQ(speaker_state(), 0u);
    // The user's own choice always goes through.
    speaker.choose_speaker(true);
    speaker.choose_speaker(false);
    ASSERT_TRUE(wait_for([&] { return speaker.call_audio().completed() >= 3; }));
    EXPECT_TRUE(wait_for([&] { return speaker_state() == 0; }));
    EXPECT_EQ(speaker.call_audio().last_outcome(), platform::CallAudio::Outcome::Switched);
}

} // namespace
