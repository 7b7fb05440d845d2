#include "telephony/phone_state.h"

#include "foundation/log.h"
#include "foundation/registry.h"

namespace telephony {

namespace {

const std::u16string key{phone_state_key};

// Provider values describing the current call, as the telephony layer reports it.
constexpr std::u16string_view call_direction_value = u"Call Direction";
constexpr std::u16string_view call_connected_value = u"Call Connected";
constexpr std::u16string_view caller_id_name_value = u"Caller ID Name";
constexpr std::u16string_view caller_id_number_value = u"Caller ID Number";
constexpr std::u16string_view called_id_name_value = u"Called ID Name";
constexpr std::u16string_view called_id_number_value = u"Called ID Number";
constexpr std::size_t detail_buffer_characters = 256;

std::u16string read_text(std::u16string_view name) {
    std::u16string text;
    foundation::read_string(key, std::u16string(name), text);
    return text;
}

// The telephony buffers hold 256 characters including the terminator.
std::u16string clip(std::u16string text) {
    auto end = text.find(u'\0');
    if (end != std::u16string::npos)
        text.resize(end);
    if (text.size() >= detail_buffer_characters)
        text.resize(detail_buffer_characters - 1);
    return text;
}

} // namespace

CallDirection current_call_details(std::u16string& name, std::u16string& number) {
    uint32_t connected = 0;
    uint32_t direction = 0;
    if (!foundation::read_dword(key, std::u16string(call_connected_value), connected) ||
        connected == 0)
        return CallDirection::None;
    if (!foundation::read_dword(key, std::u16string(call_direction_value), direction))
        return CallDirection::None;
    if (direction == uint32_t(CallDirection::Incoming)) {
        name = clip(read_text(caller_id_name_value));
        number = clip(read_text(caller_id_number_value));
        return CallDirection::Incoming;
    }
    if (direction == uint32_t(CallDirection::Outgoing)) {
        name = clip(read_text(called_id_name_value));
        number = clip(read_text(called_id_number_value));
        return CallDirection::Outgoing;
    }
    return CallDirection::None;
}

CallInfo query_phone_state() {
    CallInfo info;
    uint32_t count = 0;
    if (!foundation::read_dword(key, u"Active Call Count", count) || count == 0)
        return info;
    uint32_t status = 0;
    if (!foundation::read_dword(key, u"Status", status) || (status & status_active_call) == 0)
        return info;
    foundation::read_string(key, u"Caller Number", info.number);
    foundation::read_string(key, u"Caller Name", info.name);

    std::u16string details_name;
    std::u16string details_number;
    const CallDirection result = current_call_details(details_name, details_number);
    foundation::log() << "TAPI ret=" << int32_t(result) << "\n";
    info.direction = result != CallDirection::None ? result : CallDirection::Unknown;
    if (!details_name.empty() && info.name.empty())
        info.name = details_name;
    if (!details_number.empty() && info.number.empty())
        info.number = details_number;
    return info;
}

void provide_phone_state(const ProvidedPhoneState& state, std::u16string_view provider) {
    const bool incoming = state.direction == CallDirection::Incoming;
    const bool outgoing = state.direction == CallDirection::Outgoing;
    if (state.call_count == 0) {
        for (auto name : {u"Caller Number", u"Caller Name"})
            foundation::delete_value(key, name);
        foundation::delete_value(key, std::u16string(call_direction_value));
    } else {
        foundation::write_string(key, u"Caller Number", state.number);
        foundation::write_string(key, u"Caller Name", state.name);
        foundation::write_dword(key, std::u16string(call_direction_value),
                                uint32_t(state.direction));
    }
    foundation::write_dword(key, std::u16string(call_connected_value), state.connected ? 1 : 0);
    if (incoming || outgoing) {
        foundation::write_string(
            key, std::u16string(incoming ? caller_id_name_value : called_id_name_value),
            state.name);
        foundation::write_string(
            key, std::u16string(incoming ? caller_id_number_value : called_id_number_value),
            state.number);
    }
    if (!incoming) {
        foundation::delete_value(key, std::u16string(caller_id_name_value));
        foundation::delete_value(key, std::u16string(caller_id_number_value));
    }
    if (!outgoing) {
        foundation::delete_value(key, std::u16string(called_id_name_value));
        foundation::delete_value(key, std::u16string(called_id_number_value));
    }
    foundation::write_string(key, u"Provider", std::u16string(provider));
    foundation::write_dword(key, u"Active Call Count", state.call_count);
    foundation::write_dword(key, u"Status",
                            (state.any_connected ? status_active_call : 0) |
                                (state.ringing ? status_incoming_call : 0));
    foundation::flush();
}

void provide_call(CallDirection direction, const std::u16string& number,
                  const std::u16string& name) {
    ProvidedPhoneState state;
    state.call_count = 1;
    state.ringing = direction == CallDirection::Incoming;
    state.direction = direction;
    state.number = number;
    state.name = name;
    provide_phone_state(state, u"quillory-cli");
}

bool provide_connect() {
    uint32_t count = 0;
    if (!foundation::read_dword(key, u"Active Call Count", count) || count == 0)
        return false;
    foundation::write_dword(key, std::u16string(call_connected_value), 1);
    // The status write comes last: it is the change that call notifications wait for.
    foundation::write_dword(key, u"Status", status_active_call);
    foundation::flush();
    return true;
}

void provide_hang_up() {
    foundation::write_dword(key, u"Active Call Count", 0);
    foundation::write_dword(key, u"Status", 0);
    foundation::write_dword(key, std::u16string(call_connected_value), 0);
    for (auto name : {u"Caller Number", u"Caller Name"})
        foundation::delete_value(key, name);
    for (auto name : {call_direction_value, caller_id_name_value, caller_id_number_value,
                      called_id_name_value, called_id_number_value})
        foundation::delete_value(key, std::u16string(name));
    foundation::flush();
}

bool speakerphone_provider_present() {
    std::u16string provider;
    return foundation::read_string(key, u"Provider", provider) && !provider.empty();
}

void request_speakerphone(bool on) {
    foundation::write_dword(key, u"Speakerphone", on ? 1 : 0);
    foundation::flush();
}

} // namespace telephony
