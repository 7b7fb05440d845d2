// quillory-phoned against a mock ModemManager on a private bus: the phone state it writes, as
// the recorder's query and the registry store read it, and the call notification.

#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/registry_store.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"
#include "support/watchdog.h"
#include "telephony/call_monitor.h"
#include "telephony/phone_state.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <thread>

using namespace telephony;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const std::u16string phone_key{phone_state_key};
constexpr char kMock[] = QV_SOURCE_DIR "/tests/telephony/modemmanager_mock.py";
constexpr char kBridge[] = QV_BUILD_DIR "/bin/quillory-phoned";

uint32_t dword(const char16_t* name, uint32_t otherwise = 0xDEAD) {
    uint32_t value = otherwise;
    foundation::read_dword(phone_key, name, value);
    return value;
}

std::u16string text(const char16_t* name) {
    std::u16string value = u"<absent>";
    foundation::read_string(phone_key, name, value);
    return value;
}

class PhonedTest : public ::testing::Test {
protected:
    PhonedTest()
        : m_config("QUILLORY_CONFIG_DIR", (m_dir / "config").string()),
          m_contacts("QUILLORY_CONTACTS", (m_dir / "contacts").string()) {
        platform::registry_close();
        std::filesystem::create_directories(m_dir / "contacts");
        std::ofstream(m_dir / "contacts" / "ada.vcf")
            << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada Lovelace\r\nN:Lovelace;Ada;;;\r\n"
               "TEL;TYPE=CELL:+44 20 7946 0958\r\nEND:VCARD\r\n";
    }
    ~PhonedTest() override {
        m_bridge.stop(SIGTERM);
        m_mock.stop(SIGTERM);
        m_bus.reset();
        platform::registry_close();
    }

    void SetUp() override {
        QV_REQUIRE_DBUS_TOOLS();
        ASSERT_TRUE(std::filesystem::exists(kBridge));
        m_bus = std::make_unique<PrivateBus>(m_dir.path().string());
        ASSERT_TRUE(m_bus->ready()) << "private bus did not start";
    }

    // first_call: the number of the first call's object path.
    void start_mock(int first_call = 1) {
        ASSERT_TRUE(m_bus->start_mock(m_mock, kMock, "org.freedesktop.ModemManager1", true,
                                      "{\"first_call\": " + std::to_string(first_call) + "}",
                                      (m_dir / "mock.log").string()))
            << "the mock did not start";
    }

    void start_bridge(const std::string& options = "--grace 3") {
        m_bridge.start(std::string(kBridge) + " " + options + " 2>>" +
                           (m_dir / "bridge.log").string(),
                       {"DBUS_SYSTEM_BUS_ADDRESS=" + m_bus->address(),
                        "DBUS_SESSION_BUS_ADDRESS=" + m_bus->address()});
    }

    // Calls a method of the mock's control interface; the reply's first object path, if any.
    std::string mock(const char* method, GVariant* parameters) {
        std::string error;
        GVariant* reply =
            m_bus->call("org.freedesktop.ModemManager1", "/org/freedesktop/ModemManager1",
                        "org.freedesktop.DBus.Mock", method, parameters, &error);
        if (!reply) {
            ADD_FAILURE() << method << ": " << error;
            return {};
        }
        const char* path = "";
        if (g_variant_is_of_type(reply, G_VARIANT_TYPE("(o)")))
            g_variant_get(reply, "(&o)", &path);
        const std::string out = path;
        g_variant_unref(reply);
        return out;
    }
    // ModemManager with one voice modem, then the bridge; the modem's path.
    std::string start_phone(const std::string& bridge_options = "--grace 3") {
        start_mock();
        const std::string modem = add_modem("0", true);
        start_bridge(bridge_options);
        return modem;
    }
    // ModemManager killed, and seen gone from the bus.
    void kill_mock() {
        m_mock.stop(SIGKILL);
        EXPECT_TRUE(wait_for([&] { return !m_bus->name_owned("org.freedesktop.ModemManager1"); }));
    }
    std::string add_modem(const char* name, bool voice) {
        return mock("AddModem", g_variant_new("(sb)", name, voice));
    }
    std::string add_call(const std::string& modem, int direction, int state, const char* number) {
        return mock("AddCall", g_variant_new("(oiis)", modem.c_str(), direction, state, number));
    }
    void set_state(const std::string& call, int state) {
        mock("SetCallState", g_variant_new("(oi)", call.c_str(), state));
    }

