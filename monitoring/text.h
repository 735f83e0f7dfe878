// text.h: bounded copies of texts into the records' fixed arrays, and ASCII case for the names
// the server's tools print (shares, domains, parameters).
#ifndef CIFSMONITORING_TEXT_H
#define CIFSMONITORING_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace cifsmon {

// The longest prefix of text that fits an array of `size` bytes with its terminator, shortened
// further so that it never ends inside a UTF-8 sequence (a page shows a shorter name rather than
// a broken character). REQUIRES: size >= 1.
std::string_view CutToFit(std::string_view text, std::size_t size);

// Copies CutToFit(text, size) into destination and zero-fills the rest of the array, so that it
// is terminated and holds no stale bytes.
void CopyText(char *destination, std::size_t size, std::string_view text);

// The length of the well-formed UTF-8 sequence that begins at text[at] (1 for an ASCII byte), or
// 0 when none begins there: a stray continuation byte, an overlong form, a surrogate, a value
// past U+10FFFF or a sequence cut short. REQUIRES: at < text.size().
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// A malloc'ed, terminated copy of text; null when the allocation fails.
char *DuplicateText(std::string_view text);

// Case changes of A to Z and a to z only: every other byte (those of UTF-8 names among them) stays
// as it is and compares as itself, whatever the process's locale.
std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace cifsmon

#endif  // CIFSMONITORING_TEXT_H
