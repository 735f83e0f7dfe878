// tokens.h: API tokens, which let scripts read the console's data without a login.
//
// A token is "kel_" followed by 64 lower-case hexadecimal digits: 256 bits from the kernel's
// random source (getrandom). It is shown once, when it is made; the token file keeps only its
// SHA-256 (GnuTLS), which is enough for a secret that random. The token file lies beside the
// account file ("tokens" in its directory) and holds one token a line,
// "NAME:SHA256:ACCESS:CREATED:HINT": the name (an account name's characters), the hash as 64
// hexadecimal digits, the access word (0x0000000b for the administrator role, 0x00000009 for the
// reader), the time it was made (seconds since the epoch) and the token's last four characters,
// which tell tokens apart in a list. Empty lines and lines starting with "#" are ignored. It is
// written like the account file: whole, mode 0600, under a lock file beside it.
#ifndef KEL_CONSOLE_TOKENS_H
#define KEL_CONSOLE_TOKENS_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kel::console {

inline constexpr char kTokenPrefix[] = "kel_";
inline constexpr std::size_t kTokenRandomBytes = 32;
inline constexpr std::size_t kTokenLength = 4 + 2 * kTokenRandomBytes;
inline constexpr std::size_t kTokenHintLength = 4;
inline constexpr char kTokenFileName[] = "tokens";

struct ApiToken {
    std::string name;
    std::string hash;  // SHA-256 of the token, 64 lower-case hexadecimal digits
    unsigned int access = 0;
    std::int64_t created = 0;
    std::string hint;  // the token's last four characters
};

// The token file of an account file: "tokens" in its directory.
std::string TokenFileFor(const std::string &accountFile);
// The SHA-256 of `token` as 64 lower-case hexadecimal digits, or empty when hashing failed.
std::string HashToken(std::string_view token);
// True when both texts are equally long and equal, in a time that depends on their length only.
bool EqualInConstantTime(std::string_view a, std::string_view b);

bool ParseTokens(std::string_view text, std::vector<ApiToken> *tokens, std::string *error);
std::string FormatTokens(const std::vector<ApiToken> &tokens);
// Reads the token file; a missing file holds no tokens.
bool LoadTokenFile(const std::string &path, std::vector<ApiToken> *tokens, std::string *error);

// Makes a token `name` with `access` and stores its hash: the token in *token. Refused when the
// name is taken or is no account name.
bool CreateToken(const std::string &path, std::string_view name, unsigned int access,
                 std::string *token, std::string *error);
// Removes token `name`; false with *error when there is none.
bool RevokeToken(const std::string &path, std::string_view name, std::string *error);

// The tokens of a file as the console checks requests against them: the file is read again
// whenever its stat changed (as AccountStore does), so a revoked token is refused at once. A
// file that cannot be read or parsed holds no tokens until it reads again. Thread-safe.
class TokenStore {
  public:
    explicit TokenStore(std::string path);
    // The token whose hash `presented` has, or none.
    std::optional<ApiToken> Find(std::string_view presented);

  private:
    void ReloadIfChanged();

    std::mutex mutex_;
    std::string path_;
    std::vector<ApiToken> tokens_;
    struct stat identity_ {};
    bool loaded_ = false;
    bool recent_ = false;
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_TOKENS_H
