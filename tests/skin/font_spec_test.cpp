#include "skin/font_spec.h"

#include <gtest/gtest.h>
#include <tuple>

using skin::FontSpec;

// "size bold italic underline face": each field read while it is well formed; the first bad one
// ends the reading and leaves the rest at their defaults (12, off, off, off, Tahoma).
TEST(FontSpec, ReadsTheFieldsUntilTheFirstBadOne) {
    struct Case {
        std::u16string_view text;
        int size;
        bool bold, italic, underline;
        std::u16string_view face;
    };
    const Case cases[] = {
        {u"14 1 0 1 Courier New", 14, true, false, true, u"Courier New"},
        {u"14 1", 14, true, false, false, u"Tahoma"},
        {u"  +9\t-2 +0 0   Verdana", 9, true, false, false, u"Verdana"},
        {u"12 x 1 1 Arial", 12, false, false, false, u"Tahoma"},
        {u"- 3", 12, false, false, false, u"Tahoma"}, // a sign must be followed by digits
        {u"", 12, false, false, false, u"Tahoma"},
        {u"10 0 0 0", 10, false, false, false, u"Tahoma"},
        {u"99999999999 0 0 0 A", 2147483647, false, false, false, u"A"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        FontSpec spec;
        skin::apply_font_spec(c.text, spec);
        EXPECT_EQ(std::tie(spec.size, spec.bold, spec.italic, spec.underline, spec.face),
                  std::tie(c.size, c.bold, c.italic, c.underline, c.face));
    }
}
