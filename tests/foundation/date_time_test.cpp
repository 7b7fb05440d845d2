#include "foundation/date_time.h"
#include "platform/locale.h"

#include <gtest/gtest.h>

using namespace foundation;

namespace {

struct LocaleScope {
    explicit LocaleScope(const char* id) { platform::set_locale_for_testing(id); }
    ~LocaleScope() { platform::set_locale_for_testing(""); }
};

DateTime sample() {
    DateTime time;
    time.set_date(2007, 3, 5);
    time.set_time(14, 7, 9.25);
    return time;
}

} // namespace

TEST(DateTime, FieldsAndFileTimeStayTogether) {
    DateTime empty;
    EXPECT_EQ(empty.year(), 0);
    EXPECT_EQ(empty.file_time(), 0u);
    DateTime time = sample();
    EXPECT_EQ(time.system_time().milliseconds, 250);
    EXPECT_DOUBLE_EQ(time.seconds(), 9.25);
    EXPECT_EQ(time.day_of_week(), 1); // a Monday
    DateTime copy = DateTime::from_file_time(time.file_time());
    EXPECT_EQ(copy.year(), 2007);
    EXPECT_EQ(copy.month(), 3);
    EXPECT_EQ(copy.day(), 5);
    EXPECT_EQ(copy.hour(), 14);
    EXPECT_EQ(copy.minute(), 7);
    EXPECT_DOUBLE_EQ(copy.seconds(), 9.25);
    // 1 January 1601 is file time 0; one day later is 864e9 units.
    DateTime epoch;
    epoch.set_date(1601, 1, 2);
    EXPECT_EQ(epoch.file_time(), 864000000000ull);
}

TEST(DateTime, OrderingAndTruncatedMilliseconds) {
    DateTime a = sample();
    DateTime b = sample();
    EXPECT_FALSE(a.earlier_than(b));
    EXPECT_FALSE(a.later_than(b));
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

TEST(DateTime, NowIsLocalAndRecent) {
    DateTime now = DateTime::now();
    EXPECT_GE(now.year(), 2024);
    EXPECT_NE(now.file_time(), 0u);
}

TEST(DateFormat, DayMonthOrderFollowsTheLocale) {
    {
        LocaleScope us("en_US");
        EXPECT_EQ(day_month_picture(false), u"MMM dd");
        EXPECT_EQ(day_month_picture(true), u"MMMM dd");
        EXPECT_EQ(format_date(sample(), {}), u"Mar 05");
        EXPECT_EQ(format_date(sample(), {.long_month_names = true}), u"March 05");
        EXPECT_EQ(format_date(sample(), {.long_month_names = true, .with_day = false}), u"March");
        EXPECT_EQ(format_date(sample(),
                              {.long_month_names = true, .with_day = false, .system_format = true}),
                  u"March 2007");
        EXPECT_EQ(format_date(sample(), {.system_format = true}), u"3/5/07");
        EXPECT_EQ(format_time(sample(), true), u"2:07:09 PM");
        EXPECT_EQ(format_time(sample(), false), u"2:07 PM");
    }
    {
        LocaleScope de("de_DE");
        EXPECT_EQ(day_month_picture(false), u"dd MMM");
        EXPECT_EQ(day_month_picture(true), u"dd MMMM");
        EXPECT_EQ(format_date(sample(), {.long_month_names = true}), u"05 M\u00e4rz");
        EXPECT_EQ(format_date(sample(), {.system_format = true}), u"05.03.07");
        EXPECT_EQ(format_time(sample(), true), u"14:07:09");
        EXPECT_EQ(format_time(sample(), false), u"14:07");
    }
    {
        LocaleScope ru("ru_RU");
        EXPECT_EQ(day_month_picture(true), u"dd MMMM");
        EXPECT_EQ(format_date(sample(), {.long_month_names = true, .with_day = false}),
                  u"\u043c\u0430\u0440\u0442");
    }
}

TEST(DateFormat, LocaleComesFromTheEnvironment) {
    platform::set_locale_for_testing("");
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(platform::current_locale(), "de_DE");
    EXPECT_EQ(day_month_picture(false), u"dd MMM");
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(platform::current_locale(), "en_US");
    unsetenv("LC_ALL");
}
