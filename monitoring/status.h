// status.h: the status codes every Ext_ operation and every internal unit of the library returns.
//
// 0 is success; the other values are the library's own and are listed in README.md so that an
// administrator reading "failed with error = 4" in the plug-in's log knows what happened.
#ifndef CIFSMONITORING_STATUS_H
#define CIFSMONITORING_STATUS_H

namespace cifsmon {

inline constexpr int kStatusOk = 0;
// No volume, connection or open file of that name or number.
inline constexpr int kStatusNotFound = 1;
// A null out-parameter, a null or empty name.
inline constexpr int kStatusInvalidArgument = 2;
// The state file does not exist.
inline constexpr int kStatusStateMissing = 3;
// The state file is not JSON or not the state layout.
inline constexpr int kStatusStateCorrupt = 4;
// Reading, locking or writing the state file failed.
inline constexpr int kStatusIoError = 5;
// An allocation failed; nothing was handed out.
inline constexpr int kStatusNoMemory = 6;
// The configured backend is unknown or not built into this library.
inline constexpr int kStatusBackendUnavailable = 7;
// A server tool (testparm, smbstatus, smbcontrol, net) is missing, could not be started, did not
// finish in time, printed more than the output limit, or reported a failure.
inline constexpr int kStatusToolFailed = 8;
// A server tool's output could not be understood.
inline constexpr int kStatusToolOutputInvalid = 9;
// The file server (smbd) is not running or does not answer.
inline constexpr int kStatusServerNotRunning = 10;
// A path cut to fit (ending in the cut mark) stands for more than one open file.
inline constexpr int kStatusAmbiguous = 11;
// The library lacks the rights the backend needs (the Samba backend must run as root).
inline constexpr int kStatusNotPermitted = 12;

}  // namespace cifsmon

#endif  // CIFSMONITORING_STATUS_H
