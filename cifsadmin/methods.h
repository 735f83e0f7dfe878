// methods.h: the administration pages' service methods.
//
//   GET  /cifsfind?q=&user=&client=&volume=&sort=&order=asc|desc&page=&size=&refresh=&sel=&result=
//        the open files of every volume that match, as HTML, or with format=json|csv as data;
//        sel (repeated) checks rows, result shows what a close did.
//   POST /cifsfind  close=<connection>:<path> (repeated; '%' of the path written %25) and the
//        list's state: without step=confirm a preview of what the close takes; with it the
//        close, then 303 to the list with result=<id>. With format=json (query or form) the
//        close happens at once and the answer is JSON.
//   GET  /cifssessions?filter=&sort=&order=&page=&size=&refresh=&result=   (format=json|csv)
//   POST /cifssessions  end=<connection>: a confirmation page; with step=confirm the session
//        ends, then 303 with result=<id>. With format=json it ends at once (end repeatable).
#ifndef KEL2CIFS_CIFSADMIN_METHODS_H
#define KEL2CIFS_CIFSADMIN_METHODS_H

#include <cstddef>

namespace kel2cifs::admin {

inline constexpr char kFindKeyword[] = "cifsfind";
inline constexpr char kSessionsKeyword[] = "cifssessions";

int FindMethod(void *request, int reserved1, int reserved2, unsigned int access);
int SessionsMethod(void *request, int reserved1, int reserved2, unsigned int access);

// Page sizes: the default and the largest a request may ask for.
inline constexpr long kDefaultPageSize = 100;
inline constexpr long kMaxPageSize = 1000;
// The most close (or end) fields one POST may carry: the rows of the largest page. A form with
// more is refused before any of them is read, so that its size bounds the work and the audit
// record of one request.
inline constexpr std::size_t kMaxTargets = static_cast<std::size_t>(kMaxPageSize);

}  // namespace kel2cifs::admin

#endif  // KEL2CIFS_CIFSADMIN_METHODS_H
