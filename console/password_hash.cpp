// password_hash.cpp: yescrypt hashes through libcrypt and random passwords.
#include "console/password_hash.h"

#include <cerrno>
#include <memory>

#include <crypt.h>
#include <sys/random.h>

namespace kel::console {
namespace {

constexpr char kHashPrefix[] = "$y$";

bool FillRandom(void *buffer, std::size_t size) {
    auto *bytes = static_cast<unsigned char *>(buffer);
    while (size > 0) {
        const ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

}  // namespace

bool IsUsablePassword(std::string_view password) {
    return !password.empty() && password.size() <= kMaxPasswordLength &&
           password.find('\0') == std::string_view::npos;
}

std::string HashPassword(std::string_view password) {
    if (!IsUsablePassword(password)) {
        return {};
    }
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn(kHashPrefix, 0, nullptr, 0, setting, sizeof(setting)) == nullptr) {
        return {};
    }
    auto data = std::make_unique<crypt_data>();
    const std::string phrase(password);
    const char *hash = crypt_r(phrase.c_str(), setting, data.get());
    if (hash == nullptr || hash[0] != '$') {
        return {};
    }
    return hash;
}

bool VerifyPassword(std::string_view password, const std::string &hash) {
    if (!IsUsablePassword(password) || hash.empty() || hash[0] != '$') {
        return false;
    }
    auto data = std::make_unique<crypt_data>();
    const std::string phrase(password);
    const char *computed = crypt_r(phrase.c_str(), hash.c_str(), data.get());
    return computed != nullptr && computed[0] == '$' && ConstantTimeEquals(computed, hash);
}

std::string RandomPassword(std::size_t length) {
    // No characters that are easily confused (I, O, l, 0, 1).
    static constexpr char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    constexpr unsigned kSize = sizeof(kAlphabet) - 1;
    constexpr unsigned kUnbiased = 256 / kSize * kSize;  // bytes at or above this are skipped
    std::string password;
    unsigned char bytes[64];
    while (password.size() < length) {
        if (!FillRandom(bytes, sizeof(bytes))) {
            return {};
        }
        for (unsigned char byte : bytes) {
            if (byte < kUnbiased && password.size() < length) {
                password += kAlphabet[byte % kSize];
            }
        }
    }
    return password;
}

}  // namespace kel::console
