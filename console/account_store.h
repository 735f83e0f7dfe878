// account_store.h: the accounts of the account file as the console checks logins against them.
#ifndef KEL_CONSOLE_ACCOUNT_STORE_H
#define KEL_CONSOLE_ACCOUNT_STORE_H

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "console/account_file.h"

namespace kel::console {

// The accounts of a file, for logging in. The file is read again whenever it changed on disk,
// so `kelconsole passwd` takes effect without a restart. Safe to call from several threads.
class AccountStore {
  public:
    explicit AccountStore(std::string path) : path_(std::move(path)) {}

    // Loads the file; false (with *error) when it cannot be read or parsed.
    bool Load(std::string *error);
    // The account when the name exists and the password matches it. An unknown name costs the
    // same hashing work as a known one.
    std::optional<Account> Authenticate(std::string_view name, std::string_view password);

  private:
    void ReloadIfChanged();

    std::mutex mutex_;
    std::string path_;
    std::vector<Account> accounts_;
    struct stat identity_ {};
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_ACCOUNT_STORE_H
