// registration.h: the administration pages' registration with the host and the action observer,
// set up at load and removed at unload.
#ifndef KEL2CIFS_CIFSADMIN_REGISTRATION_H
#define KEL2CIFS_CIFSADMIN_REGISTRATION_H

namespace kel2cifs::admin {

// Flags of both registrations: those of the first plug-in's pages, and data outputs.
inline constexpr unsigned kRegistrationFlags = 0x4000du | 0x00100000u;

// Registers Find Open Files and Sessions under the group "Find and Sessions"; false (with
// whatever was registered removed again) when the host refuses one.
[[nodiscard]] bool RegisterPages();
// Deregisters both, whether or not each was registered.
void DeregisterPages();
// Sets ObserveAction as the library's observer when the library offers one; ClearObserver
// removes it and returns once it no longer runs.
void SetObserver();
void ClearObserver();

}  // namespace kel2cifs::admin

#endif  // KEL2CIFS_CIFSADMIN_REGISTRATION_H
