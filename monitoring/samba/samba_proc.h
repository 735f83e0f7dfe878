// samba_proc.h: when a server process started, from /proc. (A session's traffic is read from its
// client connection's socket: samba_sockets.h.)
#ifndef CIFSMONITORING_SAMBA_PROC_H
#define CIFSMONITORING_SAMBA_PROC_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cifsmon {

inline constexpr char kProcRoot[] = "/proc";

// When the process started, in seconds since 1970-01-01 UTC: its start in clock ticks after
// boot (field 22 of /proc/<pid>/stat) plus the boot time ("btime" of /proc/stat). None when
// either cannot be read.
std::optional<uint64_t> ReadProcessStartTime(const std::string &procRoot, uint64_t pid);

// The start in clock ticks after boot from the text of /proc/<pid>/stat, whose second field
// (the command name, in parentheses) may itself hold blanks and parentheses.
std::optional<uint64_t> ParseStartTicks(std::string_view statText);

// "btime" from the text of /proc/stat.
std::optional<uint64_t> ParseBootTime(std::string_view statText);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_PROC_H
