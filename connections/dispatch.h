// dispatch.h: the Manage Connections service method and its URL parser.
//
// Every page needs the access bits kAccessConsole and one of kAccessManage (plugin/request.h).
//
// URL grammar under "/cifscons" (keywords without regard to case; id: 1 to 8 hexadecimal digits;
// n: a decimal connection number; a sort keyword is one of the six of connection_list.h):
//   (nothing)                                      GET: the connection list
//   /<prefix of "help">[/<prefix of "_info_">]     help topic 18 [19]; any other second: error 3
//   /<sort keyword>                                GET: the list in that order
//   [/<sort keyword>]/<id>                         the detail page; posted volume, sorttype and
//                                                  FILTER lead back to the open-file pages
//   [/<sort keyword>]/CIFSCloseConnections/<list>  GET: clears nothing (see close.h), the list
//   [/<sort keyword>]/CIFSCloseFiles/<id>/<closeallfiles>n</closeallfiles>
//                                                  closes every file of n, then the detail page
//   [/<sort keyword>]/CIFSCloseFiles/<id>          POST: closes each posted FILENAME, then the
//                                                  detail page
// Anything else, a POST without a component left, and two or more components left: error page 3.
#ifndef KEL2CIFS_CONNECTIONS_DISPATCH_H
#define KEL2CIFS_CONNECTIONS_DISPATCH_H

#include <cstddef>

#include "plugin/sort_type.h"

namespace kel2cifs {

// Action components of the URL.
inline constexpr char kActionCloseConnections[] = "CIFSCloseConnections";
inline constexpr char kActionCloseConnectionFiles[] = "CIFSCloseFiles";
// Capacity of each posted open-file page field ("volume", "FILTER", "sorttype"), terminator
// included: a longer value is not taken.
inline constexpr std::size_t kConsFormFieldSize = 64;

}  // namespace kel2cifs

// The service method registered under "cifscons". Returns the HTTP status produced: 200 for a
// page (the list, a detail page, help or an error page), 500 when the response could not be
// opened, or the error status a detail page answered with (400, 401, 500).
int cifsconsMethod(void *request, int, int, unsigned int access);

// Parses the request path: converts the part after "/cifscons" in place into length-prefixed
// components, serves help, and consumes a leading sort keyword (a component that begins with one
// is taken whole). Returns 0 when the request is to be dispatched further, 400 when the path is
// unusable (no path, not starting with "/", a component too long for its length byte, or the
// path copy not allocated), or the status of the help (or error) page it served.
// On return *count, *sortType, *component (the length byte of the next component; null when
// nothing follows the keyword) and *pathCopy (a heap copy of the path after "/cifscons" in its
// slash form, or null) are set as far as parsing got; *pathCopy is the caller's to free(), also
// after a failure. When a keyword matched it is copied into sortName (kSortNameSize bytes).
int GetComponentCountAndSortType(void *request, int *count, cifsSortType *sortType, char *sortName,
                                 char **component, char **pathCopy);

#endif  // KEL2CIFS_CONNECTIONS_DISPATCH_H
