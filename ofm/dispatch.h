// dispatch.h: the Manage Open Files service method and its URL parser.
//
// Every page needs the access bits kAccessConsole and one of kAccessManage (plugin/request.h).
//
// URL grammar under "/cifsofm" (keywords without regard to case):
//   (nothing)                              the page without a volume
//   /<prefix of "help">[/...]              help (an empty first component counts as a prefix)
//   /ConnectionNumber|UserName|FileName... sort type 1, 2 or 3; the component is consumed
//   /<volume>                              the page of that volume, filtered by a posted FILTER
//   /CIFSBrowseFile/<volume>/<path>        the file details page for /<path>
//   /CIFSCloseFiles/<volume>               close the posted files, then the page of the volume
//   two or more other components           GET: the page without a volume; POST: error page 3
#ifndef KEL2CIFS_OFM_DISPATCH_H
#define KEL2CIFS_OFM_DISPATCH_H

#include "ofm/post_data.h"
#include "plugin/sort_type.h"

namespace kel2cifs {

// Action components of the URL.
inline constexpr char kActionBrowseFile[] = "CIFSBrowseFile";
inline constexpr char kActionCloseFiles[] = "CIFSCloseFiles";
// Capacity the parser needs for the matched sort keyword ("ConnectionNumber" and its terminator).
inline constexpr int kSortKeywordSize = 17;

}  // namespace kel2cifs

// The service method registered under "cifsofm". Returns the HTTP status of the page produced
// (200, or 500 when the response could not be opened).
int cifsofmMethod(void *request, int, int, unsigned int access);

// Parses the request path: converts it in place into length-prefixed components, serves help,
// and consumes a leading sort keyword. Returns 0 when the request is to be dispatched further,
// 400 when the path is unusable, or the status of the help (or error) page it served. On return
// *count, *sortType, *position (the length byte of the next component, or null when the path has
// none) and *pathCopy (a heap copy of the path after "/cifsofm" in its slash form, or null) are
// set as far as parsing got; *pathCopy is the caller's to free(), also after a failure. When a
// keyword matched it is copied into sortKeyword (kSortKeywordSize bytes). filter is not used.
int GetComponentCountAndSortType(void *request, int *count, cifsSortType *sortType, char *filter,
                                 char *sortKeyword, char **position, char **pathCopy);

// The help entry of the open-file pages: topic 41 when no further component follows ("remaining"
// is 0) or the text at next is empty (an empty last component), topic 42 when next (nextLength
// characters, not necessarily terminated) is a prefix of "help" without regard to case (an empty
// component followed by more is one), else the error page of kind 3. next must be readable for at
// least one byte: within a converted path an empty component is followed by the next length byte
// or by the terminator.
int generate_cifs_ofm_help(void *request, int remaining, const char *next, int nextLength);

// Counts the components of the request path without changing it (no page uses it). Returns 0,
// or 400 when the path is unusable.
int GetComponentCount(void *request, int *count);

#endif  // KEL2CIFS_OFM_DISPATCH_H
