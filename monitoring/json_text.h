// json_text.h: reading JSON whose texts may hold bytes that are not UTF-8.
//
// A file name is any bytes. A server may report one that is not UTF-8, and the demo state file
// keeps such a name with its bytes as they are (such a file is then not strict JSON). The JSON
// reader refuses a whole document for one such byte, so a document is read in three steps:
// MarkForeignBytes rewrites it so that the reader accepts it, the reader parses that, and every
// text taken from the result gets its own bytes back through UnmarkForeignBytes.
//
// The marking, inside string literals only: a byte that is not part of well-formed UTF-8 becomes
// the escape \u0000 followed by the byte's two hexadecimal digits, and a \u0000 escape of the
// document becomes \u0000\u0000. A text read from a marked document therefore holds a NUL only
// as the start of one of these pairs; a document without either needs no marking.
#ifndef CIFSMONITORING_JSON_TEXT_H
#define CIFSMONITORING_JSON_TEXT_H

#include <string>
#include <string_view>

namespace cifsmon {

// Stores the marked document in *marked and returns true; returns false, leaving *marked alone,
// when the document needs no marking (it is read as it is). Bytes outside string literals are
// copied unchanged, so that a document that is not JSON stays so.
[[nodiscard]] bool MarkForeignBytes(std::string_view document, std::string *marked);

// Gives a text read from a (marked or unmarked) document its bytes back: NUL and two
// hexadecimal digits become that byte, NUL NUL one NUL. A text without NUL is unchanged.
void UnmarkForeignBytes(std::string *text);

}  // namespace cifsmon

#endif  // CIFSMONITORING_JSON_TEXT_H
