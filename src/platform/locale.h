#pragma once

// The user's locale: case mapping and date/time texts (ICU underneath). The locale is the one
// of LC_ALL, LC_TIME or LANG (first set), or the language of the program's texts when that
// differs from it, unless a test has chosen another.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

std::u16string lower_case(std::u16string_view text);

// Days from 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day);

// The user's language as an ISO 639 code ("ru", "en"): from the locale of LC_ALL, LC_MESSAGES
// or LANG (first set), or the test locale; empty when ICU cannot tell.
std::string user_language();

// Every language the user asked for, as ISO 639 codes, most wanted first: the entries of
// LANGUAGE (a colon-separated list), then the language of LC_ALL, LC_MESSAGES or LANG (first
// set; "C" and "POSIX" count as "en"). Only the test locale's language when one is set.
std::vector<std::string> user_languages();

// The language the program's texts are in (an ISO 639 code; empty: no choice made). Dates and
// case mapping follow it: the user's locale when it is of that language (so its region's
// forms stay), else the language itself.
void set_text_language(const std::string& iso_code);

// Test seam: use this locale ("de_DE", "en_US"); empty returns to the environment's.
void set_locale_for_testing(const std::string& locale);
// The ICU locale id in use.
std::string current_locale();

// Calendar fields of a local time (no time-zone conversion is applied to them).
struct LocalFields {
    int year{0}, month{0}, day{0}, hour{0}, minute{0}, second{0}, milliseconds{0};
};

enum class DateStyle { Short, Long, YearMonth };
// Texts in the current locale; empty on failure.
std::u16string format_local_time(const LocalFields& time, bool with_seconds);
std::u16string format_local_date(const LocalFields& time, DateStyle style);
// With an ICU date pattern such as "dd MMM" or "MMMM dd".
std::u16string format_local_pattern(const LocalFields& time, std::u16string_view pattern);

// The local time now, and a moment (seconds since 1970 UTC) as local time.
LocalFields local_now();
LocalFields local_from_unix(int64_t seconds, uint32_t nanoseconds);

} // namespace platform
