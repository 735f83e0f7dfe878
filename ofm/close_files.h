// close_files.h: closing the open files named in a posted close form, shared by the open-file
// and connection pages.
#ifndef KEL2CIFS_OFM_CLOSE_FILES_H
#define KEL2CIFS_OFM_CLOSE_FILES_H

#include <cstddef>

namespace kel2cifs {

// Tags around each path of a close list: a checked FILENAME checkbox posts
// "<filename>" + path + "</filename>".
inline constexpr char kFileNameOpenTag[] = "<filename>";
inline constexpr char kFileNameCloseTag[] = "</filename>";
// Capacity of the name handed to the close call, terminator included: a longer name is cut.
inline constexpr std::size_t kCloseNameSize = 512;

}  // namespace kel2cifs

// Closes, in order, every file named between "<filename>" and the next "</filename>" of data
// (decoded form data; everything outside the tags is ignored; a path may hold any text but
// "</filename>"). A failed close is logged and the next name is tried. Scanning stops at an
// opening tag without its closing tag. Null or empty data closes nothing. Returns 0.
int parseDataToCloseCIFSFiles(const char *data);

// Closes the file at path on the server for every connection holding it open. Returns the
// monitoring library's status: 0 when closed.
int closeCIFSFiles(const char *path);

#endif  // KEL2CIFS_OFM_CLOSE_FILES_H
