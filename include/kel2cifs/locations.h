// locations.h: the fixed places the plug-in and the console agree on (each below $KEL2CIFS_ROOT).
#ifndef KEL2CIFS_LOCATIONS_H
#define KEL2CIFS_LOCATIONS_H

namespace kel2cifs_locations {

inline constexpr char kConfigFile[] = "/opt/zantio/lib/libkel2cifs.conf";
inline constexpr char kLogDirectory[] = "/var/opt/zantio/log";
inline constexpr char kLogFile[] = "/var/opt/zantio/log/libkel2cifs.log";
inline constexpr char kLocaleDirectory[] = "/opt/zantio/cifs/locale";
inline constexpr char kRootVariable[] = "KEL2CIFS_ROOT";

}  // namespace kel2cifs_locations

#endif  // KEL2CIFS_LOCATIONS_H
