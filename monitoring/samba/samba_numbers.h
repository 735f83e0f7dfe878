// samba_numbers.h: the connection numbers of the server's sessions, kept in a small state file.
//
// A number from 1 to 65535 names a session for as long as it lives, across requests and across
// restarts of the process that loads the library, and no two current sessions share one. The
// file maps each session's identity (SessionKey) to its number and holds the next number to
// hand out. Every update reads it, drops the sessions that ended, numbers the new ones and
// replaces it atomically, all under the exclusive lock "<file>.lock" (state_file.h), so that
// threads and processes listing at once agree on every number. A new session gets the next
// number after the last one handed out that no current session carries, so that a number
// just freed is not at once given to another session while a page may still show it.
#ifndef CIFSMONITORING_SAMBA_NUMBERS_H
#define CIFSMONITORING_SAMBA_NUMBERS_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "monitoring/samba/samba_status.h"

namespace cifsmon {

inline constexpr uint32_t kFirstConnectionNumber = 1;
inline constexpr uint32_t kLastConnectionNumber = UINT16_MAX;

struct NumberTable {
    uint32_t next = kFirstConnectionNumber;
    std::map<std::string, uint16_t> numbers;  // session key -> number

    bool operator==(const NumberTable &) const = default;
};

// What tells one session from every other, also from an earlier one of the same process:
// "<vnn>:<pid>:<process unique id>:<session id>".
std::string SessionKey(const SambaSession &session);

// Parses the file's content. False (and *error) for anything but the layout SerializeNumberTable
// writes; numbers out of range or carried twice are an invalid table.
[[nodiscard]] bool ParseNumberTable(std::string_view text, NumberTable *table, std::string *error);
std::string SerializeNumberTable(const NumberTable &table);

// Makes the table hold exactly `keys` (in any order, repeats allowed): keeps the numbers of
// keys it holds, drops the others, numbers the new ones. (*numbers)[i] is the number of
// keys[i]. With more than 65535 distinct keys the surplus is not kept and gets the numbers
// 1, 2, ... again, repeating numbers of other sessions. True when the table changed.
bool UpdateNumberTable(NumberTable *table, const std::vector<std::string> &keys,
                       std::vector<uint16_t> *numbers);

// UpdateNumberTable on the file at `path` under its lock; the file and its directory are
// created when missing. A file that does not parse is reported (*warning) and started anew:
// numbers then change once rather than never again. kStatusOk, or kStatusIoError (and *error)
// when the file cannot be locked, read or written.
int AssignConnectionNumbers(const std::string &path, const std::vector<std::string> &keys,
                            std::vector<uint16_t> *numbers, std::string *warning,
                            std::string *error);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_NUMBERS_H
