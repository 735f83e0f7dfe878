// settings.h: the environment variables that configure the library (documented in README.md).
//
// They are read on every call, so that a test or a tool may point one process at another state
// file between calls; the backend object is kept as long as they do not change.
#ifndef CIFSMONITORING_SETTINGS_H
#define CIFSMONITORING_SETTINGS_H

#include <cstdint>
#include <string>

#include "kel2cifs/locations.h"

namespace cifsmon {

// Chooses the backend: "demo" (also when unset or empty) or "samba".
inline constexpr char kBackendVariable[] = "CIFSMONITORING_BACKEND";
// The demo backend's state file.
inline constexpr char kStateVariable[] = "CIFSMONITORING_STATE";
// When CIFSMONITORING_STATE is unset, the state file lies below this root, as the plug-in's
// own files do.
inline constexpr auto &kRootVariable = kel2cifs_locations::kRootVariable;
inline constexpr char kDefaultStatePath[] = "/var/opt/zantio/cifsmonitoring/demo-state.json";

inline constexpr char kDemoBackendName[] = "demo";
inline constexpr char kSambaBackendName[] = "samba";

// The Samba backend's settings; read only when it is the chosen backend.
// The smb.conf that smbd uses; every tool is run with it.
inline constexpr char kSambaConfVariable[] = "CIFSMONITORING_SAMBA_CONF";
inline constexpr char kDefaultSambaConf[] = "/etc/samba/smb.conf";
// Colon-separated directories in which the tools are looked for (nothing else is searched).
inline constexpr char kSambaToolsVariable[] = "CIFSMONITORING_SAMBA_TOOLS";
inline constexpr char kDefaultSambaTools[] = "/usr/bin:/usr/sbin:/bin:/sbin";
// The file keeping the connection numbers (its lock is "<file>.lock" beside it).
inline constexpr char kSambaNumbersVariable[] = "CIFSMONITORING_SAMBA_NUMBERS";
inline constexpr char kDefaultSambaNumbersPath[] =
    "/var/opt/zantio/cifsmonitoring/samba-connections.json";
// A group whose members are reported as "Supervisor" besides root; unset: root only.
inline constexpr char kSambaAdminGroupVariable[] = "CIFSMONITORING_SAMBA_ADMIN_GROUP";
// Seconds one tool may run before it is killed.
inline constexpr char kSambaTimeoutVariable[] = "CIFSMONITORING_SAMBA_TIMEOUT";
inline constexpr unsigned kDefaultSambaTimeoutSeconds = 10;
// Bytes a tool may print on standard output before it is killed and the call fails.
inline constexpr char kSambaOutputLimitVariable[] = "CIFSMONITORING_SAMBA_OUTPUT_LIMIT";
inline constexpr uint64_t kDefaultSambaOutputLimit = 256ULL << 20;
// Milliseconds during which one server snapshot serves every listing.
inline constexpr char kSambaIntervalVariable[] = "CIFSMONITORING_SAMBA_INTERVAL_MS";
inline constexpr unsigned kDefaultSambaIntervalMs = 1000;
// An authentication file (net's -A format) of an account allowed to close single files over
// the server service's RPC interface; unset: single-file closes close the file's share for the
// processes holding it.
inline constexpr char kSambaRpcAuthVariable[] = "CIFSMONITORING_SAMBA_RPC_AUTH";
// The server that RPC call goes to.
inline constexpr char kSambaRpcServerVariable[] = "CIFSMONITORING_SAMBA_RPC_SERVER";
inline constexpr char kDefaultSambaRpcServer[] = "127.0.0.1";
// In a CTDB cluster, this node's number where `ctdb -X status` cannot tell it: only processes of
// this node have their traffic and start time read from /proc and get the close message.
inline constexpr char kSambaVnnVariable[] = "CIFSMONITORING_SAMBA_VNN";

struct SambaSettings {
    std::string configPath;
    std::string toolPath;
    std::string numbersPath;  // below KEL2CIFS_ROOT when the variable is unset
    std::string adminGroup;
    unsigned timeoutSeconds = kDefaultSambaTimeoutSeconds;
    uint64_t outputLimit = kDefaultSambaOutputLimit;
    unsigned intervalMs = kDefaultSambaIntervalMs;
    std::string rpcAuthFile;
    std::string rpcServer;
    bool haveLocalVnn = false;
    uint32_t localVnn = 0;

    bool operator==(const SambaSettings &) const = default;
};

struct Settings {
    std::string backend;    // the variable's text, "demo" when unset or empty
    std::string statePath;  // CIFSMONITORING_STATE, else $KEL2CIFS_ROOT + kDefaultStatePath
    SambaSettings samba;    // defaults unless backend is "samba"

    bool operator==(const Settings &) const = default;
};

// The settings as the environment holds them now. A numeric Samba setting that is not a
// number in its range is reported once (diagnostics.h) and its default used.
Settings ReadSettings();

}  // namespace cifsmon

#endif  // CIFSMONITORING_SETTINGS_H
