// diagnostics.h: the library's messages to the administrator, on standard error.
#ifndef CIFSMONITORING_DIAGNOSTICS_H
#define CIFSMONITORING_DIAGNOSTICS_H

#include <string>

namespace cifsmon {

// Writes "cifsmonitoring: <message>\n" to standard error the first time this process reports
// that exact message, and nothing on later reports of it: a console calls the library for every
// page, and a broken state file must not fill its terminal. Thread-safe.
void ReportOnce(const std::string &message);

// Writes "cifsmonitoring: <message>\n" to standard error every time: for actions taken on the
// server (what a close closed), which an administrator must be able to trace one by one.
// Thread-safe.
void Report(const std::string &message);

}  // namespace cifsmon

#endif  // CIFSMONITORING_DIAGNOSTICS_H
