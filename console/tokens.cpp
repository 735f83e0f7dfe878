// tokens.cpp: the token file and the tokens of a running console.
#include "console/tokens.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "console/account_file.h"

namespace kel::console {
namespace {

constexpr char kFileHeader[] =
    "# Console API tokens, one a line: NAME:SHA256:ACCESS:CREATED:HINT (written by kelconsole "
    "token).\n";
constexpr std::size_t kMaxTokenFileSize = 1 << 20;
constexpr char kHex[] = "0123456789abcdef";

std::string Hex(const unsigned char *bytes, std::size_t size) {
    std::string out;
    out.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0xF];
    }
    return out;
}

bool IsHexDigest(std::string_view text) {
    if (text.size() != 64) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

bool ParseNumber(std::string_view text, std::int64_t *out) {
    if (text.empty() || text.size() > 18) {
        return false;
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    *out = value;
    return true;
}

bool FillRandom(unsigned char *bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = getrandom(bytes + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool IsRecent(const struct stat &st) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - st.st_mtim.tv_sec <= 2;
}

}  // namespace

std::string TokenFileFor(const std::string &accountFile) {
    const std::size_t slash = accountFile.rfind('/');
    if (slash == std::string::npos) {
        return kTokenFileName;
    }
    return accountFile.substr(0, slash + 1) + kTokenFileName;
}

std::string HashToken(std::string_view token) {
    unsigned char digest[32];
    if (gnutls_hash_fast(GNUTLS_DIG_SHA256, token.data(), token.size(), digest) != 0) {
        return {};
    }
    return Hex(digest, sizeof(digest));
}

bool EqualInConstantTime(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    volatile unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

bool ParseTokens(std::string_view text, std::vector<ApiToken> *tokens, std::string *error) {
    tokens->clear();
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
        std::vector<std::string_view> fields;
        for (std::size_t start = 0;;) {
            const std::size_t colon = line.find(':', start);
            fields.push_back(line.substr(start, colon - start));
            if (colon == std::string_view::npos) {
                break;
            }
            start = colon + 1;
        }
        const std::string where = "line " + std::to_string(number) + ": ";
        ApiToken token;
        if (fields.size() != 5) {
            *error = where + "not NAME:SHA256:ACCESS:CREATED:HINT";
            return false;
        }
        token.name = fields[0];
        token.hash = fields[1];
        token.hint = fields[4];
        if (!IsValidAccountName(token.name) || !IsHexDigest(token.hash) ||
            !ParseAccess(fields[2], &token.access) || !ParseNumber(fields[3], &token.created) ||
            token.hint.size() > kTokenHintLength) {
            *error = where + "malformed token";
            return false;
        }
        for (const ApiToken &other : *tokens) {
            if (other.name == token.name) {
                *error = where + "token listed twice";
                return false;
            }
        }
        tokens->push_back(std::move(token));
    }
    return true;
}

std::string FormatTokens(const std::vector<ApiToken> &tokens) {
    std::string text = kFileHeader;
    for (const ApiToken &token : tokens) {
        char access[16];
        std::snprintf(access, sizeof(access), "0x%08x", token.access);
        text += token.name + ":" + token.hash + ":" + access + ":" + std::to_string(token.created) +
                ":" + token.hint + "\n";
    }
    return text;
}

bool LoadTokenFile(const std::string &path, std::vector<ApiToken> *tokens, std::string *error) {
    std::string text;
    int failure = 0;
    if (!ReadWholeFile(path, kMaxTokenFileSize, &text, &failure)) {
        if (failure == ENOENT) {
            tokens->clear();
            return true;
        }
        *error = "cannot read token file " + path + ": " + std::strerror(failure);
        return false;
    }
    if (!ParseTokens(text, tokens, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

bool CreateToken(const std::string &path, std::string_view name, unsigned int access,
                 std::string *token, std::string *error) {
    if (!IsValidAccountName(name)) {
        *error = "a token name is 1 to 64 letters, digits, '.', '_' or '-'";
        return false;
    }
    if (!EnsureDirectoryOf(path, error)) {
        return false;
    }
    FileLock lock(path);
    if (!lock.locked()) {
        *error = "cannot lock " + path + ".lock: " + std::strerror(errno);
        return false;
    }
    std::vector<ApiToken> tokens;
    if (!LoadTokenFile(path, &tokens, error)) {
        return false;
    }
    for (const ApiToken &other : tokens) {
        if (other.name == name) {
            *error = "there is a token \"" + std::string(name) + "\" already; revoke it first";
            return false;
        }
    }
    unsigned char random[kTokenRandomBytes];
    if (!FillRandom(random, sizeof(random))) {
        *error = std::string("the kernel's random source failed: ") + std::strerror(errno);
        return false;
    }
    std::string made = kTokenPrefix + Hex(random, sizeof(random));
    ApiToken entry;
    entry.name = std::string(name);
    entry.hash = HashToken(made);
    entry.access = access;
    entry.created = static_cast<std::int64_t>(std::time(nullptr));
    entry.hint = made.substr(made.size() - kTokenHintLength);
    if (entry.hash.empty()) {
        *error = "cannot hash the token";
        return false;
    }
    tokens.push_back(std::move(entry));
    if (!WriteFileAtomically(path, FormatTokens(tokens), error)) {
        return false;
    }
    *token = std::move(made);
    return true;
}

bool RevokeToken(const std::string &path, std::string_view name, std::string *error) {
    FileLock lock(path);
    if (!lock.locked()) {
        *error = "cannot lock " + path + ".lock: " + std::strerror(errno);
        return false;
    }
    std::vector<ApiToken> tokens;
    if (!LoadTokenFile(path, &tokens, error)) {
        return false;
    }
    const std::size_t before = tokens.size();
    std::erase_if(tokens, [name](const ApiToken &token) { return token.name == name; });
    if (tokens.size() == before) {
        *error = "there is no token \"" + std::string(name) + "\"";
        return false;
    }
    return WriteFileAtomically(path, FormatTokens(tokens), error);
}

TokenStore::TokenStore(std::string path) : path_(std::move(path)) {}

void TokenStore::ReloadIfChanged() {
    struct stat st {};
    const bool exists = stat(path_.c_str(), &st) == 0;
    std::lock_guard lock(mutex_);
    if (!exists) {
        tokens_.clear();  // no file, no tokens
        loaded_ = false;
        return;
    }
    if (loaded_ && !recent_ && st.st_ino == identity_.st_ino && st.st_dev == identity_.st_dev &&
        st.st_size == identity_.st_size && st.st_mtim.tv_sec == identity_.st_mtim.tv_sec &&
        st.st_mtim.tv_nsec == identity_.st_mtim.tv_nsec) {
        return;
    }
    std::vector<ApiToken> tokens;
    std::string error;
    if (!LoadTokenFile(path_, &tokens, &error)) {
        tokens.clear();  // a broken file lets no token in
    }
    tokens_ = std::move(tokens);
    identity_ = st;
    loaded_ = true;
    recent_ = IsRecent(st);
}

std::optional<ApiToken> TokenStore::Find(std::string_view presented) {
    if (presented.size() != kTokenLength || !presented.starts_with(kTokenPrefix)) {
        return std::nullopt;
    }
    const std::string hash = HashToken(presented);
    if (hash.empty()) {
        return std::nullopt;
    }
    ReloadIfChanged();
    std::lock_guard lock(mutex_);
    std::optional<ApiToken> found;
    for (const ApiToken &token : tokens_) {
        if (EqualInConstantTime(token.hash, hash)) {
            found = token;
        }
    }
    return found;
}

}  // namespace kel::console
