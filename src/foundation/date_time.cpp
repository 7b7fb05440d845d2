#include "foundation/date_time.h"

#include "platform/locale.h"

namespace foundation {

namespace {
constexpr uint64_t ticks_per_ms = 10000;
constexpr uint64_t ticks_per_day = 86400000ull * ticks_per_ms;

void civil_from_days(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2));
}

const int64_t days_1601_to_1970 = -platform::days_from_civil(1601, 1, 1);

bool leap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

bool valid(const SystemTime& t) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1)
        return false;
    int length = lengths[t.month - 1] + (t.month == 2 && leap(t.year) ? 1 : 0);
    return t.day <= length && t.hour < 24 && t.minute < 60 && t.second < 60 &&
           t.milliseconds < 1000;
}

platform::LocalFields fields_of(const SystemTime& t) {
    return {t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds};
}

DateTime from_fields(const platform::LocalFields& f) {
    DateTime time;
    time.set_date(f.year, f.month, f.day);
    time.set_time(f.hour, f.minute, f.second + f.milliseconds * 0.001);
    return time;
}
} // namespace

DateTime DateTime::now() {
    return from_fields(platform::local_now());
}

DateTime DateTime::from_file_time(uint64_t file_time) {
    DateTime time;
    time.m_file_time = file_time;
    time.update_fields();
    return time;
}

DateTime DateTime::from_unix_time(int64_t seconds, uint32_t nanoseconds) {
    return from_fields(platform::local_from_unix(seconds, nanoseconds));
}

double DateTime::seconds() const {
    return m_time.second + m_time.milliseconds * 0.001;
}

void DateTime::set_date(int year, int month, int day) {
    m_time.year = uint16_t(year);
    m_time.month = uint16_t(month);
    m_time.day = uint16_t(day);
    update_file_time();
}

void DateTime::set_time(int hour, int minute, double seconds) {
    if (seconds < 0)
        seconds = 0;
    m_time.hour = uint16_t(hour);
    m_time.minute = uint16_t(minute);
    m_time.second = uint16_t(seconds);
    m_time.milliseconds = uint16_t((seconds - double(m_time.second)) * 1000.0);
    update_file_time();
}

void DateTime::update_file_time() {
    if (!valid(m_time)) {
        m_file_time = 0;
        return;
    }
    int64_t days =
        platform::days_from_civil(m_time.year, m_time.month, m_time.day) + days_1601_to_1970;
    m_time.day_of_week = uint16_t((days + 1) % 7); // 1 January 1601 was a Monday
    uint64_t ms = (uint64_t(m_time.hour) * 3600 + m_time.minute * 60 + m_time.second) * 1000 +
                  m_time.milliseconds;
    m_file_time = uint64_t(days) * ticks_per_day + ms * ticks_per_ms;
}

void DateTime::update_fields() {
    int64_t days = int64_t(m_file_time / ticks_per_day);
    uint64_t ms = (m_file_time % ticks_per_day) / ticks_per_ms;
    int y, m, d;
    civil_from_days(days - days_1601_to_1970, y, m, d);
    m_time.year = uint16_t(y);
    m_time.month = uint16_t(m);
    m_time.day = uint16_t(d);
    m_time.day_of_week = uint16_t((days + 1) % 7);
    m_time.hour = uint16_t(ms / 3600000);
    m_time.minute = uint16_t(ms / 60000 % 60);
    m_time.second = uint16_t(ms / 1000 % 60);
    m_time.milliseconds = uint16_t(ms % 1000);
}

std::u16string format_time(const DateTime& time, bool with_seconds) {
    return platform::format_local_time(fields_of(time.system_time()), with_seconds);
}

std::u16string day_month_picture(bool long_month_names) {
    platform::LocalFields sample{2000, 11, 22, 0, 0, 0, 0};
    std::u16string text = platform::format_local_date(sample, platform::DateStyle::Short);
    size_t month = text.find(u"11");
    size_t day = text.find(u"22");
    bool month_first = month < day;
    if (long_month_names)
        return month_first ? u"MMMM dd" : u"dd MMMM";
    return month_first ? u"MMM dd" : u"dd MMM";
}

std::u16string format_date(const DateTime& time, const DateOptions& options) {
    const bool long_month_names = options.long_month_names;
    const bool with_day = options.with_day;
    auto fields = fields_of(time.system_time());
    if (options.system_format)
        return platform::format_local_date(fields, !with_day ? platform::DateStyle::YearMonth
                                                   : long_month_names ? platform::DateStyle::Long
                                                                      : platform::DateStyle::Short);
    if (with_day)
        return platform::format_local_pattern(fields, day_month_picture(long_month_names));
    // The month alone takes its stand-alone form ("LLLL"): the nominative where a language
    // declines month names, as the phone printed a month without a day.
    return platform::format_local_pattern(fields, long_month_names ? u"LLLL" : u"LLL");
}

} // namespace foundation
