#include "telephony/call_bridge.h"

#include "foundation/log.h"
#include "foundation/text.h"

#include <cstdio>

namespace telephony {

namespace {

enum class Stage { None, Dialling, Ringing, Held, Active };

Stage stage_of(const platform::ModemCall& call) {
    switch (call.state) {
    case platform::mm_call_state_dialing:
    case platform::mm_call_state_ringing_out:
        return Stage::Dialling;
    case platform::mm_call_state_ringing_in:
    case platform::mm_call_state_waiting:
        return Stage::Ringing;
    case platform::mm_call_state_held:
        return Stage::Held;
    case platform::mm_call_state_active:
        return Stage::Active;
    default:
        return Stage::None;
    }
}

CallDirection direction_of(const platform::ModemCall& call, Stage stage) {
    if (call.direction == platform::mm_call_direction_incoming)
        return CallDirection::Incoming;
    if (call.direction == platform::mm_call_direction_outgoing)
        return CallDirection::Outgoing;
    // A modem that does not say: a ringing call comes in, a dialled one goes out.
    if (stage == Stage::Ringing)
        return CallDirection::Incoming;
    if (stage == Stage::Dialling)
        return CallDirection::Outgoing;
    return CallDirection::Unknown;
}

// Which call is described: a higher rank wins, the earlier call among equals.
int rank(Stage stage) {
    switch (stage) {
    case Stage::Active:
        return 4;
    case Stage::Held:
        return 3;
    case Stage::Ringing:
        return 2;
    case Stage::Dialling:
        return 1;
    default:
        return 0;
    }
}

} // namespace

ProvidedPhoneState phone_state_for_calls(const std::vector<platform::ModemCall>& calls) {
    ProvidedPhoneState state;
    const platform::ModemCall* described = nullptr;
    Stage described_stage = Stage::None;
    for (const auto& call : calls) {
        const Stage stage = stage_of(call);
        if (stage == Stage::None)
            continue;
        ++state.call_count;
        if (stage == Stage::Active || stage == Stage::Held)
            state.any_connected = true;
        if (stage == Stage::Ringing)
            state.ringing = true;
        if (rank(stage) > rank(described_stage)) {
            described = &call;
            described_stage = stage;
        }
    }
    if (described) {
        state.direction = direction_of(*described, described_stage);
        state.connected = described_stage == Stage::Active || described_stage == Stage::Held;
        state.number = foundation::from_utf8(described->number);
    }
    return state;
}

// The bridge has no window to keep alive: it waits a little for the address books, so that a
// ringing call is usually reported with its caller's name, but never long enough to hold up the
// report of the call.
CallBridge::CallBridge() {
    m_contacts.set_address_book_deadline_ms(400);
}

void CallBridge::on_calls(const std::vector<platform::ModemCall>& calls) {
    ProvidedPhoneState state = phone_state_for_calls(calls);
    // Contacts may change between calls: each call looks its caller up afresh.
    if (state.call_count == 0)
        m_looked_up_number.clear();
    if (state.call_count > 0 && !state.number.empty())
        state.name = name_for(state.number);
    if (m_written && *m_written == state)
        return;
    foundation::log() << "CallBridge::on_calls count=" << state.call_count
                      << " connected=" << state.any_connected << " ringing=" << state.ringing
                      << " direction=" << int32_t(state.direction) << "\n";
    provide_phone_state(state, modem_provider_name);
    m_written = std::move(state);
}

void CallBridge::withdraw() {
    if (m_written && m_written->call_count > 0)
        on_calls({});
}

void CallBridge::on_notice(const std::string& text) {
    foundation::log() << "quillory-phoned: " << text << "\n";
    std::fprintf(stderr, "quillory-phoned: %s\n", text.c_str());
    std::fflush(stderr);
}

std::u16string CallBridge::name_for(const std::u16string& number) {
    if (number != m_looked_up_number || m_looked_up_number.empty()) {
        m_looked_up_number = number;
        m_looked_up_name.clear();
        ContactDetails contact;
        if (m_contacts.find_contact_by_phone(number, contact))
            m_looked_up_name = contact.display_name();
        // Books that answer late are asked again when the modem next reports the call (the
        // answer is waiting by then): the call is reported now, under its number.
        else if (m_contacts.last_lookup_late())
            m_looked_up_number.clear();
    }
    return m_looked_up_name;
}

} // namespace telephony
