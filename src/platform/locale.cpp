#include "platform/locale.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/time.h>
#include <unicode/udat.h>
#include <unicode/udatpg.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

namespace platform {

namespace {
std::mutex g_locale_mutex;
std::string g_locale_override;
std::string g_text_language;

// The locale id of a locale environment value: without its encoding and modifier, "C" and
// "POSIX" as "en_US".
std::string locale_id_of(const char* value) {
    std::string id = value;
    if (size_t cut = id.find_first_of(".@"); cut != std::string::npos)
        id.resize(cut);
    if (id == "C" || id == "POSIX" || id.empty())
        return "en_US";
    return id;
}

std::string language_of(const std::string& locale_id) {
    char language[ULOC_LANG_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    int32_t length =
        uloc_getLanguage(locale_id.c_str(), language, int32_t(sizeof language), &status);
    if (U_FAILURE(status) || length <= 0 || length >= int32_t(sizeof language))
        return {};
    return std::string(language, size_t(length));
}

std::string locale_from_environment() {
    for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return locale_id_of(value);
    }
    return "en_US";
}

// The fields as a moment in UTC, so that a formatter in UTC prints them unchanged.
UDate as_udate(const LocalFields& t) {
    int64_t days = days_from_civil(t.year, t.month, t.day);
    return double(days) * 86400000.0 +
           double((t.hour * 3600 + t.minute * 60 + t.second) * 1000 + t.milliseconds);
}

// Narrow no-break spaces of newer locale data read as plain blanks in file names and labels.
std::u16string tidy(std::u16string text) {
    for (auto& c : text)
        if (c == u'\u202F' || c == u'\u00A0')
            c = u' ';
    return text;
}

std::u16string format_with(UDateFormat* format, UDate date) {
    std::u16string out(128, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = udat_format(format, date, reinterpret_cast<UChar*>(out.data()),
                                 int32_t(out.size()), nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(size_t(length), u'\0');
        status = U_ZERO_ERROR;
        length = udat_format(format, date, reinterpret_cast<UChar*>(out.data()),
                             int32_t(out.size()), nullptr, &status);
    }
    if (U_FAILURE(status))
        return {};
    out.resize(size_t(length));
    return tidy(std::move(out));
}

const UChar utc[] = {u'U', u'T', u'C', 0};

std::u16string format_styles(const LocalFields& t, UDateFormatStyle time_style,
                             UDateFormatStyle date_style) {
    std::string locale = current_locale();
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format =
        udat_open(time_style, date_style, locale.c_str(), utc, -1, nullptr, 0, &status);
    if (U_FAILURE(status))
        return {};
    std::u16string text = format_with(format, as_udate(t));
    udat_close(format);
    return text;
}

LocalFields from_tm(const std::tm& tm, int milliseconds) {
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,  tm.tm_hour,
            tm.tm_min,         tm.tm_sec,     milliseconds};
}
} // namespace

std::u16string lower_case(std::u16string_view text) {
    if (text.empty())
        return {};
    std::string locale = current_locale();
    std::u16string out(text.size(), u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = u_strToLower(reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                                      reinterpret_cast<const UChar*>(text.data()),
                                      int32_t(text.size()), locale.c_str(), &status);
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

std::vector<std::string> user_languages() {
    std::vector<std::string> codes;
    auto add = [&codes](const std::string& locale_id) {
        std::string code = language_of(locale_id);
        if (!code.empty() && std::find(codes.begin(), codes.end(), code) == codes.end())
            codes.push_back(std::move(code));
    };
    {
        std::lock_guard lock(g_locale_mutex);
        if (!g_locale_override.empty()) {
            add(g_locale_override);
            return codes;
        }
    }
    if (const char* list = std::getenv("LANGUAGE")) {
        std::string entries = list;
        size_t start = 0;
        while (start <= entries.size()) {
            size_t end = entries.find(':', start);
            if (end == std::string::npos)
                end = entries.size();
            if (end > start)
                add(locale_id_of(entries.substr(start, end - start).c_str()));
            start = end + 1;
        }
    }
    std::string id = "en_US";
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            id = locale_id_of(value);
            break;
        }
    }
    add(id);
    return codes;
}

std::string user_language() {
    std::string id;
    {
        std::lock_guard lock(g_locale_mutex);
        id = g_locale_override;
    }
    if (id.empty()) {
        id = "en_US";
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* value = std::getenv(name);
            if (value && *value) {
                id = locale_id_of(value);
                break;
            }
        }
    }
    return language_of(id);
}

void set_text_language(const std::string& iso_code) {
    std::lock_guard lock(g_locale_mutex);
    g_text_language = iso_code;
}

void set_locale_for_testing(const std::string& locale) {
    std::lock_guard lock(g_locale_mutex);
    g_locale_override = locale;
}

std::string current_locale() {
    std::string text_language;
    {
        std::lock_guard lock(g_locale_mutex);
        if (!g_locale_override.empty())
            return g_locale_override;
        text_language = g_text_language;
    }
    std::string locale = locale_from_environment();
    if (text_language.empty() || language_of(locale) == text_language)
        return locale;
    return text_language;
}

std::u16string format_local_time(const LocalFields& time, bool with_seconds) {
    return format_styles(time, with_seconds ? UDAT_MEDIUM : UDAT_SHORT, UDAT_NONE);
}

std::u16string format_local_date(const LocalFields& time, DateStyle style) {
    if (style == DateStyle::Short)
        return format_styles(time, UDAT_NONE, UDAT_SHORT);
    if (style == DateStyle::Long)
        return format_styles(time, UDAT_NONE, UDAT_FULL);
    std::string locale = current_locale();
    UErrorCode status = U_ZERO_ERROR;
    UDateTimePatternGenerator* generator = udatpg_open(locale.c_str(), &status);
    if (U_FAILURE(status))
        return {};
    UChar pattern[128];
    const UChar skeleton[] = {u'y', u'M', u'M', u'M', u'M', 0};
    int32_t length = udatpg_getBestPattern(generator, skeleton, -1, pattern, 128, &status);
    udatpg_close(generator);
    if (U_FAILURE(status) || length >= 128)
        return {};
    return format_local_pattern(
        time, std::u16string_view(reinterpret_cast<char16_t*>(pattern), size_t(length)));
}

std::u16string format_local_pattern(const LocalFields& time, std::u16string_view pattern) {
    std::string locale = current_locale();
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format =
        udat_open(UDAT_PATTERN, UDAT_PATTERN, locale.c_str(), utc, -1,
                  reinterpret_cast<const UChar*>(pattern.data()), int32_t(pattern.size()), &status);
    if (U_FAILURE(status))
        return {};
    std::u16string text = format_with(format, as_udate(time));
    udat_close(format);
    return text;
}

LocalFields local_now() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    return local_from_unix(now.tv_sec, uint32_t(now.tv_usec) * 1000u);
}

LocalFields local_from_unix(int64_t seconds, uint32_t nanoseconds) {
    std::time_t moment = std::time_t(seconds);
    std::tm tm{};
    if (!::localtime_r(&moment, &tm))
        return {};
    return from_tm(tm, int(nanoseconds / 1000000u));
}

int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace platform
