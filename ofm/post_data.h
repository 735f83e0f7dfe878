// post_data.h: URL-decoding a posted form body as one text, shared by the open-file and
// connection pages.
#ifndef KEL2CIFS_OFM_POST_DATA_H
#define KEL2CIFS_OFM_POST_DATA_H

namespace kel2cifs {

// Result of decodePostDataString when the decoded text cannot be allocated (ENOMEM).
inline constexpr int kDecodeOutOfMemory = 12;

}  // namespace kel2cifs

// Decodes the first `length` bytes of data (stopping early at a NUL) into a new heap text of
// n + 1 bytes, n being the number of those bytes before the first NUL (so `length` itself when
// there is none), stored through *decoded, which the caller frees with free(). "+" becomes a
// blank; "%" and up to two following hexadecimal digits become the byte they spell (no digits:
// a zero byte); "&" and "=" are decoded like any other byte, so later steps search the decoded
// text as a whole. A zero byte written by "%00" ends the decoded text for every later use.
// Returns 0; or kDecodeOutOfMemory with *decoded null. A null data decodes as the empty text.
int decodePostDataString(const char *data, unsigned long length, char **decoded);

#endif  // KEL2CIFS_OFM_POST_DATA_H
