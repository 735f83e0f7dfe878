// http_text.h: the console's pure text functions on request paths and form data.
//
// These are the host operations ConvertToComponentPath, HttpFindNameAndValue and HttpUnConvertName
// of kel/host.h (declared there, extern "C"); any host library links this one definition of them.
// Each is bounded by its contract whatever the input: it never reads past the terminator of a text
// it is given (nor past `length` bytes for HttpUnConvertName) and never writes past the capacity
// its caller states. A null argument is treated as an empty or missing input, never dereferenced.
#ifndef KEL_CONSOLE_HTTP_TEXT_H
#define KEL_CONSOLE_HTTP_TEXT_H

#include "kel/host.h"

namespace kel {

// The longest component ConvertToComponentPath can write: its length must fit in one byte.
inline constexpr int kMaxComponentLength = 255;

// Results of HttpFindNameAndValue other than 0 (found and copied).
inline constexpr int kFieldMissing = 1;       // no field of that name, or no form data at all
inline constexpr int kFieldValueTooLong = 2;  // found, but the value and its terminator do not fit

}  // namespace kel

// ConvertToComponentPath(path): path must point at a "/"; anything else (null, empty, another
// first byte) returns -1 and changes nothing. A path holding more components than an int counts
// returns -1 as well.
//
// HttpFindNameAndValue(formData, name, value, &length): fields are separated by "&"; a field's
// name runs to its first "=" (a field without one has an empty value); empty fields are skipped.
// Only the first field of that name is considered. When *length is at least 1, value is left
// empty on every failure; *length is changed only on success. Returns kFieldMissing, or
// kFieldValueTooLong (also when value or length is null or *length is below 1).
//
// HttpUnConvertName(encoded, output, length): decoding stops early at a terminator inside the
// first `length` bytes. A "%" whose two hex digits would lie past that end is copied as it is.
// A length below 1 or a null `encoded` gives an empty output; a null output returns 0.

#endif  // KEL_CONSOLE_HTTP_TEXT_H
