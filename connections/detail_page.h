// detail_page.h: the "CIFS Connection Information" page of one connection, its rows, and two
// page operations that no page places (a message box row and a redirect).
//
// Reached from the open-file pages, the page carries their state (volume, sort keyword, filter)
// into its way back and its close forms; an empty volume means it was not. Data written into the
// page (user name, address, status words, security-equivalence names, file paths and the posted
// state) is HTML-escaped in element text and attribute values and percent-encoded in URL paths;
// an HTML-escaped path in a FILENAME value still posts back the exact path.
#ifndef KEL2CIFS_CONNECTIONS_DETAIL_PAGE_H
#define KEL2CIFS_CONNECTIONS_DETAIL_PAGE_H

#include <cstddef>

#include "cifsmonitoring/monitoring.h"
#include "connections/connection_list.h"

namespace kel2cifs {

// Capacities of the page title and the error body, terminator included.
inline constexpr std::size_t kDetailTitleSize = 512;
inline constexpr std::size_t kErrorBodySize = 512;
// An id component holds 1 to this many hexadecimal digits.
inline constexpr std::size_t kMaxIdLength = 8;

}  // namespace kel2cifs

// Writes the page of the connection named by component (a length byte followed by that many
// characters: the id in hexadecimal, read up to its first non-hexadecimal character; only the
// low 16 bits count). allowClear offers "Clear Connection" instead of "Close All Files";
// authorised 0 refuses with a bare 401 response; acceptZero lets connection 0 through.
// sortName is the connection list's sort keyword for the way back; volume, sortTypeText and
// filter are the open-file pages' state (null reads as empty).
// When the library fails to give the details for another reason than not knowing the
// connection, the page is written all the same, its table telling why (WriteFailureRow).
// Returns 0 when the page was written; otherwise the status of the error response sent: 401
// (not authorised, connection 0 refused, or no record could be made of the details), 400 (an id
// of 0 or more than 8 characters), 500 (the library does not know the connection or gave no
// record without a failure, or the response could not be opened). The monitoring record and the
// plug-in's record are released on every path.
int DisplaySpecifiedConnection(void *request, int allowClear, int authorised, int acceptZero,
                               const char *component, const char *sortName, const char *volume,
                               const char *sortTypeText, const char *filter);

// Row writers. Each row takes the light stripe when *stripeCounter is even and the dark one when
// it is odd, then counts up.
void DisplayLoginStatus(void *request, int *stripeCounter, const CIFSConnectionDetails *details);
// The "Login time" and "Privileges" rows.
void DisplayConnectionPrivileges(void *request, int *stripeCounter,
                                 const CIFSConnectionDetails *details);
void DisplayConnectionType(void *request, int *stripeCounter, const CIFSConnectionDetails *details);
void DisplayNetAddress(void *request, int *stripeCounter, const CIFSConnectionDetails *details);
// One row per security-equivalence name (at most secEquivCount of them, the first even when the
// count is 0, stopping at a null entry); a single empty row when there is no array.
void DisplaySecEquiList(void *request, int *stripeCounter, const UserInfo_s *info);
// The "Open Files" rows: one close form per open file (at most openFileCount, stopping at a
// null entry; a name longer than the close call takes is shown and carried as FittedName), each
// posting to /cifscons/CIFSCloseFiles/<connNumber in 8 hex digits> and, with a volume, carrying the
// open-file pages' state. The first file shares the label's row.
void DisplayOpenFiles(void *request, int *stripeCounter, int ignoredFlag, const UserInfo_s *info,
                      unsigned long connNumber, const char *volume, const char *sortTypeText,
                      const char *filter);

// A row with a message form posting to /cifscons/SendTo/<connNumber in 8 hex digits>; the
// dispatcher has no route for it. details and ignoredText are not read.
void DisplaySendMessageBox(void *request, int *stripeCounter, const char *ignoredText,
                           unsigned long connNumber, const CIFSConnectionDetails *details);

// Answers with a 302 response whose header text is location (one or more complete
// "Name: value\r\n" lines, the plug-in's own), stopping at the first host call that fails.
// Prints "Redirecting page" or the failing result to standard output. Returns 302.
int SendRedirect(void *request, const char *location);

#endif  // KEL2CIFS_CONNECTIONS_DETAIL_PAGE_H
