// Language files from arbitrary bytes: a table of what can be read, never a crash. No key or
// text spans a line end, no key holds a blank or "=", and a table written back as a UTF-16
// file reads back the same.

#include "fuzz_support.h"
#include "localisation/text_table.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

bool splits_lines(const std::u16string& text) {
    return text.find_first_of(u"\r\n") != std::u16string::npos;
}

void put(std::vector<uint8_t>& out, std::u16string_view text) {
    for (char16_t unit : text) {
        out.push_back(uint8_t(unit & 0xFF));
        out.push_back(uint8_t(unit >> 8));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    (void)localisation::TextTable::decode(bytes);
    localisation::TextTable::Entries entries = localisation::TextTable::parse(bytes);
    bool all_keys = true;
    for (const auto& [key, text] : entries) {
        if (splits_lines(key) || splits_lines(text) ||
            key.find_first_of(u" \t=") != std::u16string::npos)
            __builtin_trap();
        all_keys = all_keys && !key.empty();
    }
    if (!all_keys)
        return 0;
    std::vector<uint8_t> written = {0xFF, 0xFE};
    for (const auto& [key, text] : entries) {
        put(written, key);
        put(written, u"=");
        put(written, text);
        put(written, u"\r\n");
    }
    if (localisation::TextTable::parse(written) != entries)
        __builtin_trap();
    return 0;
}
