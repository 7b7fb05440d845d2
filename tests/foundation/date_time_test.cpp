#include "foundation/date_time.h"
#include "platform/locale.h"

#include <gtest/gtest.h>

using namespace foundation;

namespace {

DateTime sample() {
    DateTime time;
    time.set_date(2007, 3, 5);
    time.set_time(14, 7, 9.25);
    return time;
}

} // namespace

TEST(DateTime, FieldsFileTimeAndOrderStayTogether) {
    EXPECT_EQ(DateTime().file_time(), 0u);
    DateTime time = sample();
    EXPECT_EQ(time.system_time().milliseconds, 250);
    EXPECT_EQ(time.day_of_week(), 1); // a Monday
    DateTime copy = DateTime::from_file_time(time.file_time());
    EXPECT_EQ(std::vector<int>({copy.year(), copy.month(), copy.day(), copy.hour(), copy.minute()}),
              std::vector<int>({2007, 3, 5, 14, 7}));
    EXPECT_DOUBLE_EQ(copy.seconds(), 9.25);
    // 1 January 1601 is file time 0; one day later is 864e9 units.
    DateTime epoch;
    epoch.set_date(1601, 1, 2);
    EXPECT_EQ(epoch.file_time(), 864000000000ull);
    // Ordering, with milliseconds truncated.
    DateTime a = sample();
    DateTime b = sample();
    EXPECT_FALSE(a.earlier_than(b) || a.later_than(b));
    b.set_time(14, 7, 9.2509);
    EXPECT_EQ(b.system_time().milliseconds, 250);
    b.set_time(14, 7, 9.999);
    EXPECT_TRUE(a.earlier_than(b));
    EXPECT_TRUE(b.later_than(a));
    DateTime leap;
    leap.set_date(2000, 2, 29);
    EXPECT_NE(leap.file_time(), 0u);
    leap.set_date(1900, 2, 29);
    EXPECT_EQ(leap.file_time(), 0u);
}

TEST(DateFormat, DayMonthOrderFollowsTheLocaleGivenOrFromTheEnvironment) {
    const struct {
        const char* locale;
        std::u16string picture, long_day_month, short_date, time;
    } cases[] = {
        {"en_US", u"MMM dd", u"March 05", u"3/5/07", u"2:07:09 PM"},
        {"de_DE", u"dd MMM", u"05 M\u00e4rz", u"05.03.07", u"14:07:09"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        platform::set_locale_for_testing(c.locale);
        EXPECT_EQ(day_month_picture(false), c.picture);
        EXPECT_EQ(format_date(sample(), {.long_month_names = true}), c.long_day_month);
        EXPECT_EQ(format_date(sample(), {.system_format = true}), c.short_date);
        EXPECT_EQ(format_time(sample(), true), c.time);
    }
    platform::set_locale_for_testing("en_US");
    EXPECT_EQ(format_date(sample(), {}), u"Mar 05");
    EXPECT_EQ(
        format_date(sample(), {.long_month_names = true, .with_day = false, .system_format = true}),
        u"March 2007");
    EXPECT_EQ(format_time(sample(), false), u"2:07 PM");
    platform::set_locale_for_testing("ru_RU");
    EXPECT_EQ(format_date(sample(), {.long_month_names = true, .with_day = false}),
              u"\u043c\u0430\u0440\u0442");
    // Without one set, the locale comes from the environment.
    platform::set_locale_for_testing("");
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(platform::current_locale(), "de_DE");
    EXPECT_EQ(day_month_picture(false), u"dd MMM");
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(platform::current_locale(), "en_US");
    unsetenv("LC_ALL");
}
