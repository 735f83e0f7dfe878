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

#endif  // KEL2CIFS_OFM_TIME_TEXT_H