    // Automatic call recording's notification, with a command that leaves a line per start.
    void arm_notification() {
        const std::string command =
            "/bin/sh -c \"echo started >> " + (m_dir / "started").string() + "\"";
        ASSERT_TRUE(set_app_notification(u"Quillory Vozir.Call", foundation::from_utf8(command)));
    }
    std::size_t starts() const {
        const std::string lines = read_whole_file(m_dir / "started");
        return std::size_t(std::count(lines.begin(), lines.end(), '\n'));
    }

    bool status_is(uint32_t status) { return dword(u"Status") == status; }

    // The bridge's log says this exactly once.
    void said_once(const std::string& said) {
        const std::string log = read_whole_file(m_dir / "bridge.log");
        ASSERT_NE(log.find(said), std::string::npos) << log;
        EXPECT_EQ(log.find(said), log.rfind(said)) << "said once";
    }

    TempDir m_dir;
    ScopedEnv m_config;
    ScopedEnv m_contacts;
    std::unique_ptr<PrivateBus> m_bus;
    Child m_mock;
    Child m_bridge;
    testing_support::Watchdog m_watchdog{120, "modem bridge test"};
};

TEST_F(PhonedTest, IncomingCallRingsIsAnsweredAndHungUp) {
    arm_notification();
    const std::string modem = start_phone();
    // The first word from ModemManager: no call.
    ASSERT_TRUE(wait_for([&] {
        return text(u"Provider") == u"quillory-phoned" && dword(u"Active Call Count") == 0 &&
               status_is(0);
    }));

    const std::string call = add_call(modem, 1, 3, "+442079460958");
    ASSERT_TRUE(wait_for([&] { return status_is(status_incoming_call); }));
    EXPECT_EQ(dword(u"Active Call Count"), 1u);
    EXPECT_EQ(dword(u"Call Connected"), 0u);
    EXPECT_EQ(text(u"Caller Number"), u"+442079460958");
    EXPECT_EQ(text(u"Caller Name"), u"Ada Lovelace") << "the name comes from the contacts";
    EXPECT_EQ(query_phone_state().direction, CallDirection::None) << "ringing is not a call yet";
    EXPECT_EQ(starts(), 0u);

    set_state(call, 4);
    ASSERT_TRUE(wait_for([&] { return status_is(status_active_call); }));
    EXPECT_EQ(query_phone_state().direction, CallDirection::Incoming);
    EXPECT_TRUE(wait_for([&] { return starts() == 1; })) << "the call command was not started";

    set_state(call, 7);
    ASSERT_TRUE(wait_for([&] { return status_is(0); }));
    EXPECT_EQ(dword(u"Active Call Count"), 0u);
    EXPECT_EQ(text(u"Caller Number"), u"<absent>");
    EXPECT_EQ(query_phone_state().direction, CallDirection::None);
    mock("DeleteCall", g_variant_new("(o)", call.c_str()));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(starts(), 1u);
    EXPECT_TRUE(m_bridge.alive());
}

TEST_F(PhonedTest, FollowsModemManagerRestarting) {
    arm_notification();
    std::string modem = start_phone("--grace 8");
    add_call(modem, 1, 4, "111");
    ASSERT_TRUE(wait_for([&] { return status_is(status_active_call); }));
    ASSERT_TRUE(wait_for([&] { return starts() == 1; }));

    // Killed and back with the call still up: the call is never seen to end.
    kill_mock();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(status_is(status_active_call)) << "kept through the restart";
    start_mock();
    modem = add_modem("0", true);
    const std::string call = add_call(modem, 1, 4, "111");
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(status_is(status_active_call));
    EXPECT_EQ(starts(), 1u);
    // The new instance is followed.
    set_state(call, 7);
    ASSERT_TRUE(wait_for([&] { return status_is(0); }));

    // Back with another call at a new path: the old one is dropped for it, with no gap.
    set_state(call, 4);
    ASSERT_TRUE(wait_for([&] { return status_is(status_active_call); }));
    ASSERT_TRUE(wait_for([&] { return starts() == 2; }));
    kill_mock();
    start_mock(10);
    modem = add_modem("0", true);
    add_call(modem, 1, 4, "444");
    ASSERT_TRUE(wait_for([&] { return text(u"Caller Number") == u"444"; }));
    EXPECT_TRUE(status_is(status_active_call));
    EXPECT_EQ(dword(u"Active Call Count"), 1u) << "the call from before is gone";
    EXPECT_EQ(starts(), 2u);

    // Back without calls, or gone for good: cleared when the grace period is over.
    kill_mock();
    start_mock();
    add_modem("0", true);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(status_is(status_active_call)) << "the modem may not have loaded its calls yet";
    EXPECT_TRUE(wait_for([&] { return status_is(0); }, 15000));
    EXPECT_EQ(dword(u"Active Call Count"), 0u);
    EXPECT_TRUE(m_bridge.alive());
}

