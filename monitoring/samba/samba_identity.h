// samba_identity.h: who a session's user is: the kind of account, its groups and whether it
// counts as a supervisor.
#ifndef CIFSMONITORING_SAMBA_IDENTITY_H
#define CIFSMONITORING_SAMBA_IDENTITY_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitoring/samba/samba_config.h"
#include "monitoring/samba/samba_status.h"

namespace cifsmon {

inline constexpr char kActiveDirectoryType[] = "Active Directory";
inline constexpr char kLocalType[] = "Local";
inline constexpr char kSupervisor[] = "Supervisor";
inline constexpr char kNonSupervisor[] = "Non-Supervisor";
inline constexpr char kLoggedIn[] = "Logged-In";
inline constexpr char kLoggingIn[] = "Logging-In";

// "Active Directory" for an account a domain authenticated, "Local" for one of the server's
// own; empty while the session is still authenticating. A domain account's name carries its
// domain before the winbind separator ("CORP\anna"), unless that domain is the server itself;
// with "winbind use default domain" the domain is left out, and the account is told by its uid,
// which lies in an idmap range. `hostName` stands for the netbios name when the configuration
// sets none (the server then takes its host name).
std::string ConnectionType(const SambaSession &session, const SambaConfig &config,
                           std::string_view hostName);

// The names of the account's groups, its primary group first, from the system's user and
// group databases (which show a domain's accounts too where winbind serves them); when the
// uid is unknown there, `fallbackGroup` alone (the group smbstatus named), or nothing when it is
// empty.
std::vector<std::string> UserGroups(uint32_t uid, const std::string &fallbackGroup);

// "Supervisor" for root and for members of `adminGroup` (compared without regard to case, as
// the server compares account names; empty: no such group), else "Non-Supervisor".
const char *Privileges(std::optional<uint32_t> uid, const std::vector<std::string> &groups,
                       std::string_view adminGroup);

// This host's name up to its first dot, upper-cased: the default netbios name.
std::string DefaultNetbiosName();

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_IDENTITY_H
