// account_store.cpp: the accounts of a file, kept in memory for logging in.
#include "console/account_store.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "console/ascii.h"
#include "console/password_hash.h"

namespace kel::console {
namespace {

// A file modified this shortly before it was read may be replaced again within the same tick of
// the file system's clock, and the new file may get the old one's inode back and have its size:
// its stat would not tell. Such a file is read again on every request until it is older.
constexpr std::chrono::seconds kRecentChange{2};

bool IsRecent(const struct stat &st) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - st.st_mtim.tv_sec <= kRecentChange.count();
}

}  // namespace

AccountStore::AccountStore(std::string path, Log log)
    : path_(std::move(path)), log_(std::move(log)) {
    if (!log_) {
        log_ = [](const std::string &line) { Say(stderr, line); };
    }
}

void AccountStore::Report(const std::string &problem) {
    {
        std::lock_guard lock(mutex_);
        if (problem == reported_) {
            return;
        }
        reported_ = problem;
    }
    if (!problem.empty()) {
        log_(problem + "; the accounts read last stay in force");
    }
}

bool AccountStore::Load(std::string *error) {
    std::vector<Account> accounts;
    struct stat st {};
    if (stat(path_.c_str(), &st) != 0) {
        *error = "cannot read account file " + path_ + ": " + std::strerror(errno);
        return false;
    }
    if (!LoadAccountFile(path_, &accounts, error)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    accounts_ = std::move(accounts);
    identity_ = st;
    recent_ = IsRecent(st);
    return true;
}

void AccountStore::ReloadIfChanged() {
    struct stat st {};
    if (stat(path_.c_str(), &st) != 0) {
        Report("cannot read account file " + path_ + ": " + std::strerror(errno));
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (!recent_ && st.st_ino == identity_.st_ino && st.st_dev == identity_.st_dev &&
            st.st_size == identity_.st_size && st.st_mtim.tv_sec == identity_.st_mtim.tv_sec &&
            st.st_mtim.tv_nsec == identity_.st_mtim.tv_nsec) {
            return;
        }
    }
    // When the file is replaced between the stat and the read, the next request's stat differs
    // from `st` and reads it again.
    std::vector<Account> accounts;
    std::string problem;
    if (!LoadAccountFile(path_, &accounts, &problem)) {
        Report(problem);  // a broken file does not lock everyone out: the last good one stays
        return;
    }
    Report({});
    std::lock_guard lock(mutex_);
    accounts_ = std::move(accounts);
    identity_ = st;
    recent_ = IsRecent(st);
}

std::optional<Account> AccountStore::Find(std::string_view name) {
    ReloadIfChanged();
    std::lock_guard lock(mutex_);
    for (const Account &account : accounts_) {
        if (account.name == name) {
            return account;
        }
    }
    return std::nullopt;
}

std::optional<Account> AccountStore::Authenticate(std::string_view name,
                                                  std::string_view password) {
    // A hash of a random password, so that an unknown name is checked as slowly as a known one.
    static const std::string decoy = HashPassword(RandomPassword());
    ReloadIfChanged();
    std::optional<Account> found;
    {
        std::lock_guard lock(mutex_);
        for (const Account &account : accounts_) {
            if (account.name == name) {
                found = account;
            }
        }
    }
    if (!found) {
        VerifyPassword(password, decoy);
        return std::nullopt;
    }
    if (!VerifyPassword(password, found->hash)) {
        return std::nullopt;
    }
    return found;
}

}  // namespace kel::console
