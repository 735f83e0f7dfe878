// paths.h: the plug-in's fixed file-system paths and the KEL2CIFS_ROOT override.
//
// Unset, every path is the fixed one below. When KEL2CIFS_ROOT names a directory at load time,
// every path is taken below it instead, so that tests and an unprivileged demo never touch the
// system's own files. URLs (such as the image prefix) are not paths and never change.
#ifndef KEL2CIFS_PLUGIN_PATHS_H
#define KEL2CIFS_PLUGIN_PATHS_H

#include "kel2cifs/locations.h"

namespace kel2cifs {

inline constexpr auto &kConfigFilePath = kel2cifs_locations::kConfigFile;
inline constexpr auto &kLogFilePath = kel2cifs_locations::kLogFile;
inline constexpr auto &kLogDirectoryPath = kel2cifs_locations::kLogDirectory;
inline constexpr auto &kLocaleDirectoryPath = kel2cifs_locations::kLocaleDirectory;
inline constexpr auto &kRootVariable = kel2cifs_locations::kRootVariable;

// Reads KEL2CIFS_ROOT and fixes every path below (and the global `logfilename`). The load routine
// calls it first; tests call it again after changing the variable. A root so long that a path
// would not fit leaves that path empty, so nothing outside the root is ever opened.
void ResolvePaths();

// The resolved paths; the fixed ones until ResolvePaths runs. Valid for the life of the process.
const char *ConfigFilePath();
const char *LogFilePath();
const char *LogDirectoryPath();
const char *LocaleDirectoryPath();

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_PATHS_H
