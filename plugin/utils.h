// utils.h: numbers with thousands separators, packed date and time words, and checks and
// creation of Linux paths, shared by the pages.
//
// Path functions report failures as system error numbers (errno values) and write their
// diagnostics through log->debug; `log` may be null (before the plug-in starts, in tests), and
// then nothing is logged. No function keeps state; all may run on several request threads.
#ifndef KEL2CIFS_PLUGIN_UTILS_H
#define KEL2CIFS_PLUGIN_UTILS_H

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace kel2cifs {

// Size of the text OrvantaDataAndTimeToTimeBuffer writes, terminator included.
inline constexpr std::size_t kTimeBufferSize = 26;

}  // namespace kel2cifs

// Formats value with format, then groups every run of decimal digits in the text in threes from
// its right end with commas: "%u" of 1234567 gives "1,234,567", "%d" of (uint32_t)-1234 gives
// "-1,234". The result is written into output, cut to outputSize - 1 characters and always
// terminated (nothing is written when outputSize is 0).
// REQUIRES: format is the plug-in's own text and takes exactly one argument of the value's width
// ("%u", "%d", "%x", ...); "" and a null format give "".
void CreateStringWithCommas(uint32_t value, char *output, std::size_t outputSize,
                            const char *format);
// As CreateStringWithCommas for a 64-bit value; format takes a 64-bit argument ("%" PRIu64,
// "%llu", "%lld", ...).
void CreateLargeNumberStringWithCommas(uint64_t value, char *output, std::size_t outputSize,
                                       const char *format);

// Fills the seconds, minutes, hours, day, month and year of *record from a FAT date and time
// word (years 1980 to 2107), sets tm_isdst to -1 and returns mktime(record), which normalises
// the record: month field 0 gives December of the year before. Other fields of *record are left
// as the caller gave them; a null record uses a zeroed one of its own.
time_t ConvertOrvantaDataAndTimeToLinux(uint16_t packedDate, uint16_t packedTime,
                                        struct tm *record);

// Converts value (date word in the high 16 bits, time word in the low 16) as above and writes its
// asctime text, such as "Wed Jun 15 13:45:30 2022\n", into output, which must hold
// kTimeBufferSize bytes; at most that many are written. Returns output ("" if the time could not
// be formatted).
char *OrvantaDataAndTimeToTimeBuffer(uint32_t value, char *output);

// 0 when path exists (links followed) and is already its own absolute canonical form; else the
// error number of stat or realpath, or 40 (ELOOP) when the canonical form differs: a symbolic
// link, a "." or ".." component, a doubled or trailing slash or a relative path. Null: 22.
int VerifyLinuxPath(const char *path);

// Creates path and every missing parent with mode (0 means 0777), before the process's umask.
// Existing directories (or links to them) are accepted. 0, or -1 with errno set: 17 (EEXIST) when
// the last component exists and is not a directory, 20 (ENOTDIR) when an earlier one is not,
// 12 when the path cannot be copied, 22 for a null path, or the error of mkdir or stat.
int pkg_dir_build(const char *path, unsigned mode);

// pkg_dir_build(path, 0744): 0, or the error number.
int CreateLinuxPath(const char *path);

// mkdir(path, 0744): 0, or -1 with errno set.
int MakeLinuxFolder(const char *path);

// Writes everything before the last '/' of path into output: "/a/b" gives "/a", "a/b/" gives
// "a/b", "/a" and "a" give "". Cut to outputSize - 1 characters and terminated; nothing is
// written when outputSize is 0. A null path gives "".
void MakeParentPath(const char *path, char *output, std::size_t outputSize);

// Upper-cases in place every character the C library classifies as alphabetic. Returns 0.
int _strupr(char *text);

#endif  // KEL2CIFS_PLUGIN_UTILS_H
