// close_files.h: closing the open files named in a posted close form, shared by the open-file
// and connection pages, and how a close form carries a name.
#ifndef KEL2CIFS_OFM_CLOSE_FILES_H
#define KEL2CIFS_OFM_CLOSE_FILES_H

#include <cstddef>
#include <string>
#include <string_view>

#include "cifsmonitoring/failure.h"

namespace kel2cifs {

// Tags around each name of a close list: a checked FILENAME checkbox posts
// "<filename>" + carried name + "</filename>".
inline constexpr char kFileNameOpenTag[] = "<filename>";
inline constexpr char kFileNameCloseTag[] = "</filename>";
// Capacity of the name handed to the close call, terminator included: the monitoring interface
// takes at most 511 bytes. A longer name is shown and offered cut to fit (FittedName); a longer
// posted one is refused rather than cut (only the plug-in cuts names, and marks them).
inline constexpr std::size_t kCloseNameSize = 512;

// The mark that ends a name cut to fit. The monitoring library closes a name that ends with it
// and names no open file as the one open file whose name begins with the text before it, and
// refuses it as ambiguous when several do.
inline constexpr std::string_view kCutMark = CIFSMON_CUT_MARK;

// Whether the close call can take name: at most kCloseNameSize - 1 bytes.
inline bool IsClosableName(std::string_view name) {
    return name.size() < kCloseNameSize;
}

// How many bytes of the start of a name too long for the close call stay before kCutMark: the
// most that fit kCloseNameSize - 1 bytes with the mark, never ending inside a well-formed UTF-8
// sequence (a byte that is not part of one counts alone). Reads at most kCloseNameSize bytes.
std::size_t CutNameLength(std::string_view name);

// The name as pages show it and close forms carry it: the name itself when the close call can
// take it, else its start of CutNameLength bytes followed by kCutMark.
std::string FittedName(std::string_view name);

// The name as a close form carries it between the tags: every "%", "<", CR, LF and every byte
// that is not part of well-formed UTF-8 as %XX (upper-case hex), the rest as it is. A browser
// posts such a value back byte for byte (it would turn a line break into CR LF and a byte that
// is not UTF-8 into U+FFFD), and once the body is decoded the carried name holds no "<" that
// could form a tag. A name without those bytes is carried as it is.
std::string EncodeCloseName(std::string_view name);

// The value of a close form's FILENAME field for name, "<filename>...</filename>" without the
// tags: EncodeCloseName, escaped for an attribute value. Refers to the original when nothing
// needs changing, so that pages of plain names stay as they were.
class CloseNameValue {
  public:
    explicit CloseNameValue(const char *name);
    CloseNameValue(const CloseNameValue &) = delete;
    CloseNameValue &operator=(const CloseNameValue &) = delete;

    const char *c_str() const { return plain_ != nullptr ? plain_ : value_.c_str(); }

  private:
    const char *plain_ = nullptr;
    std::string value_;
};

}  // namespace kel2cifs

// Closes, in order, every file named between "<filename>" and the next "</filename>" of data
// (decoded form data; everything outside the tags is ignored). The text between the tags is a
// carried name (EncodeCloseName) and is percent-decoded once more; a text with a "%" not followed
// by two hexadecimal digits, one that decodes to a NUL byte, or a name longer than 511 bytes is
// refused (logged, nothing closed for it). A failed close is logged and the next name is tried.
// What each close did is noted for the page that follows (NoteCloseResult).
// Scanning stops at an opening tag without its closing tag. Null or empty data closes nothing.
// Returns 0.
int parseDataToCloseCIFSFiles(const char *data);

// Closes the file at path on the server for every connection holding it open. Returns the
// monitoring library's status: 0 when closed.
int closeCIFSFiles(const char *path);

#endif  // KEL2CIFS_OFM_CLOSE_FILES_H
