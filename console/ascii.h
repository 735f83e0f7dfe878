// ascii.h: the console's character helpers for protocol text (header names, host names, percent
// escapes). They know ASCII only: every other byte is left as it is and compares as itself,
// whatever the process's locale.
#ifndef KEL_CONSOLE_ASCII_H
#define KEL_CONSOLE_ASCII_H

#include <cstdio>
#include <string>
#include <string_view>

namespace kel::console {

// The value of a hexadecimal digit (either case), or -1.
int HexValue(char c);

// `text` with A to Z made lower case.
std::string LowerAscii(std::string_view text);

// Whether the texts are equal once A to Z are made lower case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// `text` with every control byte (below 0x20, and 0x7F) written as an escape: "\\r", "\\n", "\\t",
// "\\e" or "\\xHH". A message built from untrusted text (a path, a host name, a file name) then
// stays one line and cannot move or recolour a terminal.
std::string Printable(std::string_view text);

// Writes "kelconsole: ", the text made printable and a newline to `stream` in one call.
void Say(std::FILE *stream, std::string_view text);

}  // namespace kel::console

#endif  // KEL_CONSOLE_ASCII_H
