// time_text.h: a login time as local-time text, shared by the open-file and connection pages.
#ifndef KEL2CIFS_OFM_TIME_TEXT_H
#define KEL2CIFS_OFM_TIME_TEXT_H

#include <cstddef>

namespace kel2cifs {

// Capacity convertToTimeString writes into, terminator included.
inline constexpr std::size_t kTimeTextSize = 80;

}  // namespace kel2cifs

// Writes the local time of *time (seconds since 1970-01-01 UTC, all 64 bits of it) formatted
// with "%c" into text, which must hold kTimeTextSize bytes. Returns 0, or -1 with text empty when
// the time cannot be converted (beyond what the system's calendar holds) or its text does not
// fit; callers then show a text of their own. Null arguments give -1.
int convertToTimeString(const unsigned long long *time, char *text);

namespace kel2cifs {

// convertToTimeString for many times in a row (a list of connections), with the same results:
// the local-time offset of each hour met is looked up once and kept, so that most times are
// converted by arithmetic, without the C library's time-zone lock and locale look-ups. An hour
// whose offset is not one for all its seconds (a daylight-saving change within it), or whose
// local time the offset does not give (a zone with leap seconds), and every time when the
// locale's date form is not the plain one, go to convertToTimeString. The zone and the locale
// are read when the converter is made and when it first needs them: make one per list.
class LocalTimeText {
  public:
    int Convert(const unsigned long long *time, char *text);

  private:
    struct Hour {
        long long hour = -1;  // hours since 1970 UTC; -1: none kept
        long offset = 0;      // seconds east of UTC for the whole hour
        bool plain = false;   // the offset gives the local time of every second of it
    };
    bool ReadLocale();
    const Hour &HourOf(long long hour);

    static constexpr std::size_t kHours = 64;
    Hour hours_[kHours];
    int plainLocale_ = -1;  // -1: not read yet
    const char *days_[7] = {};
    const char *months_[12] = {};
};

}  // namespace kel2cifs

#endif  // KEL2CIFS_OFM_TIME_TEXT_H
