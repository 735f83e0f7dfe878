// url.h: the request target as the console reads it.
//
// The server receives the target exactly as the client sent it. The path (before the first "?")
// is percent-decoded here, %XX only: "+" stays "+", and a "%" without two hexadecimal digits
// after it stays as it is. The query is kept as it came.
#ifndef KEL_CONSOLE_URL_H
#define KEL_CONSOLE_URL_H

#include <string>
#include <string_view>

namespace kel::console {

struct Target {
    std::string path;   // raw path, up to the first "?"
    std::string query;  // raw text after the "?"
    bool hasQuery = false;
};

// Splits an origin-form target ("/path?query"); false when it does not start with "/".
bool SplitTarget(std::string_view target, Target *out);

// Results of DecodePath besides 0 (decoded): HTTP statuses, as the console answers them.
inline constexpr int kDecodedNul = 400;        // a %00 in the path
inline constexpr int kComponentTooLong = 414;  // a component of more than 255 decoded bytes

// Percent-decodes the raw path into *decoded. Returns 0, kDecodedNul or kComponentTooLong (then
// *decoded is unspecified). Components are the texts between "/" characters of the decoded path.
int DecodePath(std::string_view rawPath, std::string *decoded);

// `text` with every byte outside the unreserved set (letters, digits, "-", ".", "_", "~") and "/"
// written as %XX, for a URL's query value.
std::string PercentEncode(std::string_view text);

// True for a redirect target that stays on this console: "/..." but not "//..." or "/\...",
// with no control characters or blanks.
bool IsLocalTarget(std::string_view target);

}  // namespace kel::console

#endif  // KEL_CONSOLE_URL_H
