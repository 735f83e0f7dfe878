// monitoring_report.h: what the monitoring library says about its calls, as the pages show it:
// why a listing or a close failed, and what a close did besides what was asked; and the notes
// the closes of one request leave for the page that follows them.
//
// The library's report is read through Ext_LastFailure (cifsmonitoring/failure.h), which a
// library of monitoring.h alone does not have: it is taken here as an optional symbol, and
// without it a failure is told by its status alone. Nothing else in the plug-in reads it.
#ifndef KEL2CIFS_PLUGIN_MONITORING_REPORT_H
#define KEL2CIFS_PLUGIN_MONITORING_REPORT_H

#include <cstddef>
#include <string>
#include <string_view>

#include "cifsmonitoring/failure.h"

// Optional: null when the loaded monitoring library lacks it.
extern "C" int Ext_LastFailure(char *text, size_t size) __attribute__((weak));

namespace kel2cifs {

// Reads the library's report on the calling thread's last call (see Ext_LastFailure).
using LastFailureFunction = int (*)(char *text, std::size_t size);

// Puts source in the place of Ext_LastFailure (null: as a library without it) and returns the
// function it replaces. For tests; the plug-in itself never calls it.
LastFailureFunction SetLastFailureSource(LastFailureFunction source);
// The function read now: Ext_LastFailure, null when the library lacks it, or a test's.
LastFailureFunction LastFailureSource();

// The most the plug-in reads of a report, terminator included.
inline constexpr std::size_t kReportSize = 512;

// The library's report on the calling thread's last listing or close call, provided that call
// returned `status`; empty when the library lacks the call, reports on a call of another status,
// or has nothing to say. Read it right after the call (the Free calls leave it as it is). The
// text is the library's own: escape it before writing it into a page.
std::string LastReport(int status);

// The kind of call a failure sentence is about: the general head differs.
enum class FailedCall { kListing, kClose };

// The localised head of the sentence for a failed call of `status`, ending with ":".
const char *FailureHead(int status, FailedCall call = FailedCall::kListing);

// The sentence a page shows for a call that just returned the failure `status`, as HTML: the
// head, a blank and the library's reason (escaped, shown with U+FFFD for bytes that are not
// UTF-8), or without a reason the localised words "no reason was given" and the status number.
std::string FailureSentence(int status, FailedCall call = FailedCall::kListing);

// Writes the row a list page shows in place of its "No items." row after a listing failed with
// `status`: the same markup (colspan columns) around FailureSentence(status).
void WriteFailureRow(void *request, int status, int colspan = 4);

// The notes of the closes made while one request is served: one per close that failed, one per
// close the library found ambiguous, one per close that closed other files with the one asked
// for. At most kMaxCloseNotes are kept; the others are counted.
inline constexpr std::size_t kMaxCloseNotes = 50;

// Forgets every note of the calling thread. A dispatch calls it as it begins (CloseNotesScope).
void ClearCloseNotes();
// Notes what a close of `name` (the name as asked, shown escaped; any bytes) that returned
// `status` did, reading the library's report. Call it right after the close.
void NoteCloseResult(std::string_view name, int status);
// The notes of the calling thread as the banner writes them, in the order of the closes, and
// the number of notes left out.
const std::string *CloseNotes(std::size_t *count, std::size_t *leftOut);
// Writes the banner of the calling thread's notes: one <p class="closenote" role="status"> per
// note, and one more naming the number left out. Writes nothing without notes.
void WriteCloseNotes(void *request);

// Clears the calling thread's notes on construction and on destruction: the notes of a request
// never reach another one, and a thread keeps no memory between requests.
class CloseNotesScope {
  public:
    CloseNotesScope() { ClearCloseNotes(); }
    ~CloseNotesScope() { ClearCloseNotes(); }
    CloseNotesScope(const CloseNotesScope &) = delete;
    CloseNotesScope &operator=(const CloseNotesScope &) = delete;
};

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_MONITORING_REPORT_H
