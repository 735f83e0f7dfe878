#include "connections/connection_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ofm/time_text.h"
#include "plugin/html.h"
#include "plugin/list_sort.h"
#include "plugin/records.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// The login time as text, or 80 blanks when it cannot be converted; a list's rows share one
// converter, a single record takes none.
void FillLoginTimeText(uint64_t loginTime, char (&text)[kLoginTimeTextSize],
                       LocalTimeText *converter) {
    const unsigned long long time = loginTime;
    const int status =
        converter != nullptr ? converter->Convert(&time, text) : convertToTimeString(&time, text);
    if (status != 0) {
        KEL2CIFS_TRACE(debug, "convertToTimeString, Error in getting Time string");
        std::memset(text, ' ', kLoginTimeTextSize - 1);
    }
    text[kLoginTimeTextSize - 1] = '\0';
}

// True when a's key is strictly less than b's.
bool KeyLess(const ConnectionSortStruct *a, const ConnectionSortStruct *b, cifsSortType sortType) {
    // Switched as int: the enum names only the open-file pages' values.
    switch (static_cast<int>(sortType)) {
        case kSortByConnectionNumber:
            return a->connNumber < b->connNumber;
        case kSortByConnectionName:
        case kSortByConnectionType:
            // char_traits<char> compares as unsigned bytes, like strcmp.
            return FieldText(a->userName).compare(FieldText(b->userName)) < 0;
        case kSortByLoginTime:
            return a->loginTime < b->loginTime;
        case kSortByFSActivity:
            return a->bytesReadWritten < b->bytesReadWritten;
        case kSortByZupRequest:
            return a->requestCount < b->requestCount;
        default:
            return false;
    }
}

// The whole key of a numeric sort type, as a sort word; 0 for the name orders (their words come
// from the names) and for a sort type without keys.
uint64_t NumberKey(const ConnectionSortStruct *node, cifsSortType sortType) {
    switch (static_cast<int>(sortType)) {
        case kSortByConnectionNumber:
            return node->connNumber;
        case kSortByLoginTime:
            return node->loginTime;
        case kSortByFSActivity:
            return node->bytesReadWritten;
        case kSortByZupRequest:
            return node->requestCount;
        default:
            return 0;
    }
}

ConnectionSortStruct *NewNode(const ConnListNode &source, LocalTimeText &converter) {
    // Not zero-filled: every field is set below and each text is terminated.
    auto *node = static_cast<ConnectionSortStruct *>(std::malloc(sizeof(ConnectionSortStruct)));
    if (node == nullptr) {
        return nullptr;
    }
    node->next = nullptr;
    node->connNumber = source.connNumber;
    node->requestCount = source.requestCount;
    // Wraps only past 2^64 bytes moved.
    node->bytesReadWritten = source.bytesRead + source.bytesWritten;
    node->loginTime = source.loginTime;
    FillLoginTimeText(source.loginTime, node->loginTimeText, &converter);
    CopyField(node->connType, FieldText(source.connType));
    CopyField(node->userName, FieldText(source.userName));
    CopyField(node->netAddress, FieldText(source.netAddress));
    std::snprintf(node->loggedInMark, sizeof(node->loggedInMark), "%s",
                  node->userName[0] != '\0' ? kLoggedInMark : kNotLoggedInMark);
    return node;
}

}  // namespace

int GetSortedConnectionList(ConnectionSortStruct **list, cifsSortType sortType) {
    return ListConnections(list, sortType, nullptr);
}

