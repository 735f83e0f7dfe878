// samba_state.h: the library's view of the server (state.h) built from what testparm and
// smbstatus reported, and the lookups that tie opens and tree connects to sessions.
//
// Opens carry no session id: an open belongs to the session of the same server process with
// the same uid. Where one process serves several sessions of one user (several logons over one
// client connection), its opens are given to the first of them by number. An open of a
// disconnected durable handle belongs to no process and so to no connection; it is not listed.
#ifndef CIFSMONITORING_SAMBA_STATE_H
#define CIFSMONITORING_SAMBA_STATE_H

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
struct SambaLookups {
    // The counters and start of a process; none for a process of another cluster node or one
    // that is gone.
    std::function<std::optional<ProcessIo>(const ServerId &)> processIo;
    std::function<std::optional<uint64_t>(const ServerId &)> processStart;
    // UserGroups (samba_identity.h).
    std::function<std::vector<std::string>(uint32_t uid, const std::string &fallbackGroup)> groups;
    // The directory a share's path resolves to, or empty; lets a share configured through a
    // symbolic link match the directory the server reports.
    std::function<std::string(const std::string &path)> resolvePath;
    std::string hostName;    // DefaultNetbiosName()
    std::string adminGroup;  // Privileges()
};

// The state: the configuration's file shares as volumes in its order; one connection per
// session in number order ((numbers)[i] is that of status.sessions[i]), with its open files
// grouped by volume in smbstatus's order, each path once. An open under a directory that no
// listed share serves (a user's home share, a share removed from the configuration since) is
// kept in a group with an empty volume name: it shows in the connection's detail but on no
// volume.
State BuildSambaState(const SambaConfig &config, const SambaStatus &status,
                      const std::vector<uint16_t> &numbers, const SambaLookups &lookups);

// The index in status.sessions of the session an open belongs to; none for an open of no
// listed session.
std::optional<std::size_t> OwnerOfOpen(const SambaStatus &status,
                                       const std::vector<uint16_t> &numbers, const SambaOpen &open);

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
