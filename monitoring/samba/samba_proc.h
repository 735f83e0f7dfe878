// samba_proc.h: what the kernel counts for a server process, from /proc.
//
// The server keeps no traffic counters per session; what the library reports as a session's
// traffic is that of the server process serving it (every session of one process reports the
// same counters), as /proc/<pid>/io counts it: bytes and calls of read and write system calls,
// network and files alike, since the process started.
#ifndef CIFSMONITORING_SAMBA_PROC_H
#define CIFSMONITORING_SAMBA_PROC_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cifsmon {

inline constexpr char kProcRoot[] = "/proc";

struct ProcessIo {
    uint64_t bytesRead = 0;     // rchar
    uint64_t bytesWritten = 0;  // wchar
    uint64_t readCalls = 0;     // syscr
    uint64_t writeCalls = 0;    // syscw
};

// Parses the text of /proc/<pid>/io. False when one of the four fields is missing.
[[nodiscard]] bool ParseProcessIo(std::string_view text, ProcessIo *io);

// /proc/<pid>/io below `procRoot`. None when the process is gone or the file is unreadable.
std::optional<ProcessIo> ReadProcessIo(const std::string &procRoot, uint64_t pid);

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
