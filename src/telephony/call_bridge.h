#pragma once

// The modem bridge's side of the phone state: turns the voice calls a modem reports into the
// values the recorder reads (the same ones the phone simulator writes), with the caller's name
// found in the contacts. The state is written only when it changes, so a busy modem does not
// keep the registry store busy.

#include "platform/modem_watch.h"
#include "telephony/contacts.h"
#include "telephony/phone_state.h"

#include <optional>
#include <string>
#include <vector>

namespace telephony {

// The name the bridge writes as the phone state's "Provider".
inline constexpr std::u16string_view modem_provider_name = u"quillory-phoned";

// The phone state for these calls (in the order first seen), without names. The call described
// is the first connected one (active before held), else the first ringing in, else the first
// being dialled. Calls in an unknown or ended state do not count.
ProvidedPhoneState phone_state_for_calls(const std::vector<platform::ModemCall>& calls);

class CallBridge final : public platform::ModemWatchListener {
public:
    CallBridge();

    void on_calls(const std::vector<platform::ModemCall>& calls) override;
    // Written to the log and to standard error.
    void on_notice(const std::string& text) override;

    // Called when the bridge stops: a call it reported is ended, so that no recording waits
    // for an end that nobody would report.
    void withdraw();

    // The state last written, if any.
    const std::optional<ProvidedPhoneState>& written() const { return m_written; }

private:
    std::u16string name_for(const std::u16string& number);

    ContactStore m_contacts;
    std::optional<ProvidedPhoneState> m_written;
    // The last lookup, kept for as long as the described number stays the same.
    std::u16string m_looked_up_number;
    std::u16string m_looked_up_name;
};

} // namespace telephony
