#include "ofm/sort.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "kel/host.h"
#include "plugin/html.h"
#include "plugin/list_sort.h"
#include "plugin/pages.h"
#include "plugin/text_sort.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// True when a's key is strictly less than b's.
bool KeyLess(const OpenFileInfo *a, const OpenFileInfo *b, cifsSortType sortType) {
    switch (sortType) {
        case kSortByConnectionNumber:
            return a->connNumber < b->connNumber;
        // strncmp compares as unsigned bytes, like strcmp, and never reads past the field.
        case kSortByUserName:
            return std::strncmp(a->userName, b->userName, sizeof(a->userName)) < 0;
        case kSortByFileName: {
            bool less = std::strncmp(a->fileName, b->fileName, sizeof(a->fileName)) < 0;
            KEL2CIFS_TRACE(debug, "les = %d , left = %s\n , right = %s\n", less ? 1 : 0,
                           a->fileName, b->fileName);
            return less;
        }
        default:
            return false;
    }
}

constexpr char kSortedImage[] = "sorted.png";
constexpr char kUnsortedImage[] = "sortdown.png";

}  // namespace

OpenFileInfo *SortOpenFilesTable(OpenFileInfo **list, cifsSortType sortType) {
    KEL2CIFS_TRACE(debug, "calling mergesort");
    mergesortFile(list, sortType);
    return *list;
}

void mergesortFile(OpenFileInfo **list, cifsSortType sortType) {
    OpenFileInfo *head = *list;
    if (head == nullptr || head->next == nullptr) {
        return;
    }
    // A traced comparison writes one line per pair compared: those pairs are the nodes'.
    const bool traced = sortType == kSortByFileName && trace::Enabled(kLevelDebug);
    const bool byText = sortType == kSortByUserName || sortType == kSortByFileName;
    if (!traced) {
        if (byText) {
            // Text keys by their bytes, a shared beginning read once.
            const bool byUser = sortType == kSortByUserName;
            if (text_sort::SortList(list, [byUser](const OpenFileInfo *node) {
                    return byUser ? FieldText(node->userName) : FieldText(node->fileName);
                })) {
                return;
            }
        } else {
            // Connection numbers are whole in their words; for a sort type without keys every
            // word is 0 and every pair a tie.
            list_sort::EntryArray<OpenFileInfo> entries;
            const bool numbered = sortType == kSortByConnectionNumber;
            if (entries.Collect(head, [numbered](const OpenFileInfo *node) -> uint64_t {
                    return numbered ? node->connNumber : 0;
                })) {
                *list = list_sort::SortEntries<true>(
                    entries, [sortType](const OpenFileInfo *a, const OpenFileInfo *b) {
                        return KeyLess(a, b, sortType);
                    });
                return;
            }
        }
    }
    // Traced, or without memory for the entries: the nodes themselves are split and merged.
    std::size_t count = 0;
    for (const OpenFileInfo *node = head; node != nullptr; node = node->next) {
        ++count;
    }
    auto merge = [sortType](OpenFileInfo *a, OpenFileInfo *b) { return mergeFile(a, b, sortType); };
    *list = list_sort::SortLinkedRun(&head, count, merge);
}

void split_the_File_list(OpenFileInfo *list, OpenFileInfo **front, OpenFileInfo **back) {
    list_sort::Split(list, front, back);
}

OpenFileInfo *mergeFile(OpenFileInfo *a, OpenFileInfo *b, cifsSortType sortType) {
    return list_sort::Merge(a, b, [sortType](const OpenFileInfo *x, const OpenFileInfo *y) {
        return KeyLess(x, y, sortType);
    });
}

const char *getSortTypeString(cifsSortType sortType) {
    switch (sortType) {
        case kSortByUserName:
            return kSortKeywordUserName;
        case kSortByFileName:
            return kSortKeywordFileName;
        default:
            return kSortKeywordConnectionNumber;
    }
}

void setSortImage(void *request, cifsSortType sortType, const char *volumeName) {
    if (sortType < kSortByConnectionNumber || sortType > kSortByFileName) {
        return;
    }
    auto image = [sortType](cifsSortType column) {
        return column == sortType ? kSortedImage : kUnsortedImage;
    };
    UrlPathText volume(volumeName);
    HttpSendDataSprintf(
        request,
        "<TD align=center>%s<A HREF=/cifsofm/ConnectionNumber/%s onclick=\"return "
        "sortedFilterFormSubmit(this);\"><img border=0 alt='%s' "
        "src='/opt/zantio/kel/%s'></a></TD><TD align=center>%s <A HREF=/cifsofm/UserName/%s "
        "onclick=\"return sortedFilterFormSubmit(this);\"><img border=0 alt='%s'   "
        "src='/opt/zantio/kel/%s'></a></TD><TD align=center>%s <A HREF=/cifsofm/FileName/%s "
        "onclick=\"return sortedFilterFormSubmit(this);\"><img border=0 alt='%s' "
        "src='/opt/zantio/kel/%s'></a></TD></TR>",
        lnxMSG("Connection"), volume.c_str(), lnxMSG("Sort By Connection"),
        image(kSortByConnectionNumber), lnxMSG("Username"), volume.c_str(),
        lnxMSG("Sort By Username"), image(kSortByUserName), lnxMSG("File Path"), volume.c_str(),
        lnxMSG("Sort By File Path"), image(kSortByFileName));
}

OpenFileInfo *SortOpenFileList(OpenFileInfo *list, cifsSortType sortType) {
    if (list == nullptr || list->next == nullptr) {
        return list;
    }
    if (sortType < kSortByConnectionNumber || sortType > kSortByFileName) {
        return list;
    }
    OpenFileInfo *result = list;
    OpenFileInfo *rest = list->next;
    result->next = nullptr;
    while (rest != nullptr) {
        OpenFileInfo *node = rest;
        rest = rest->next;
        OpenFileInfo **place = &result;
        while (*place != nullptr && (*place)->connNumber < node->connNumber) {
            place = &(*place)->next;
        }
        node->next = *place;
        *place = node;
    }
    return result;
}
