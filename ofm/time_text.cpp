#include "ofm/time_text.h"

#include <langinfo.h>

#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>

#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// The "%c" form of the C locale, and of every locale that uses the same one.
constexpr char kPlainDateAndTime[] = "%a %b %e %H:%M:%S %Y";

char *Digits(char *at, int value, int width, char pad) {
    for (int i = width - 1; i >= 0; --i) {
        at[i] = value > 0 || i == width - 1 ? static_cast<char>('0' + value % 10) : pad;
        value /= 10;
    }
    return at + width;
}

char *Name(char *at, const char *name, std::size_t length) {
    std::memcpy(at, name, length);
    return at + length;
}

// "D M dd HH:MM:SS YYYY" of `local` with the given names of its day and month; false (nothing
// written) when it would not fit.
bool WriteDateAndTime(const std::tm &local, const char *day, const char *month, char *text) {
    const std::size_t dayLength = std::strlen(day);
    const std::size_t monthLength = std::strlen(month);
    // The names, 17 more characters and the terminator.
    if (dayLength + monthLength + 18 > kTimeTextSize) {
        return false;
    }
    char *at = Name(text, day, dayLength);
    *at++ = ' ';
    at = Name(at, month, monthLength);
    *at++ = ' ';
    at = Digits(at, local.tm_mday, 2, ' ');
    *at++ = ' ';
    at = Digits(at, local.tm_hour, 2, '0');
    *at++ = ':';
    at = Digits(at, local.tm_min, 2, '0');
    *at++ = ':';
    at = Digits(at, local.tm_sec, 2, '0');
    *at++ = ' ';
    at = Digits(at, local.tm_year + 1900, 4, '0');
    *at = '\0';
    return true;
}

// Whether this thread's locale writes "%c" as kPlainDateAndTime.
bool PlainDateForm() {
    return std::strcmp(nl_langinfo(D_T_FMT), kPlainDateAndTime) == 0;
}

bool FourDigitYear(const std::tm &local) {
    return local.tm_year + 1900 >= 1000 && local.tm_year + 1900 <= 9999;
}

// strftime's "%c" of `local` written directly, when the locale's form is kPlainDateAndTime and
// the year has four digits: a list of many connections formats one time per row, and strftime
// parses its format and looks up the locale for every field. False (nothing written) otherwise.
bool FormatDateAndTime(const std::tm &local, char *text) {
    if (!FourDigitYear(local) || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 ||
        local.tm_mon > 11 || !PlainDateForm()) {
        return false;
    }
    return WriteDateAndTime(local, nl_langinfo(static_cast<nl_item>(ABDAY_1 + local.tm_wday)),
                            nl_langinfo(static_cast<nl_item>(ABMON_1 + local.tm_mon)), text);
}

}  // namespace

int convertToTimeString(const unsigned long long *time, char *text) {
    if (time == nullptr || text == nullptr) {
        return -1;
    }
    text[0] = '\0';
    // Every bit of the login time counts: a time after January 2038 is shown as it is.
    if (*time > static_cast<unsigned long long>(std::numeric_limits<std::time_t>::max())) {
        KEL2CIFS_TRACE(debug, "localtime_r() has failed to convert time %llu", *time);
        return -1;
    }
    const std::time_t seconds = static_cast<std::time_t>(*time);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        KEL2CIFS_TRACE(debug, "localtime_r() has failed to convert time %llu", *time);
        return -1;
    }
    if (FormatDateAndTime(local, text)) {
        return 0;
    }
    if (std::strftime(text, kTimeTextSize, "%c", &local) == 0) {
        text[0] = '\0';
        KEL2CIFS_TRACE(debug, "strftime() has failed to format time as string and returned %d", 0);
        return -1;
    }
    return 0;
}

namespace {

// The civil date of a day counted from 1970-01-01 (proleptic Gregorian calendar).
void CivilDate(long long days, int *year, int *month, int *day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long ofEra = days - era * 146097;
    const long long yearOfEra = (ofEra - ofEra / 1460 + ofEra / 36524 - ofEra / 146096) / 365;
    const long long dayOfYear = ofEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shifted = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    *month = static_cast<int>(shifted < 10 ? shifted + 2 : shifted - 10);  // 0 = January
    *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 1 ? 1 : 0));
}

// The broken-down time of `seconds` taken as UTC: the fields FormatDateAndTime reads.
std::tm Fields(long long seconds) {
    const long long days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const long long second = seconds - days * 86400;
    std::tm fields{};
    int year = 0;
    CivilDate(days, &year, &fields.tm_mon, &fields.tm_mday);
    fields.tm_year = year - 1900;
    fields.tm_hour = static_cast<int>(second / 3600);
    fields.tm_min = static_cast<int>(second / 60 % 60);
    fields.tm_sec = static_cast<int>(second % 60);
    fields.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return fields;
}

bool SameTime(const std::tm &a, const std::tm &b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec &&
           a.tm_wday == b.tm_wday;
}

}  // namespace

bool LocalTimeText::ReadLocale() {
    if (plainLocale_ < 0) {
        plainLocale_ = PlainDateForm() ? 1 : 0;
        for (int i = 0; i < 7; ++i) {
            dayNames_[i] = nl_langinfo(static_cast<nl_item>(ABDAY_1 + i));
        }
        for (int i = 0; i < 12; ++i) {
            monthNames_[i] = nl_langinfo(static_cast<nl_item>(ABMON_1 + i));
        }
    }
    return plainLocale_ == 1;
}

const LocalTimeText::Day &LocalTimeText::DayOf(long long day) {
    Day &kept = days_[static_cast<std::size_t>(day) % kDays];
    if (kept.day == day) {
        return kept;
    }
    kept.day = day;
    kept.plain = false;
    // Where the library's local time at the day's first second, its middle and its last is the
    // time plus one offset, no offset change falls within the day (changes are months apart).
    const std::time_t probes[] = {static_cast<std::time_t>(day * 86400),
                                  static_cast<std::time_t>(day * 86400 + 43200),
                                  static_cast<std::time_t>(day * 86400 + 86399)};
    long offset = 0;
    for (std::size_t i = 0; i < std::size(probes); ++i) {
        std::tm local{};
        if (localtime_r(&probes[i], &local) == nullptr || (i > 0 && local.tm_gmtoff != offset) ||
            !SameTime(local, Fields(probes[i] + local.tm_gmtoff))) {
            return kept;
        }
        offset = local.tm_gmtoff;
    }
    kept.offset = offset;
    kept.plain = true;
    return kept;
}

int LocalTimeText::Convert(const unsigned long long *time, char *text) {
    // Only the plain form, and times whose days and offsets stay far from any overflow (the
    // year 9999 ends before 2^38 seconds).
    if (time == nullptr || text == nullptr || *time >= (1ULL << 38) || !ReadLocale()) {
        return convertToTimeString(time, text);
    }
    const long long seconds = static_cast<long long>(*time);
    const Day &day = DayOf(seconds / 86400);
    if (!day.plain) {
        return convertToTimeString(time, text);
    }
    const std::tm local = Fields(seconds + day.offset);
    if (!FourDigitYear(local) ||
        !WriteDateAndTime(local, dayNames_[local.tm_wday], monthNames_[local.tm_mon], text)) {
        return convertToTimeString(time, text);
    }
    return 0;
}