int kel2cifs::ListConnections(ConnectionSortStruct **list, cifsSortType sortType,
                              int *listingStatus) {
    KEL2CIFS_TRACE(debug, "Enter GetSortedConnectionList");
    int count = 0;
    Held<ConnListNode, FreeConnListNodes> monitored;
    const int status = Ext_ListConnDetails(&count, monitored.out());
    if (listingStatus != nullptr) {
        *listingStatus = status;
    }
    if (status != 0) {
        KEL2CIFS_TRACE(debug, "Ext_ListConnDetails() has failed with error = %d", status);
    }
    if (monitored.get() == nullptr) {
        KEL2CIFS_TRACE(debug, "GetSortedConnectionList, Connection list is Empty");
        return kNoConnectionList;
    }

    ConnectionSortStruct *head = nullptr;
    ConnectionSortStruct **tail = &head;
    const ConnListNode *source = monitored.get();
    LocalTimeText converter;
    for (int i = 0; i < count && source != nullptr; ++i, source = source->next) {
        ConnectionSortStruct *node = NewNode(*source, converter);
        if (node == nullptr) {
            KEL2CIFS_TRACE(debug, "memory alloc failed in fun GetSortedConnectionList");
            FreeConnectionList(head);
            return kConnOutOfMemory;
        }
        *tail = node;
        tail = &node->next;
    }
    *list = head;
    mergesort(list, sortType);
    return 0;
}

ConnectionSortStruct *mergesort(ConnectionSortStruct **list, cifsSortType sortType) {
    ConnectionSortStruct *head = *list;
    if (head == nullptr || head->next == nullptr) {
        return head;
    }
    auto less = [sortType](const ConnectionSortStruct *a, const ConnectionSortStruct *b) {
        return KeyLess(a, b, sortType);
    };
    list_sort::EntryArray<ConnectionSortStruct> entries;
    if (!entries.Collect(head, [sortType](const ConnectionSortStruct *node) {
            return NumberKey(node, sortType);
        })) {
        // Without room for the entries the nodes themselves are split and merged.
        std::size_t count = 0;
        for (const ConnectionSortStruct *node = head; node != nullptr; node = node->next) {
            ++count;
        }
        auto mergeLists = [sortType](ConnectionSortStruct *a, ConnectionSortStruct *b) {
            return merge(a, b, sortType);
        };
        *list = list_sort::SortLinkedRun(&head, count, mergeLists);
        return *list;
    }
    if (static_cast<int>(sortType) == kSortByConnectionName ||
        static_cast<int>(sortType) == kSortByConnectionType) {
        list_sort::FillTextWords(
            entries.entries(), entries.count(),
            [](const ConnectionSortStruct *node) { return FieldText(node->userName); });
        *list = list_sort::SortEntries<false>(entries, less);
    } else {
        *list = list_sort::SortEntries<true>(entries, less);
    }
    return *list;
}

void split_the_list(ConnectionSortStruct *list, ConnectionSortStruct **front,
                    ConnectionSortStruct **back) {
    list_sort::Split(list, front, back);
}

ConnectionSortStruct *merge(ConnectionSortStruct *a, ConnectionSortStruct *b,
                            cifsSortType sortType) {
    return list_sort::Merge(
        a, b, [sortType](const ConnectionSortStruct *x, const ConnectionSortStruct *y) {
            return KeyLess(x, y, sortType);
        });
}

void kel2cifs::FreeConnectionList(ConnectionSortStruct *list) {
    while (list != nullptr) {
        ConnectionSortStruct *next = list->next;
        std::free(list);
        list = next;
    }
}

int GetConnInfo(unsigned long /*connNumber*/, const UserInfo_s *info,
                CIFSConnectionDetails **details) {
    KEL2CIFS_TRACE(debug, "Enter GetCoonInfo");
    if (info == nullptr) {
        KEL2CIFS_TRACE(debug, "GetCoonInfo, UserInfo is NULL");
        return kNoConnectionList;
    }
    auto *record =
        static_cast<CIFSConnectionDetails *>(std::calloc(1, sizeof(CIFSConnectionDetails)));
    if (record == nullptr) {
        KEL2CIFS_TRACE(debug, "memory alloc failed in fun GetCoonInfo");
        return kConnOutOfMemory;
    }
    CopyField(record->userName, FieldText(info->userName));
    record->connNumber = info->connNumber;
    record->openFileCount = info->openFileCount;
    CopyField(record->netAddress, FieldText(info->netAddress));
    record->loginTime = info->loginTime;
    FillLoginTimeText(info->loginTime, record->loginTimeText, nullptr);
    CopyField(record->loginStatus, FieldText(info->loginStatus));
    CopyField(record->privileges, FieldText(info->privileges));
    CopyField(record->connType, FieldText(info->connType));
    *details = record;
    return 0;
}
