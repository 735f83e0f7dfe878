// connection_list.h: the CIFS connections as the plug-in's own records: the sorted list behind
// the connection list page, and the record of one connection behind its detail page.
//
// Ownership: GetSortedConnectionList hands its nodes to the caller, who frees each with free()
// (or the whole chain with FreeConnectionList); GetConnInfo hands over one record, freed with
// free(). The monitoring library's records never leave these calls, except the UserInfo_s that
// GetConnInfo reads and that stays the caller's.
#ifndef KEL2CIFS_CONNECTIONS_CONNECTION_LIST_H
#define KEL2CIFS_CONNECTIONS_CONNECTION_LIST_H

#include <cstddef>
#include <cstdint>

#include "cifsmonitoring/monitoring.h"
#include "kel2cifs/text_marker.h"
#include "plugin/sort_type.h"

namespace kel2cifs {

// The connection pages' values of cifsSortType (1, kSortByConnectionNumber, is shared with the
// open-file pages). Every order is ascending.
inline constexpr cifsSortType kSortByConnectionName = static_cast<cifsSortType>(2);  // userName
inline constexpr cifsSortType kSortByLoginTime = static_cast<cifsSortType>(3);       // loginTime
inline constexpr cifsSortType kSortByFSActivity = static_cast<cifsSortType>(4);      // bytes moved
inline constexpr cifsSortType kSortByZupRequest = static_cast<cifsSortType>(5);      // requestCount
// Orders by userName too: the connection type text is not a key.
inline constexpr cifsSortType kSortByConnectionType = static_cast<cifsSortType>(6);

// One sort order of the connection list: its URL keyword (matched without regard to case), the
// heading of the column it stands for, and the alt texts of that column's sort image when it
// links to the order and when it marks it. The texts are English; pages localise them.
struct ConnectionSortOrder {
    cifsSortType sortType;
    const char *keyword;
    const char *column;
    const char *linkText;
    const char *markerText;
};

// The six orders, in the order of the list page's columns (sort types 1, 2, 4, 5, 3, 6).
inline constexpr ConnectionSortOrder kConnectionColumns[] = {
    {kSortByConnectionNumber, "ConnectionNumber", TextToTranslate("Connection"),
     TextToTranslate("Sort By Connection Number"), TextToTranslate("Sorted By Connection Number")},
    {kSortByConnectionName, "ConnectionName", TextToTranslate("Name"),
     TextToTranslate("Sort By Name"), TextToTranslate("Sorted By Name")},
    {kSortByFSActivity, "FSActivity", TextToTranslate("Reads & Writes (bytes)"),
     TextToTranslate("Sort By Reads & Writes (bytes)"),
     TextToTranslate("Sorted By Reads & Writes (bytes)")},
    {kSortByZupRequest, "ZupRequest", TextToTranslate("CIFS Requests"),
     TextToTranslate("Sort By Requests"), TextToTranslate("Sorted By Requests")},
    {kSortByLoginTime, "LoginTime", TextToTranslate("Login Time"),
     TextToTranslate("Sort By Login Time"), TextToTranslate("Sorted By Login Time")},
    {kSortByConnectionType, "ConnectionType", TextToTranslate("Connection Type"),
     TextToTranslate("Sort By Connection Type"), TextToTranslate("Sorted By Connection Type")},
};

// The keyword of the default order, and the capacity of a sort keyword text ("ConnectionNumber"
// and its terminator).
inline constexpr char kDefaultConnectionSortName[] = "ConnectionNumber";
inline constexpr std::size_t kSortNameSize = sizeof(kDefaultConnectionSortName);

// Text field capacities of the plug-in's records, terminator included.
inline constexpr std::size_t kLoginTimeTextSize = 81;  // at most 80 characters
inline constexpr std::size_t kLoggedInMarkSize = 4;

// The mark of a connection on which a user has logged in; the list page stars every other name.
inline constexpr char kLoggedInMark[] = "yes";
inline constexpr char kNotLoggedInMark[] = "no";

// Results of GetSortedConnectionList and GetConnInfo besides 0.
inline constexpr int kNoConnectionList = -1;  // no list from the library / no UserInfo_s given
inline constexpr int kConnOutOfMemory = 12;   // ENOMEM: a node or the record was not allocated

}  // namespace kel2cifs

