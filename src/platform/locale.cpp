#include "platform/locale.h"

#include <unicode/uloc.h>
#include <unicode/ustring.h>

namespace platform {

std::u16string lower_case(std::u16string_view text) {
    if (text.empty())
        return {};
    std::u16string out(text.size(), u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = u_strToLower(out.data(), int32_t(out.size()), text.data(),
                                      int32_t(text.size()), uloc_getDefault(), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(size_t(length), u'\0');
            continue;
        }
        if (U_FAILURE(status))
            return std::u16string(text);
        out.resize(size_t(length));
        return out;
    }
    return std::u16string(text);
}

} // namespace platform
