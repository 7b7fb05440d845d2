// vCards from arbitrary bytes: parsed into a contact or refused, and every telephone number
// read compares equal to itself.

#include "fuzz_support.h"
#include "telephony/contacts.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    telephony::ParsedCard card;
    if (!telephony::parse_vcard(text, card))
        return 0;
    (void)card.details.display_name();
    for (const telephony::ContactField& field : card.details.fields)
        (void)telephony::field_name(field.index);
    for (size_t i = 0; i < card.phones.size() && i < 16; ++i) {
        (void)telephony::same_phone_number(card.phones[i], card.phones[0]);
        (void)telephony::same_phone_number(card.phones[i], card.formatted_name);
    }
    return 0;
}
