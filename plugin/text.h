// text.h: reading and filling the fixed-size text fields of records.
#ifndef KEL2CIFS_PLUGIN_TEXT_H
#define KEL2CIFS_PLUGIN_TEXT_H

#include <cstddef>
#include <cstring>
#include <string_view>

namespace kel2cifs {

// The text of a fixed-size record field: up to its first NUL, never past the array.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N));
}

// Null-safe view of a NUL-terminated text.
inline std::string_view TextOf(const char *text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

// Copies at most N - 1 characters of text into field and terminates it.
template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text) {
    static_assert(N > 0);
    const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_TEXT_H
