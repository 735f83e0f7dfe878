// open_files.h: the open files of one CIFS volume as the plug-in's own list, with the extension
// filter, and three exported sample functions no page calls.
//
// Ownership: GetOpenFileList hands its nodes to the caller, who frees each with free() (or the
// whole chain with FreeOpenFileList). The monitoring library's records never leave the call.
#ifndef KEL2CIFS_OFM_OPEN_FILES_H
#define KEL2CIFS_OFM_OPEN_FILES_H

#include <cstddef>
#include <cstdint>

namespace kel2cifs {

// Field sizes, terminator included: a user name of at most 255 characters, a path of at most
// 511 (a longer one is cut to fit and marked, see FittedName), a filter of at most 255.
inline constexpr std::size_t kUserNameSize = 256;
inline constexpr std::size_t kFileNameSize = 512;
inline constexpr std::size_t kFilterSize = 256;
// Field sizes of the sample volume list, terminator included.
inline constexpr std::size_t kSampleVolumeNameSize = 65;
inline constexpr std::size_t kSampleVolumeDescriptionSize = 257;

}  // namespace kel2cifs

// One open file. A connection holding several files of the volume open yields one node per
// file, each repeating its connection number and user name.
struct OpenFileInfo {
    uint16_t connNumberAlt;  // the same as connNumber; no page reads it
    uint16_t connNumber;     // the connection holding the file: shown, linked and sorted on
    char userName[kel2cifs::kUserNameSize];
    char fileName[kel2cifs::kFileNameSize];
    // The server's name was longer than fileName holds: fileName is its start, cut at a UTF-8
    // character boundary, followed by the cut mark (kel2cifs::kCutMark), which the close call
    // resolves. (Kept in the padding before next: the node's size is unchanged.)
    bool nameCut;
    OpenFileInfo *next;
};

// Builds the list of the files open on volumeName, in the library's order (records in list
// order, each record's names in array order), keeping only those that pass filter (never null;
// see NameCompare), and stores its head through *list (null when no file qualifies). Returns 0;
// -1 when the library cannot list the volume or a node cannot be allocated, and then nothing is
// stored through list, which the caller therefore initialises to null.
//
// A filter is active unless it is a prefix of "*.*" (the empty text, "*", "*." and "*.*" keep
// every file, and NameCompare is never called for them); any filter of four or more characters
// is active.
int GetOpenFileList(const char *volumeName, OpenFileInfo **list, const char *filter);

namespace kel2cifs {

// GetOpenFileList, also storing through *listingStatus (when not null) the status of the
// library's listing: non-zero when -1 is returned because the library could not list the volume,
// 0 otherwise (a node that cannot be allocated also returns -1).
int ListOpenFiles(const char *volumeName, OpenFileInfo **list, const char *filter,
                  int *listingStatus);

}  // namespace kel2cifs

// 0 when the extension part of fileName (the text after its last ".", or the whole text without
// one, so "/vol.1/README" gives "1/README") equals that of filter (the filter from its third
// character on: "*.doc" and "x.doc" both give "doc"; a filter of fewer than two characters gives
// the empty text), byte for byte and case-sensitively; non-zero otherwise (the sign carries no
// meaning). Writes its closing trace line to standard output.
int NameCompare(const char *fileName, const char *filter);

// 1 when a and b are equal, or when one is a prefix of the other and the longer continues with
// "/" right where the shorter ends ("/vol/dir" and "/vol/dir/file"); else 0. Case-sensitive.
int path_check(const char *a, const char *b);

// Sample volume list (no page uses it).
struct CIFSVolumeNode {
    char name[kel2cifs::kSampleVolumeNameSize];                // at most 64 characters
    char description[kel2cifs::kSampleVolumeDescriptionSize];  // at most 256 characters
    CIFSVolumeNode *next;
};

struct CIFSVolumeList {
    int32_t count;  // 2, although the chain holds three nodes
    CIFSVolumeNode *first;
};

// A new zero-filled node holding name and description (cut at 64 and 256 characters; null is
// the empty text) and a null next; null when it cannot be allocated. Freed with free().
CIFSVolumeNode *getVolumeNode(const char *name, const char *description);

// Stores through *list a new list of three sample volumes: "SYS" ("SYS Volume"), "VOLA"
// ("VOLUMEA"), "VOLBVOLAVOLAVADASDDS" ("VOLUMEB"), with count 2. Returns 0 (a node that cannot
// be allocated ends the chain early; a header that cannot be allocated stores null).
int GetVolumeList(CIFSVolumeList **list);

namespace kel2cifs {

// Frees every node of list.
void FreeOpenFileList(OpenFileInfo *list);

// Frees a list of GetVolumeList: its header and every node.
void FreeCIFSVolumeList(CIFSVolumeList *list);

}  // namespace kel2cifs

#endif  // KEL2CIFS_OFM_OPEN_FILES_H
