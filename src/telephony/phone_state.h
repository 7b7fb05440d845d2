#pragma once

// The phone state as the shell keeps it under "HKEY_LOCAL_MACHINE\System\State\Phone", and the
// details of the current call that the telephony provider keeps beside it. A provider (the
// quillory-cli phone simulator, or a modem bridge) writes these values; the program only reads
// them, except for the speakerphone request.

#include <cstdint>
#include <string>
#include <string_view>

namespace telephony {

inline constexpr std::u16string_view phone_state_key = u"HKEY_LOCAL_MACHINE\\System\\State\\Phone";

// "Status" bits.
inline constexpr uint32_t status_active_call = 0x20000000;
inline constexpr uint32_t status_incoming_call = 0x00800000;

// Which way a call goes. None: no call; Unknown: the shell reports an active call that the
// telephony layer does not describe. The values are those stored under "Call Direction".
enum class CallDirection : int { None = 0, Incoming = 1, Outgoing = 2, Unknown = 3 };

struct CallInfo {
    std::u16string name;
    std::u16string number;
    CallDirection direction{CallDirection::None};
};

// The phone-state query: None when no call is active; Incoming or Outgoing with the telephony
// details of a connected call; Unknown when the shell reports an active call that the telephony
// layer does not describe. Name and number fall back to the telephony details when the shell's are
// empty.
CallInfo query_phone_state();

// The telephony layer's view of the current call: Incoming (caller-ID name and number),
// Outgoing (called-ID name and number), or None when there is no connected voice call.
CallDirection current_call_details(std::u16string& name, std::u16string& number);

// Everything a provider reports at once: how many calls are in progress and the one described
// (the call the recorder files a recording under).
struct ProvidedPhoneState {
    uint32_t call_count{0};    // calls ringing, dialling, connected or held
    bool any_connected{false}; // sets the active-call bit of "Status"
    bool ringing{false};       // an incoming call rings or waits: the incoming bit
    CallDirection direction{CallDirection::None}; // of the described call
    bool connected{false};                        // the described call is connected
    std::u16string number;
    std::u16string name;
    [[nodiscard]] bool operator==(const ProvidedPhoneState&) const = default;
};

// Writes the whole phone state, "Status" last (the value call notifications wait for), and
// names the provider. No call in progress removes the call's values as a hang-up does.
void provide_phone_state(const ProvidedPhoneState& state, std::u16string_view provider);

// Provider side. A call is announced (ringing or dialling), connected (the "Status" active-call
// bit is set, which is what starts call recording) and hung up (every call value removed).
void provide_call(CallDirection direction, const std::u16string& number,
                  const std::u16string& name);
[[nodiscard]] bool provide_connect();
void provide_hang_up();

// The speakerphone request a provider carries out ("Speakerphone", 1 on, 0 off). A provider
// announces itself with the string "Provider"; without one the request is never written.
[[nodiscard]] bool speakerphone_provider_present();
void request_speakerphone(bool on);

} // namespace telephony
