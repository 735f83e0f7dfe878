// file_viewer.h: the console's file viewer, which shows files of the log directory as text.
//
// A page links a file as its absolute path followed by "?VIEW". Such a file is shown only when it
// is a regular file whose resolved path (every symbolic link followed) lies inside the resolved
// log directory. A path with a "." or ".." component is refused outright, whatever it resolves to.
#ifndef KEL_CONSOLE_FILE_VIEWER_H
#define KEL_CONSOLE_FILE_VIEWER_H

#include <cstdint>
#include <string>
#include <string_view>

namespace kel::console {

// The query that asks for the file viewer.
inline constexpr char kViewQuery[] = "VIEW";

// The plug-ins' log directory: $KEL2CIFS_ROOT/var/opt/zantio/log when KEL2CIFS_ROOT is set (and
// not empty), else /var/opt/zantio/log.
std::string DefaultLogDirectory();

// Opens `path` (the decoded request path) for reading when it may be shown. Returns the open
// descriptor (the caller closes it) and its size in *size, or -1 when the file is not to be shown.
int OpenViewableFile(std::string_view logDirectory, std::string_view path, std::uint64_t *size);

}  // namespace kel::console

#endif  // KEL_CONSOLE_FILE_VIEWER_H
