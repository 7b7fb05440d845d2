#include "telephony_support.h"

using namespace telephony_test;
using platform::ModemCall;

namespace {

ModemCall call(int32_t state, int32_t direction, const char* number) {
    return {std::string("/call/") + number, "/modem/0", state, direction, number};
}

} // namespace

TEST(CallStateTest, ConnectedCallsAreDescribedFirstAndDirectionFollowsTheState) {
    EXPECT_EQ(phone_state_for_calls({}), ProvidedPhoneState{});
    // Calls not started yet and ended ones do not count.
    const auto state = phone_state_for_calls({call(0, 2, "1"), call(7, 1, "2"), call(99, 1, "3")});
    EXPECT_EQ(state.call_count, 0u);
    EXPECT_EQ(state.direction, CallDirection::None);
    // Without a direction from the modem, the state gives it.
    EXPECT_EQ(phone_state_for_calls({call(3, 0, "1")}).direction, CallDirection::Incoming);
    EXPECT_EQ(phone_state_for_calls({call(2, 0, "1")}).direction, CallDirection::Outgoing);
    EXPECT_EQ(phone_state_for_calls({call(4, 0, "1")}).direction, CallDirection::Unknown);
    EXPECT_EQ(phone_state_for_calls({call(4, 9, "1")}).direction, CallDirection::Unknown);

    // A connected call is described before ringing or dialling ones.
    const auto connected =
        phone_state_for_calls({call(1, 2, "dial"), call(6, 1, "wait"), call(5, 1, "held"),
                               call(4, 2, "active"), call(4, 1, "second")});
    EXPECT_EQ(connected.call_count, 5u);
    EXPECT_TRUE(connected.any_connected);
    EXPECT_TRUE(connected.ringing);
    EXPECT_TRUE(connected.connected);
    EXPECT_EQ(connected.number, u"active") << "active before held, the first among equals";
    EXPECT_EQ(connected.direction, CallDirection::Outgoing);

    const auto held = phone_state_for_calls({call(3, 1, "ring"), call(5, 1, "held")});
    EXPECT_EQ(held.number, u"held");
    EXPECT_TRUE(held.any_connected) << "a held call is still a call in progress";
    const auto ringing = phone_state_for_calls({call(2, 2, "out"), call(3, 1, "in")});
    EXPECT_FALSE(ringing.any_connected);
    EXPECT_FALSE(ringing.connected);
    EXPECT_EQ(ringing.number, u"in");
}

using BridgeTest = PhoneStateTest;

TEST_F(BridgeTest, WritesOnlyChangesAndNamesFromTheContacts) {
    std::filesystem::create_directories(m_dir / "contacts");
    write_file(m_dir / "contacts" / "bob.vcf",
               "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob\r\nTEL:555 0100\r\nEND:VCARD\r\n");
    CallBridge bridge;
    bridge.on_calls({call(4, 1, "5550100")});
    CallInfo info = query_phone_state();
    EXPECT_EQ(info.direction, CallDirection::Incoming);
    EXPECT_EQ(info.name, u"Bob");

    // Unchanged calls write nothing: a value changed behind the bridge's back stays.
    foundation::write_string(phone_key, u"Caller Name", u"changed");
    bridge.on_calls({call(4, 1, "5550100")});
    std::u16string name;
    foundation::read_string(phone_key, u"Caller Name", name);
    EXPECT_EQ(name, u"changed");

    bridge.withdraw();
    EXPECT_EQ(query_phone_state().direction, CallDirection::None) << "stopping ends the call";
    uint32_t count = 9;
    EXPECT_TRUE(foundation::read_dword(phone_key, u"Active Call Count", count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(foundation::read_string(phone_key, u"Caller Name", name));
    std::u16string provider;
    foundation::read_string(phone_key, u"Provider", provider);
    EXPECT_EQ(provider, modem_provider_name);
}
