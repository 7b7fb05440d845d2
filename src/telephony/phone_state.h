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

enum Direction : int { NoCall = 0, Incoming = 1, Outgoing = 2, UnknownDirection = 3 };

struct CallInfo {
    std::u16string name;
    std::u16string number;
    int direction{NoCall};
};

// The phone-state query: direction 0 when no call is active; 1 or 2 with the telephony details
// of a connected call; 3 when the shell reports an active call that the telephony layer does
// not describe. Name and number fall back to the telephony details when the shell's are empty.
CallInfo query_phone_state();

// The telephony layer's view of the current call: 1 (incoming: caller-ID name and number),
// 2 (outgoing: called-ID name and number), or 0 when there is no connected voice call.
int current_call_details(std::u16string& name, std::u16string& number);

// Provider side. A call is announced (ringing or dialling), connected (the "Status" active-call
// bit is set, which is what starts call recording) and hung up (every call value removed).
void provide_call(int direction, const std::u16string& number, const std::u16string& name);
bool provide_connect();
void provide_hang_up();

// The speakerphone request a provider carries out ("Speakerphone", 1 on, 0 off). A provider
// announces itself with the string "Provider"; without one the request is never written.
bool speakerphone_provider_present();
void request_speakerphone(bool on);

} // namespace telephony
