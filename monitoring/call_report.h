// call_report.h: what the calling thread's current entry point has to say beyond its status,
// kept per thread for Ext_LastFailure (cifsmonitoring/failure.h).
//
// Every entry point opens a CallReport, which clears the thread's report; a backend that knows
// why it failed says so with SetFailureReason, and a close that took other files with it (or a
// listing that lacks a cluster node's data) says what with AddNote; the entry point ends with
// Finish(status). A failure without a reason gets the status's general description.
#ifndef CIFSMONITORING_CALL_REPORT_H
#define CIFSMONITORING_CALL_REPORT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace cifsmon {

// The longest report kept, in bytes; a longer one is cut at a character boundary.
inline constexpr std::size_t kReportLimit = 4096;

// Sets the reason of the calling thread's current call (the last one set wins).
void SetFailureReason(std::string_view text);
// Adds to what the calling thread's current call has to say when it succeeds: what a close did
// besides what was asked, what a listing could not include.
void AddNote(std::string_view text);

// The general description of a status, for a failure no backend explained.
std::string_view DescribeStatus(int status);

class CallReport {
  public:
    CallReport();
    CallReport(const CallReport &) = delete;
    CallReport &operator=(const CallReport &) = delete;
    // Records the call's status and returns it.
    int Finish(int status);
};

// The thread's last report: its status and text (as Ext_LastFailure gives them).
int LastReport(std::string *text);

}  // namespace cifsmon

#endif  // CIFSMONITORING_CALL_REPORT_H
