// password_hash.h: the console's password hashes (yescrypt, made by libcrypt) and the random
// passwords it hands out.
#ifndef KEL_CONSOLE_PASSWORD_HASH_H
#define KEL_CONSOLE_PASSWORD_HASH_H

#include <cstddef>
#include <string>
#include <string_view>

namespace kel::console {

// Passwords set with `kelconsole passwd` are at least this long; the generated one is longer.
inline constexpr std::size_t kMinPasswordLength = 12;
inline constexpr std::size_t kMaxPasswordLength = 1024;
inline constexpr std::size_t kGeneratedPasswordLength = 20;

// Whether the password can be hashed at all: 1 to kMaxPasswordLength bytes, no NUL byte.
bool IsUsablePassword(std::string_view password);

// A yescrypt hash of the password with a fresh random salt; empty on failure.
std::string HashPassword(std::string_view password);
// True when the password matches the hash (compared in constant time).
bool VerifyPassword(std::string_view password, const std::string &hash);
// A password of `length` characters drawn from the kernel's random source; empty on failure.
std::string RandomPassword(std::size_t length = kGeneratedPasswordLength);

// Why the password is too weak for `account` (libpwquality's reason, such as "The password is a
// palindrome"), or empty when it is strong enough. The settings are fixed here and no
// pwquality.conf is read, so a password is judged alike on every machine: at least
// kMinPasswordLength characters, at most 3 same characters in a row, no monotonic sequence over 4
// characters, not a palindrome, not holding the account name, not based on a word of cracklib's
// dictionary. Without that dictionary (Debian's cracklib-runtime) every password is refused, with
// a reason that says so.
std::string PasswordWeakness(std::string_view password, std::string_view account);
// A RandomPassword() that PasswordWeakness accepts for `account`; empty on failure.
std::string RandomStrongPassword(std::string_view account);

}  // namespace kel::console

#endif  // KEL_CONSOLE_PASSWORD_HASH_H
