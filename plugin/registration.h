// registration.h: the plug-in's three service methods, registered with the host at load and
// removed at unload.
#ifndef KEL2CIFS_PLUGIN_REGISTRATION_H
#define KEL2CIFS_PLUGIN_REGISTRATION_H

namespace kel2cifs {

// Flags every registration passes to the host.
inline constexpr unsigned kRegistrationFlags = 0x4000d;

// Registers Manage Connections, View Logs and Manage Open Files, in that order, stopping at the
// first refusal (logged). Returns false when a registration was refused.
[[nodiscard]] bool RegisterServiceMethods();

// Deregisters Manage Connections, Manage Open Files and View Logs, in that order, whether or not
// each was registered; the host's answers are not examined.
void DeregisterServiceMethods();

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_REGISTRATION_H
