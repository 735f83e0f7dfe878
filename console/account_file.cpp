// account_file.cpp: reading, writing and changing the account file.
#include "console/account_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/password_hash.h"

namespace kel::console {
namespace {

constexpr char kFileHeader[] =
    "# Console accounts, one a line: NAME:HASH:ACCESS (written by kelconsole passwd).\n";

std::string SystemError(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string Directory(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates `dir` and its missing parents; the last one with mode 0700.
bool MakeDirectories(const std::string &dir, std::string *error) {
    struct stat st {};
    if (dir.empty() || stat(dir.c_str(), &st) == 0) {
        return true;
    }
    if (!MakeDirectories(Directory(dir), error)) {
        return false;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = SystemError("cannot create directory", dir);
        return false;
    }
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::size_t limit, std::string *text, int *error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    char chunk[4096];
    text->clear();
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof(chunk));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = errno;
            close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        if (text->size() + static_cast<std::size_t>(got) > limit) {
            *error = EFBIG;
            close(fd);
            return false;
        }
        text->append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return true;
}

FileLock::FileLock(const std::string &path) {
    const std::string lock = path + ".lock";
    fd_ = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool IsValidAccountName(std::string_view name) {
    if (name.empty() || name.size() > kMaxAccountNameLength) {
        return false;
    }
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool ParseAccess(std::string_view text, unsigned int *access) {
    if (text == "admin") {
        *access = kAdministratorAccess;
        return true;
    }
    if (text == "read") {
        *access = kReadAccess;
        return true;
    }
    if (text == "none") {
        *access = kNoAccess;
        return true;
    }
    const bool hex = text.starts_with("0x") || text.starts_with("0X");
    std::string_view digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u)) {
        return false;
    }
    unsigned long long value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    }
    if (value > 0xFFFFFFFFull) {
        return false;
    }
    *access = static_cast<unsigned int>(value);
    return true;
}

bool ParseAccounts(std::string_view text, std::vector<Account> *accounts, std::string *error) {
    accounts->clear();
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(':', first + 1);
        Account account;
        if (second == std::string_view::npos ||
            line.find(':', second + 1) != std::string_view::npos) {
            *error = "line " + std::to_string(number) + ": not NAME:HASH:ACCESS";
            return false;
        }
        account.name = line.substr(0, first);
        account.hash = line.substr(first + 1, second - first - 1);
        if (!IsValidAccountName(account.name)) {
            *error = "line " + std::to_string(number) + ": invalid account name";
            return false;
        }
        if (account.hash.empty()) {
            *error = "line " + std::to_string(number) + ": empty password hash";
            return false;
        }
        if (!ParseAccess(line.substr(second + 1), &account.access)) {
            *error = "line " + std::to_string(number) + ": invalid access word";
            return false;
        }
        for (const Account &other : *accounts) {
            if (other.name == account.name) {
                *error = "line " + std::to_string(number) + ": account listed twice";
                return false;
            }
        }
        accounts->push_back(std::move(account));
    }
    return true;
}

std::string FormatAccounts(const std::vector<Account> &accounts) {
    std::string text = kFileHeader;
    for (const Account &account : accounts) {
        char access[16];
        std::snprintf(access, sizeof(access), "0x%08x", account.access);
        text += account.name + ":" + account.hash + ":" + access + "\n";
    }
    return text;
}

bool LoadAccountFile(const std::string &path, std::vector<Account> *accounts, std::string *error,
                     bool *missing) {
    std::string text;
    int failure = 0;
    if (missing != nullptr) {
        *missing = false;
    }
    if (!ReadWholeFile(path, SIZE_MAX, &text, &failure)) {
        if (missing != nullptr) {
            *missing = failure == ENOENT;
        }
        errno = failure;
        *error = SystemError("cannot read account file", path);
        return false;
    }
    if (!ParseAccounts(text, accounts, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string &path, const std::string &text, std::string *error) {
    const std::string dir = Directory(path);
    if (!MakeDirectories(dir, error)) {
        return false;
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        *error = SystemError("cannot create", temporary);
        return false;
    }
    bool ok = fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        ok = put > 0;
        done += put > 0 ? static_cast<std::size_t>(put) : 0;
    }
    ok = ok && fsync(fd) == 0;
    if (close(fd) != 0) {
        ok = false;
    }
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        *error = SystemError("cannot write", path);
        unlink(temporary.c_str());
        return false;
    }
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

bool SaveAccountFile(const std::string &path, const std::vector<Account> &accounts,
                     std::string *error) {
    if (!WriteFileAtomically(path, FormatAccounts(accounts), error)) {
        if (error->starts_with("cannot write ")) {
            *error = "cannot write account file " + error->substr(13);
        }
        return false;
    }
    return true;
}

bool EnsureDirectoryOf(const std::string &path, std::string *error) {
    return MakeDirectories(Directory(path), error);
}

AccountFileState EnsureAccountFile(const std::string &path, std::string *password,
                                   std::string *error) {
    if (!MakeDirectories(Directory(path), error)) {
        return AccountFileState::kFailed;
    }
    FileLock lock(path);
    if (!lock.locked()) {
        *error = SystemError("cannot lock", path + ".lock");
        return AccountFileState::kFailed;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        return AccountFileState::kExisting;
    }
    if (errno != ENOENT) {
        *error = SystemError("cannot read account file", path);
        return AccountFileState::kFailed;
    }
    *password = RandomStrongPassword(kInitialAccountName);
    const std::string hash = HashPassword(*password);
    if (password->empty() || hash.empty()) {
        *error = "cannot make a password hash";
        return AccountFileState::kFailed;
    }
    if (!SaveAccountFile(path, {{kInitialAccountName, hash, kAdministratorAccess}}, error)) {
        return AccountFileState::kFailed;
    }
    return AccountFileState::kCreated;
}

bool SetPassword(const std::string &path, std::string_view name, std::string_view password,
                 std::optional<unsigned int> access, bool *created, std::string *error) {
    if (!IsValidAccountName(name)) {
        *error = "invalid account name (1 to 64 letters, digits, '.', '_' or '-')";
        return false;
    }
    if (password.size() < kMinPasswordLength || !IsUsablePassword(password)) {
        *error = "a password has " + std::to_string(kMinPasswordLength) + " to " +
                 std::to_string(kMaxPasswordLength) + " characters";
        return false;
    }
    if (!MakeDirectories(Directory(path), error)) {
        return false;
    }
    FileLock lock(path);
    if (!lock.locked()) {
        *error = SystemError("cannot lock", path + ".lock");
        return false;
    }
    std::vector<Account> accounts;
    bool missing = false;
    if (!LoadAccountFile(path, &accounts, error, &missing) && !missing) {
        return false;
    }
    const std::string hash = HashPassword(password);
    if (hash.empty()) {
        *error = "cannot make a password hash";
        return false;
    }
    *created = true;
    for (Account &account : accounts) {
        if (account.name == name) {
            account.hash = hash;
            if (access) {
                account.access = *access;
            }
            *created = false;
        }
    }
    if (*created) {
        accounts.push_back({std::string(name), hash, access.value_or(kAdministratorAccess)});
    }
    return SaveAccountFile(path, accounts, error);
}

}  // namespace kel::console