// One node of the connection list. Texts are always terminated: a monitoring text that fills its
// whole array is cut by its last character.
struct ConnectionSortStruct {
    ConnectionSortStruct *next;
    uint16_t connNumber;
    uint32_t requestCount;      // CIFS requests
    uint64_t bytesReadWritten;  // bytesRead + bytesWritten
    char loginTimeText[kel2cifs::kLoginTimeTextSize];
    // kLoggedInMark when the connection names a user (a non-empty user name), kNotLoggedInMark
    // otherwise: the monitoring list reports no login status, and a connection with no user
    // name has no user logged in on it.
    char loggedInMark[kel2cifs::kLoggedInMarkSize];
    char netAddress[CIFSMON_NET_ADDRESS_SIZE];  // copied, not shown
    char userName[CIFSMON_USER_NAME_SIZE];
    uint64_t loginTime;  // seconds since 1970-01-01 UTC
    char connType[CIFSMON_CONN_TYPE_SIZE];
};

// The record of one connection for its detail page. Every text holds the whole monitoring text
// (each array is one byte longer than its source) and is terminated at its last byte.
struct CIFSConnectionDetails {
    uint16_t connNumber;
    char userName[CIFSMON_USER_NAME_SIZE + 1];
    char loginTimeText[kel2cifs::kLoginTimeTextSize];
    uint64_t loginTime;
    char netAddress[CIFSMON_NET_ADDRESS_SIZE + 1];
    char loginStatus[CIFSMON_LOGIN_STATUS_SIZE + 1];
    char privileges[CIFSMON_PRIVILEGES_SIZE + 1];
    uint16_t openFileCount;
    char connType[CIFSMON_CONN_TYPE_SIZE + 1];
};

// Fetches every connection, copies them (at most the count the library reports, stopping at a
// null next) in the library's order into a new list, sorts it by sortType and stores its head
// through *list (null when the library reports a count of 0 or less). A failing listing is
// logged and whatever list came back is used. Returns 0; kNoConnectionList when the library
// hands out no list (nothing is stored then); kConnOutOfMemory when a node cannot be allocated
// (the nodes made so far are freed and nothing is stored). The library's list is always freed.
int GetSortedConnectionList(ConnectionSortStruct **list, cifsSortType sortType);

namespace kel2cifs {

// GetSortedConnectionList, also storing through *listingStatus (when not null) the status the
// library's listing returned.
int ListConnections(ConnectionSortStruct **list, cifsSortType sortType, int *listingStatus);

}  // namespace kel2cifs

// Sorts *list ascending by the key of sortType (1 connNumber, 2 and 6 userName byte-wise as
// strcmp, 3 loginTime, 4 bytesReadWritten, 5 requestCount; every number in its full width),
// relinking nodes, and returns the new head, also stored through list. The front half of a list
// holds ceil(n/2) nodes and a front node goes first only when its key is strictly less, so nodes
// with equal keys come out back half first (the sort is not stable). A sort type outside 1 to 6
// has no key that is less: each merge then takes the back half first. Nesting grows with log2
// of the length only; a scratch array of 24 bytes per node is used when it can be allocated
// (plugin/list_sort.h).
ConnectionSortStruct *mergesort(ConnectionSortStruct **list, cifsSortType sortType);

// Cuts list after its first ceil(n/2) nodes: *front is list, *back the rest (null for a list of
// fewer than two nodes).
void split_the_list(ConnectionSortStruct *list, ConnectionSortStruct **front,
                    ConnectionSortStruct **back);

// Merges the sorted lists a and b and returns the head: a's head goes first only when its key is
// strictly less than b's. Iterative: any length merges in constant stack.
ConnectionSortStruct *merge(ConnectionSortStruct *a, ConnectionSortStruct *b,
                            cifsSortType sortType);

namespace kel2cifs {

// Frees every node of list.
void FreeConnectionList(ConnectionSortStruct *list);

}  // namespace kel2cifs

// Builds a new record from info and stores it through *details. The number comes from info;
// connNumber is not used. Returns 0; kNoConnectionList when info is null and kConnOutOfMemory
// when the record cannot be allocated (*details is not touched then).
int GetConnInfo(unsigned long connNumber, const UserInfo_s *info, CIFSConnectionDetails **details);

#endif  // KEL2CIFS_CONNECTIONS_CONNECTION_LIST_H
