// list_page.h: the "CIFS Connections" page, its sortable table, and the script block of both
// connection pages.
//
// Data written into the page (user names, connection types, time texts) is HTML-escaped in
// element text and attribute values and percent-encoded in URL paths; text without special
// characters is written as it is.
#ifndef KEL2CIFS_CONNECTIONS_LIST_PAGE_H
#define KEL2CIFS_CONNECTIONS_LIST_PAGE_H

#include <cstddef>

#include "plugin/sort_type.h"

namespace kel2cifs {

// Capacity of the list page's title, terminator included.
inline constexpr std::size_t kConnectionsTitleSize = 1024;
// The URL prefix of the console's images as the connection pages write it.
inline constexpr char kConnectionImagePrefix[] = "/opt/zantio/kel/";

// DisplayCIFSConnectionList, also storing through *listingStatus (when not null) the status of
// the library's listing.
int WriteConnectionTable(void *request, int withSelection, cifsSortType sortType,
                         const char *sortName, int *listingStatus);

}  // namespace kel2cifs

// Writes the page: the frame with the script block, then (with showList set) the table sorted by
// sortType, whose links carry sortName, a "No items." row when there is no connection list (a row
// telling why instead when the library's listing failed, see WriteFailureRow), and the Refresh
// button. Returns 200, or 500 when the response could not be opened (a 500 response
// was sent and nothing else written). ignored and flags are not read.
int generate_main_connections_page(void *request, int ignored, int showList, unsigned long flags,
                                   cifsSortType sortType, const char *sortName);

// Writes the table's start, its heading rows and one row per connection (stripes light first),
// freeing each node after its row. withSelection adds a checkbox column. Returns 0 when the
// table was written, with or without rows; -1 when there is no connection list (no rows then).
int DisplayCIFSConnectionList(void *request, int withSelection, cifsSortType sortType,
                              const char *sortName);

// Writes the six heading cells and ends the heading row: the column of sortType carries the
// "sorted" marker, every other column links to its own order.
void SendColumnHeadings(void *request, cifsSortType sortType);

// The script writer of both connection pages, called by the host while the head is written.
// Returns the result of its last write.
int AddJavaScriptConnectionCode(void *request);

#endif  // KEL2CIFS_CONNECTIONS_LIST_PAGE_H
