// settings.h: the environment variables that configure the library (documented in README.md).
//
// They are read on every call, so that a test or a tool may point one process at another state
// file between calls; the backend object is kept as long as they do not change.
#ifndef CIFSMONITORING_SETTINGS_H
#define CIFSMONITORING_SETTINGS_H

#include <string>

namespace cifsmon {

// Chooses the backend: "demo" (also when unset or empty) or "samba".
inline constexpr char kBackendVariable[] = "CIFSMONITORING_BACKEND";
// The demo backend's state file.
inline constexpr char kStateVariable[] = "CIFSMONITORING_STATE";
// When CIFSMONITORING_STATE is unset, the state file lies below this root, as the plug-in's
// own files do.
inline constexpr char kRootVariable[] = "KEL2CIFS_ROOT";
inline constexpr char kDefaultStatePath[] = "/var/opt/zantio/cifsmonitoring/demo-state.json";

inline constexpr char kDemoBackendName[] = "demo";
inline constexpr char kSambaBackendName[] = "samba";

struct Settings {
    std::string backend;    // the variable's text, "demo" when unset or empty
    std::string statePath;  // CIFSMONITORING_STATE, else $KEL2CIFS_ROOT + kDefaultStatePath

    bool operator==(const Settings &) const = default;
};

Settings ReadSettings();

}  // namespace cifsmon

#endif  // CIFSMONITORING_SETTINGS_H
