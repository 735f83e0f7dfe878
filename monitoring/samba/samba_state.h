// samba_state.h: the library's view of the server (state.h) built from what testparm and
// smbstatus reported, and the lookups that tie opens and tree connects to sessions.
//
// Opens carry no session id, and their uid is not the session's under `force user`: an open
// belongs to a session of the server process holding it. Almost always a process serves one
// client connection and one session; where it serves several (several logons over one client
// connection), the open goes to the one session connected to a share serving the open's
// directory, else among those (or all of the process's) to the first by number with the open's
// uid, else to the first by number. An open of a disconnected durable handle belongs to no
// process and so to no connection; it is not listed. Directory handles (a client watching a
// folder for changes) are not listed.
#ifndef CIFSMONITORING_SAMBA_STATE_H
#define CIFSMONITORING_SAMBA_STATE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "monitoring/samba/samba_config.h"
#include "monitoring/samba/samba_proc.h"
#include "monitoring/samba/samba_status.h"
#include "monitoring/state.h"

namespace cifsmon {

// What the state takes from the system besides the tools' output; the backend fills it with
// the real system, tests with fixed answers.
// What the kernel counted on a session's client connection.
struct SambaTraffic {
    uint64_t bytesRead = 0;                    // sent to the client and acknowledged by it
    uint64_t bytesWritten = 0;                 // received from the client
    uint32_t requests = 0;                     // data segments received from the client
    std::optional<uint64_t> idleSeconds = {};  // since the client last sent data
};

struct SambaLookups {
    // The traffic of each session's client connection, index for index with the sessions; none
    // where its socket is not found (a process of another cluster node, a connection gone).
    std::function<std::vector<std::optional<SambaTraffic>>(const std::vector<SambaSession> &)>
        traffic;
    // The start of a process; none for a process of another cluster node or one that is gone.
    std::function<std::optional<uint64_t>(const ServerId &)> processStart;
    // The login time to show for a session whose time, seen now, is `seen`: the first time seen
    // for it, so that it stays put when the client reconnects a share. None: `seen`.
    std::function<uint64_t(const SambaSession &, uint64_t seen)> stableLogin;
    // UserGroups (samba_identity.h).
    std::function<std::vector<std::string>(uint32_t uid, const std::string &fallbackGroup)> groups;
    // The directory a share's path resolves to, or empty; lets a share configured through a
    // symbolic link match the directory the server reports.
    std::function<std::string(const std::string &path)> resolvePath;
    std::string hostName;    // DefaultNetbiosName()
    std::string adminGroup;  // Privileges()
};

// The session each open belongs to: of[f][o] is the index in status.sessions of the owner of
// status.openFiles[f].opens[o], or kNone.
struct OpenOwners {
    static constexpr std::size_t kNone = SIZE_MAX;
    std::vector<std::vector<std::size_t>> of;
};

OpenOwners AttributeOpens(const SambaConfig &config, const SambaStatus &status,
                          const std::vector<uint16_t> &numbers, const SambaLookups &lookups);

// The state: the configuration's file shares as volumes in its order; one connection per
// session in number order ((numbers)[i] is that of status.sessions[i]), with its open files
// grouped by volume in smbstatus's order, each path once. An open under a directory that no
// listed share serves (a user's home share, a share removed from the configuration since) is
// kept in a group with an empty volume name: it shows in the connection's detail but on no
// volume.
// The session's details: the machine name it gave (remote_machine, unless that is just its
// address), dialect, signing and encryption as parsed, its node (the vnn) and idle time (the
// traffic's); each open file's detail from the session's opens of it together: the earliest
// opened_at, the access bits any of them has, the share bits all of them allow, and the first
// oplock or lease that is not "none".
// The login time is the start of the session's server process when the process serves that
// session alone (the client's connection and its session setup), else the earliest time one of
// its tree connects was made; stableLogin keeps it put. Directories are left out.
State BuildSambaState(const SambaConfig &config, const SambaStatus &status,
                      const std::vector<uint16_t> &numbers, const OpenOwners &owners,
                      const SambaLookups &lookups);
State BuildSambaState(const SambaConfig &config, const SambaStatus &status,
                      const std::vector<uint16_t> &numbers, const SambaLookups &lookups);

// The client's address in a "hostname" endpoint ("ipv4:10.1.2.3:50123" gives "10.1.2.3");
// empty when it is not one.
std::string EndpointAddress(const std::string &endpoint);

// The detail of one open: its access and share bits (CIFSMON_ACCESS_*, CIFSMON_SHARE_*) from the
// NT masks smbstatus prints, its time and its oplock. Masks that were not printed give the
// OpenDetail defaults.
OpenDetail DetailOfOpen(const SambaOpen &open);

// The shares the session has tree connects to, in smbstatus's order, each once, without IPC$
// (which holds no files).
std::vector<std::string> SharesOfSession(const SambaStatus &status, const SambaSession &session);

// The shares through which the process may hold a file under `servicePath`: those it has tree
// connects to whose configured directory is that path.
std::vector<std::string> SharesServingPath(const SambaConfig &config, const SambaStatus &status,
                                           const ServerId &server, const std::string &servicePath,
                                           const SambaLookups &lookups);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_STATE_H
