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
// the local-time offset of each day met is looked up once and kept, so that most times are
// converted by arithmetic, without the C library's time-zone lock and locale look-ups. A day
// whose offset is not the same at its first second, its middle and its last (a daylight-saving
// change within it), or whose local time the offset does not give (a zone with leap seconds),
// and every time when the locale's date form is not the plain one, go to convertToTimeString.
// The zone and the locale are read when the converter first needs them: make one per list.
class LocalTimeText {
  public:
    int Convert(const unsigned long long *time, char *text);

  private:
    struct Day {
        long long day = -1;  // days since 1970 UTC; -1: none kept
        long offset = 0;     // seconds east of UTC for the whole day
        bool plain = false;  // the offset gives the local time of every second of it
    };
    bool ReadLocale();
    const Day &DayOf(long long day);

    static constexpr std::size_t kDays = 256;
    Day days_[kDays];
    int plainLocale_ = -1;  // -1: not read yet
    const char *dayNames_[7] = {};
    const char *monthNames_[12] = {};
};

}  // namespace kel2cifs

#endif  // KEL2CIFS_OFM_TIME_TEXT_H
