#pragma once

// Local dates and times, kept both as calendar fields and as a file time (100-ns units since
// 1 January 1601), always converted together; and their texts in the user's locale.

#include <cstdint>
#include <string>

namespace foundation {

struct SystemTime {
    uint16_t year{0};
    uint16_t month{0};       // 1..12
    uint16_t day_of_week{0}; // 0 Sunday .. 6
    uint16_t day{0};
    uint16_t hour{0};
    uint16_t minute{0};
    uint16_t second{0};
    uint16_t milliseconds{0};
};

class DateTime {
public:
    DateTime() = default; // all zero
    static DateTime now();
    static DateTime from_file_time(uint64_t file_time);
    // Seconds and nanoseconds since 1970 (UTC), as local time.
    static DateTime from_unix_time(int64_t seconds, uint32_t nanoseconds);

    uint16_t year() const { return m_time.year; }
    uint16_t month() const { return m_time.month; }
    uint16_t day() const { return m_time.day; }
    uint16_t hour() const { return m_time.hour; }
    uint16_t minute() const { return m_time.minute; }
    uint16_t day_of_week() const { return m_time.day_of_week; }
    // Second plus milliseconds / 1000.
    double seconds() const;
    const SystemTime& system_time() const { return m_time; }
    // 0 when the fields do not form a date from 1601 on.
    uint64_t file_time() const { return m_file_time; }

    void set_date(int year, int month, int day);
    // Whole seconds, and the fraction as milliseconds (truncated).
    void set_time(int hour, int minute, double seconds);

    [[nodiscard]] bool earlier_than(const DateTime& other) const {
        return m_file_time < other.m_file_time;
    }
    bool later_than(const DateTime& other) const { return m_file_time > other.m_file_time; }

private:
    void update_file_time();
    void update_fields();

    SystemTime m_time;
    uint64_t m_file_time{0};
};

// The time of day in the user's locale, with or without seconds.
std::u16string format_time(const DateTime& time, bool with_seconds);
// "MMM dd"/"MMMM dd" where the locale's short date puts the month first, else "dd MMM"/"dd MMMM".
std::u16string day_month_picture(bool long_month_names);
// How format_date writes a date.
struct DateOptions {
    bool long_month_names{false}; // "March" rather than "Mar"
    bool with_day{true};          // the day as well, or the month (and year) alone
    bool system_format{false};    // the locale's own date forms rather than the month and day
};
// System format: the locale's long or short date (with day) or its year-and-month form;
// own format: day_month_picture(long) with day, else the month name alone (long or short, in
// its stand-alone form).
std::u16string format_date(const DateTime& time, const DateOptions& options);

} // namespace foundation
