// sort.h: ordering an open-file list, and the sortable column headings of the open-files table.
//
// The merge sort's order is part of the page: the front half of a list holds ceil(n/2) nodes and
// a front node goes first only when its key is strictly less, so nodes with equal keys come out
// back half first (the sort is not stable), and a sort type without keys reverses the list.
// Sorting relinks nodes; it never allocates, copies or frees one (it may use a scratch array of
// pointers to them, list_sort.h, text_sort.h).
#ifndef KEL2CIFS_OFM_SORT_H
#define KEL2CIFS_OFM_SORT_H

#include "ofm/open_files.h"
#include "plugin/sort_type.h"

namespace kel2cifs {

// URL keywords of the open-file sort types, matched without regard to case.
inline constexpr char kSortKeywordConnectionNumber[] = "ConnectionNumber";
inline constexpr char kSortKeywordUserName[] = "UserName";
inline constexpr char kSortKeywordFileName[] = "FileName";

}  // namespace kel2cifs

// Sorts *list ascending by the key of sortType (1 connNumber, 2 userName, 3 fileName, byte-wise
// as strcmp) and returns the new head, also stored through list.
OpenFileInfo *SortOpenFilesTable(OpenFileInfo **list, cifsSortType sortType);

// Sorts *list in place and stores the new head through list; a null or one-node list is left as
// it is. Stack use grows with log2 of the length only. Memory for a scratch array is taken when
// it can be (24 bytes a node by number, list_sort.h; 32 by user or path, text_sort.h); without
// it, and for the traced sort by path, the nodes are merged in place.
void mergesortFile(OpenFileInfo **list, cifsSortType sortType);

// Cuts list after its first ceil(n/2) nodes: *front is list, *back the rest (null for a list of
// fewer than two nodes).
void split_the_File_list(OpenFileInfo *list, OpenFileInfo **front, OpenFileInfo **back);

// Merges the sorted lists a and b and returns the head: a's head goes first only when its key is
// strictly less than b's. For a sort type outside 1 to 3 no key is less, so b's nodes come
// first. Iterative: any length merges in constant stack. Sort type 3 logs every comparison.
OpenFileInfo *mergeFile(OpenFileInfo *a, OpenFileInfo *b, cifsSortType sortType);

// "UserName" for 2, "FileName" for 3, "ConnectionNumber" for any other value.
const char *getSortTypeString(cifsSortType sortType);

// Writes the three sortable heading cells of the open-files table and the end of the heading
// row, each linking to the volume's sort URL, the column of sortType marked as sorted. Writes
// nothing for a sort type outside 1 to 3.
void setSortImage(void *request, cifsSortType sortType, const char *volumeName);

// An insertion sort by connNumber for sort types 1 to 3 (equal numbers end in reverse order of
// arrival); any other sort type returns the list as it is. Returns the new head. No page uses it.
OpenFileInfo *SortOpenFileList(OpenFileInfo *list, cifsSortType sortType);

#endif  // KEL2CIFS_OFM_SORT_H
