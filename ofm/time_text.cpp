#include "ofm/time_text.h"

#include <ctime>
#include <limits>

#include "ofm/trace.h"

namespace kel2cifs {

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
    if (std::strftime(text, kTimeTextSize, "%c", &local) == 0) {
        text[0] = '\0';
        KEL2CIFS_TRACE(debug, "strftime() has failed to format time as string and returned %d", 0);
        return -1;
    }
    return 0;
}

}  // namespace kel2cifs
