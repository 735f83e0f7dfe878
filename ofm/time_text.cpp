#include "ofm/time_text.h"

#include <langinfo.h>

#include <cstring>
#include <ctime>
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

// strftime's "%c" of `local` written directly, when the locale's form is kPlainDateAndTime and
// the year has four digits: a list of many connections formats one time per row, and strftime
// parses its format and looks up the locale for every field. False (nothing written) otherwise.
bool FormatDateAndTime(const std::tm &local, char *text) {
    const int year = local.tm_year + 1900;
    if (year < 1000 || year > 9999 || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 ||
        local.tm_mon > 11 || std::strcmp(nl_langinfo(D_T_FMT), kPlainDateAndTime) != 0) {
        return false;
    }
    const char *day = nl_langinfo(static_cast<nl_item>(ABDAY_1 + local.tm_wday));
    const char *month = nl_langinfo(static_cast<nl_item>(ABMON_1 + local.tm_mon));
    const std::size_t dayLength = std::strlen(day);
    const std::size_t monthLength = std::strlen(month);
    // "D M dd HH:MM:SS YYYY": the names, 17 more characters and the terminator.
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
    at = Digits(at, year, 4, '0');
    *at = '\0';
    return true;
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