TEST_F(PhonedTest, ModemWithoutVoiceIsIgnored) {
    start_mock();
    const std::string plain = add_modem("plain", false);
    start_bridge();
    ASSERT_TRUE(wait_for([&] { return status_is(0) && dword(u"Active Call Count") == 0; }));
    add_call(plain, 1, 4, "111");
    // An outgoing call being dialled on the modem with Voice counts, but neither rings nor
    // connects.
    const std::string voice = add_modem("voice", true);
    const std::string call = add_call(voice, 2, 1, "0207 946 0958");
    ASSERT_TRUE(wait_for([&] { return dword(u"Active Call Count") == 1; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(dword(u"Active Call Count"), 1u);
    EXPECT_EQ(dword(u"Status"), 0u) << "the call on the modem without Voice is not followed";
    EXPECT_EQ(dword(u"Call Direction"), 2u);
    EXPECT_EQ(text(u"Called ID Number"), u"0207 946 0958");
    EXPECT_EQ(text(u"Caller ID Number"), u"<absent>");
    // Connected, then hung up by the modem deleting the call outright.
    set_state(call, 4);
    ASSERT_TRUE(wait_for([&] { return status_is(status_active_call); }));
    EXPECT_EQ(query_phone_state().name, u"Ada Lovelace") << "a number without its country code";
    mock("DeleteCall", g_variant_new("(o)", call.c_str()));
    ASSERT_TRUE(wait_for([&] { return dword(u"Active Call Count") == 0 && status_is(0); }));
}

TEST_F(PhonedTest, MalformedValuesAndFloodsAreSurvived) {
    const std::string modem = start_phone();
    const std::string call = add_call(modem, 1, 3, "111");
    ASSERT_TRUE(wait_for([&] { return status_is(status_incoming_call); }));

    for (int i = 0; i < 2; ++i) {
        mock("SetCallProperty",
             g_variant_new("(osv)", call.c_str(), "State", g_variant_new_string("active")));
        mock("SetCallProperty",
             g_variant_new("(osv)", call.c_str(), "Number", g_variant_new_int32(5)));
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(status_is(status_incoming_call)) << "a State of the wrong type changes nothing";
    EXPECT_EQ(text(u"Caller Number"), u"111");
    said_once("ignoring a call State that is not a 32-bit integer");

    // A long number is clipped, a flood of signals leaves the bridge working.
    mock("SetCallProperty", g_variant_new("(osv)", call.c_str(), "Number",
                                          g_variant_new_string(std::string(5000, '7').c_str())));
    ASSERT_TRUE(wait_for([&] { return text(u"Caller Number").size() == 255; }));
    mock("FloodCallState", g_variant_new("(oiu)", call.c_str(), 3, 10000u));
    set_state(call, 4);
    ASSERT_TRUE(wait_for([&] { return status_is(status_active_call); }, 20000));

    // Calls beyond the cap are not followed.
    for (int i = 0; i < 40; ++i)
        add_call(modem, 1, 6, "999");
    ASSERT_TRUE(wait_for([&] { return dword(u"Active Call Count") == 16; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(dword(u"Active Call Count"), 16u);
    EXPECT_TRUE(m_bridge.alive());
    // A bridge that is stopped leaves no call behind that nobody would end.
    m_bridge.stop(SIGTERM);
    EXPECT_TRUE(status_is(0));
    EXPECT_EQ(dword(u"Active Call Count"), 0u);
}

TEST_F(PhonedTest, WaitsQuietlyForTheBusAndForModemManager) {
    // No ModemManager on the bus yet: said once, nothing written, picked up when it comes.
    start_bridge();
    std::this_thread::sleep_for(800ms);
    EXPECT_TRUE(m_bridge.alive());
    EXPECT_EQ(text(u"Provider"), u"<absent>");
    start_mock();
    add_call(add_modem("0", true), 1, 4, "111");
    ASSERT_TRUE(wait_for([&] { return status_is(status_active_call); }));
    said_once("ModemManager is not running");

    // No system bus at all.
    Child lonely(std::string(kBridge) + " 2>>" + (m_dir / "lonely.log").string(),
                 {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (m_dir / "nothing").string()});
    std::string log;
    EXPECT_TRUE(wait_for([&] {
        return (log = read_whole_file(m_dir / "lonely.log")).find("no system bus") != log.npos;
    })) << log;
    EXPECT_TRUE(lonely.alive());
}

} // namespace
