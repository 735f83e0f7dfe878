// sort_type.h: the sort order of a list page, chosen by a URL keyword.
#ifndef KEL2CIFS_PLUGIN_SORT_TYPE_H
#define KEL2CIFS_PLUGIN_SORT_TYPE_H

// Value 1 ("ConnectionNumber") is common to the open-file and the connection pages and is the
// default whenever a request names no sort keyword. The open-file values are below; the
// connection pages give 2 to 6 meanings of their own, so any int is a valid value here.
enum cifsSortType : int {
    kSortByConnectionNumber = 1,  // "ConnectionNumber"
    kSortByUserName = 2,          // "UserName"
    kSortByFileName = 3,          // "FileName"
};

#endif  // KEL2CIFS_PLUGIN_SORT_TYPE_H
