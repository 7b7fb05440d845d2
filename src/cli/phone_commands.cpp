// phone: a simulated telephony provider. It writes the phone state and the current call's
// details as a phone's shell and modem would, so the recorder (and its call notification)
// sees calls begin, connect and end.

#include "cli/command.h"
#include "foundation/text.h"
#include "telephony/contacts.h"
#include "telephony/phone_state.h"

#include <cstdio>
#include <string>

namespace {

using foundation::from_utf8;

int usage() {
    std::fprintf(stderr, "usage: quillory-cli phone incoming|outgoing NUMBER [--name NAME]\n"
                         "       quillory-cli phone connect|hangup\n");
    return 2;
}

int phone_command(const cli::Arguments& args) {
    if (args.empty())
        return usage();
    const std::string& word = args[0];
    if (word == "incoming" || word == "outgoing") {
        if (args.size() != 2 && !(args.size() == 4 && args[2] == "--name"))
            return usage();
        const std::u16string number = from_utf8(args[1]);
        std::u16string name = args.size() == 4 ? from_utf8(args[3]) : std::u16string();
        // As the phone's shell does, the caller's name comes from the contacts when the
        // network gives none.
        if (name.empty()) {
            telephony::ContactDetails contact;
            telephony::ContactStore contacts;
            // A command run once has no books opened before it: it waits for them to open.
            contacts.set_address_book_deadline_ms(5000);
            if (contacts.find_contact_by_phone(number, contact))
                name = contact.display_name();
        }
        telephony::provide_call(word == "incoming" ? telephony::CallDirection::Incoming
                                                   : telephony::CallDirection::Outgoing,
                                number, name);
        return 0;
    }
    if (word == "connect" && args.size() == 1) {
        if (!telephony::provide_connect()) {
            std::fprintf(stderr, "quillory-cli: no call to connect\n");
            return 1;
        }
        return 0;
    }
    if (word == "hangup" && args.size() == 1) {
        telephony::provide_hang_up();
        return 0;
    }
    return usage();
}

} // namespace

QV_CLI_COMMAND("phone", "phone incoming|outgoing NUMBER [--name NAME] | connect | hangup",
               phone_command);
