#include "skin/font_spec.h"

#include "foundation/number.h"

#include <limits>

namespace skin {

namespace {

bool is_space(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

void skip_space(std::u16string_view text, size_t& pos) {
    while (pos < text.size() && is_space(text[pos]))
        ++pos;
}

bool parse_integer(std::u16string_view text, size_t& pos, int32_t& out) {
    size_t p = pos;
    skip_space(text, p);
    bool negative = false;
    if (p < text.size() && (text[p] == u'+' || text[p] == u'-')) {
        negative = text[p] == u'-';
        ++p;
    }
    const size_t digits = p;
    while (p < text.size() && text[p] >= u'0' && text[p] <= u'9')
        ++p;
    if (p == digits)
        return false;
    // A number too large is the largest there is.
    const int32_t value = foundation::parse_number<int32_t>(text.substr(digits, p - digits))
                              .value_or(std::numeric_limits<int32_t>::max());
    out = negative ? -value : value;
    pos = p;
    return true;
}

} // namespace

int32_t FontSpec::log_font_height() const {
    auto at_whole = [this](int64_t times) { return static_cast<int64_t>(size) * times * 96 / 72; };
    // A half step lies halfway between the whole scales on either side: a text that fits its box
    // at both fits between them too (the box grows by the same half step).
    const int64_t lower = at_whole(scale.halves() / 2);
    const int64_t upper = at_whole((scale.halves() + 1) / 2);
    return static_cast<int32_t>(-((lower + upper) / 2));
}

void apply_font_spec(std::u16string_view text, FontSpec& spec) {
    size_t pos = 0;
    int32_t value = 0;
    if (!parse_integer(text, pos, value))
        return;
    spec.size = value;
    if (!parse_integer(text, pos, value))
        return;
    spec.bold = value != 0;
    if (!parse_integer(text, pos, value))
        return;
    spec.italic = value != 0;
    if (!parse_integer(text, pos, value))
        return;
    spec.underline = value != 0;
    skip_space(text, pos);
    if (pos < text.size())
        spec.face = std::u16string(text.substr(pos));
}

} // namespace skin
