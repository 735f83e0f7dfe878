// account_file.h: the console's accounts and the file that holds them.
//
// The account file holds one account a line, "NAME:HASH:ACCESS": the name (1 to 64 letters,
// digits, ".", "_" or "-"), the password hash (yescrypt, "$y$...", made by libcrypt) and the access
// word the console passes to service methods, as 0x followed by 8 hexadecimal digits. Empty lines
// and lines starting with "#" are ignored. The file is written whole (a temporary file in the
// same directory, fsync, rename) with mode 0600, under a lock file beside it ("FILE.lock"), so
// that a reader never sees half a file and two writers never lose each other's change.
#ifndef KEL_CONSOLE_ACCOUNT_FILE_H
#define KEL_CONSOLE_ACCOUNT_FILE_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kel/host_ext.h"

namespace kel::console {

// Access words: the administrator role (bits 0x8, 0x2, 0x1), the reader role (the
// administrator's without 0x2, the right to change things) and an account without rights.
inline constexpr unsigned int kAdministratorAccess = KEL_ACCESS_ADMIN;
inline constexpr unsigned int kReadAccess = KEL_ACCESS_READ;
inline constexpr unsigned int kChangeAccess = KEL_ACCESS_CHANGE;
inline constexpr unsigned int kNoAccess = 0u;

inline constexpr char kInitialAccountName[] = "admin";
inline constexpr std::size_t kMaxAccountNameLength = 64;

struct Account {
    std::string name;
    std::string hash;
    unsigned int access = kNoAccess;
};

bool IsValidAccountName(std::string_view name);
// "admin" (kAdministratorAccess), "read" (kReadAccess), "none" (0), or a number (0x... hexadecimal,
// else decimal).
bool ParseAccess(std::string_view text, unsigned int *access);

// Parses the file's text; on a malformed line returns false with *error naming the line.
bool ParseAccounts(std::string_view text, std::vector<Account> *accounts, std::string *error);
std::string FormatAccounts(const std::vector<Account> &accounts);

// Reads the whole file at `path` into *text; false with the errno in *error (EFBIG when it holds
// more than `limit` bytes).
bool ReadWholeFile(const std::string &path, std::size_t limit, std::string *text, int *error);

// Reads the file. *missing (when given) is set when the file does not exist, which is also an
// error.
bool LoadAccountFile(const std::string &path, std::vector<Account> *accounts, std::string *error,
                     bool *missing = nullptr);
// Replaces the file atomically, creating its directory (mode 0700) when needed.
bool SaveAccountFile(const std::string &path, const std::vector<Account> &accounts,
                     std::string *error);

// An exclusive lock on "PATH.lock" (created when missing), held for the life of the object.
class FileLock {
  public:
    explicit FileLock(const std::string &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    bool locked() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Replaces the file at `path` by `text` the way the account file is written: a temporary file
// beside it (mode 0600), fsync, rename; creates its directory (mode 0700) when needed.
bool WriteFileAtomically(const std::string &path, const std::string &text, std::string *error);
// Creates the directory of `path` (mode 0700) when needed.
bool EnsureDirectoryOf(const std::string &path, std::string *error);

enum class AccountFileState { kExisting, kCreated, kFailed };
// When `path` does not exist, creates it with the administrator "admin" and a random password,
// returned in *password (and stored only as its hash).
AccountFileState EnsureAccountFile(const std::string &path, std::string *password,
                                   std::string *error);

// Sets the password of `name`, creating the account (with `access`, or the administrator role
// when none is given) when it does not exist; an existing account keeps its access word unless
// `access` is given. *created tells which happened.
bool SetPassword(const std::string &path, std::string_view name, std::string_view password,
                 std::optional<unsigned int> access, bool *created, std::string *error);

}  // namespace kel::console

#endif  // KEL_CONSOLE_ACCOUNT_FILE_H
