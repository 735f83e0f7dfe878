// password_hash.h: the console's password hashes (yescrypt, made by libcrypt) and the random
// passwords it hands out.
#ifndef KEL_CONSOLE_PASSWORD_HASH_H
#define KEL_CONSOLE_PASSWORD_HASH_H

#include <cstddef>
#include <string>
#include <string_view>

namespace kel::console {

// Passwords set with `kelconsole passwd` are at least this long; the generated one is longer.
inline constexpr std::size_t kMinPasswordLength = 8;
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

}  // namespace kel::console

#endif  // KEL_CONSOLE_PASSWORD_HASH_H
