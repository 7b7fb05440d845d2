// Hand-over messages from arbitrary bytes: a message is taken only when it is exactly one
// well-formed message, and framing what was taken gives back the same bytes. Framing any text
// and reading it back gives the text.

#include "fuzz_support.h"
#include "platform/single_instance.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::isolate_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view message(reinterpret_cast<const char*>(data), size);
    std::u16string text;
    if (platform::SingleInstance::unframe(message, text)) {
        if (text.size() * 2 > platform::SingleInstance::max_message_bytes ||
            platform::SingleInstance::frame(text) != message)
            __builtin_trap();
    }
    std::u16string any;
    for (size_t i = 0; i + 1 < size; i += 2)
        any.push_back(char16_t(data[i] | data[i + 1] << 8));
    std::u16string back;
    if (!platform::SingleInstance::unframe(platform::SingleInstance::frame(any), back) ||
        back != any)
        __builtin_trap();
    return 0;
}
