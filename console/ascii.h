// ascii.h: the console's character helpers for protocol text (header names, host names, percent
// escapes). They know ASCII only: every other byte is left as it is and compares as itself,
// whatever the process's locale.
#ifndef KEL_CONSOLE_ASCII_H
#define KEL_CONSOLE_ASCII_H

#include <string>
#include <string_view>

namespace kel::console {

// The value of a hexadecimal digit (either case), or -1.
int HexValue(char c);

// `text` with A to Z made lower case.
std::string LowerAscii(std::string_view text);

// Whether the texts are equal once A to Z are made lower case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace kel::console

#endif  // KEL_CONSOLE_ASCII_H
