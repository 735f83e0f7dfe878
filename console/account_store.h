// account_store.h: the accounts of the account file as the console checks logins against them.
#ifndef KEL_CONSOLE_ACCOUNT_STORE_H
#define KEL_CONSOLE_ACCOUNT_STORE_H

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "console/account_file.h"

namespace kel::console {

// The accounts of a file, for logging in and for checking every request's session against the
// account as it is now. The file is read again whenever it changed on disk (its inode, size or
// modification time differ from the last read, or it was modified within two seconds of that
// read), so `kelconsole passwd` takes effect without a
// restart. A file that cannot be read or parsed leaves the accounts read last in force; that is
// logged once per distinct problem. Safe to call from several threads.
class AccountStore {
  public:
    using Log = std::function<void(const std::string &line)>;

    // `log` null: lines go to standard error.
    explicit AccountStore(std::string path, Log log = nullptr);

    // Loads the file; false (with *error) when it cannot be read or parsed.
    bool Load(std::string *error);
    // The account when the name exists and the password matches it. An unknown name costs the
    // same hashing work as a known one.
    std::optional<Account> Authenticate(std::string_view name, std::string_view password);
    // The account as the file holds it now (read again when it changed), or none.
    std::optional<Account> Find(std::string_view name);

  private:
    void ReloadIfChanged();
    void Report(const std::string &problem);

    std::mutex mutex_;
    std::string path_;
    Log log_;
    std::string reported_;  // the problem logged last; empty once the file reads again
    std::vector<Account> accounts_;
    struct stat identity_ {};
    bool recent_ = false;  // the file was modified just before it was read last
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_ACCOUNT_STORE_H
