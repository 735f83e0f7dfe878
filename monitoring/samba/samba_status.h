// samba_status.h: the server's sessions, tree connects and open files, as `smbstatus --json`
// prints them (the layout of Samba 4.17).
//
// Each of "sessions", "tcons" and "open_files" is an object keyed by an id (or, for open files,
// by the full path) whose members are kept in the order smbstatus printed them. A key that is
// missing means none of that kind: smbstatus leaves out "open_files" when its lock database was
// never written, and prints nothing at all when no client has ever connected; both are a server
// without clients. Members this backend does not use are ignored.
#ifndef CIFSMONITORING_SAMBA_STATUS_H
#define CIFSMONITORING_SAMBA_STATUS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cifsmon {

// The vnn of a process that is not part of a CTDB cluster.
inline constexpr uint32_t kNonClusterVnn = UINT32_MAX;
// The user name smbstatus prints for a session whose authentication has not finished.
inline constexpr char kAuthInProgress[] = "(auth in progress)";

// A server process: its pid on node `vnn`. A durable handle whose client went away belongs to
// a "disconnected" id (pid UINT64_MAX), which matches no session.
struct ServerId {
    uint64_t pid = 0;
    uint32_t vnn = kNonClusterVnn;
    std::string uniqueId;  // tells a process from an earlier one with the same pid

    bool SameProcess(const ServerId &other) const { return pid == other.pid && vnn == other.vnn; }
};

struct SambaSession {
    std::string sessionId;
    ServerId server;
    std::optional<uint32_t> uid;  // none while authenticating
    std::string userName;         // kAuthInProgress while authenticating
    std::string groupName;
    std::string remoteMachine;
    std::string clientEndpoint;  // "hostname": the client's address and port, "ipv4:10.1.2.3:50123"
    std::string dialect;         // "session_dialect": "SMB3_11", "SMB2_10", "NT1", ...
    // "signing" and "encryption" as CryptoText gives them; empty when smbstatus did not say.
    std::string signing;
    std::string encryption;

    bool Authenticating() const { return !uid.has_value() || userName == kAuthInProgress; }
};

struct SambaTreeConnect {
    std::string service;  // the share's name
    ServerId server;
    std::string sessionId;
    std::optional<uint64_t> connectedAt;  // seconds since 1970-01-01 UTC
};

struct SambaOpen {
    ServerId server;
    std::optional<uint32_t> uid;
    uint64_t shareFileId = 0;             // numbers the opens of one process
    std::optional<uint64_t> openedAt;     // "opened_at", seconds since 1970-01-01 UTC
    std::optional<uint32_t> accessMask;   // "access_mask": the NT access mask
    std::optional<uint32_t> shareAccess;  // "sharemode": FILE_SHARE_READ/WRITE/DELETE (1, 2, 4)
    std::string oplock;  // OplockText of "oplock" and "lease"; empty when smbstatus did not say
};

struct SambaOpenFile {
    std::string path;         // the full server path
    std::string servicePath;  // the directory of the share it was opened through
    // The file id ("fileid") the server names the file by in its close message.
    uint64_t devid = 0;
    uint64_t inode = 0;
    uint64_t extid = 0;
    bool directory = false;  // not read from the output: the backend finds it out
    std::vector<SambaOpen> opens;
};

struct SambaStatus {
    std::vector<SambaSession> sessions;
    std::vector<SambaTreeConnect> treeConnects;
    std::vector<SambaOpenFile> openFiles;
};

// Parses smbstatus's output; empty (or blank) output is a server without clients. False (and
// *error) when it is not JSON or a member used here has the wrong type.
[[nodiscard]] bool ParseSmbstatusJson(std::string_view text, SambaStatus *status,
                                      std::string *error);

// A "signing" or "encryption" member ({"cipher": "AES-128-GMAC", "degree": "full"}) as the
// library reports it: the cipher when full, "partial(<cipher>)" when partial, "no" when none
// (degree "none" or cipher "-"); empty when the member is missing.
std::string CryptoText(std::string_view cipher, std::string_view degree, bool present);

// An open's "oplock" and "lease" members as the library reports them: "batch", "exclusive",
// "level II", "lease (RWH)" (the lease's state letters, "lease ()" for a lease that holds
// nothing any more) or "none".
std::string OplockText(bool batch, bool exclusive, bool levelTwo, bool lease,
                       std::string_view leaseLetters);

// Seconds since 1970-01-01 UTC of an ISO 8601 time as smbstatus prints it
// ("2024-05-03T09:41:07.123456+02:00"; also "Z", "+0200" or no offset, read as UTC).
std::optional<uint64_t> ParseIsoTime(std::string_view text);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_STATUS_H
