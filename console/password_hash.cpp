// password_hash.cpp: yescrypt hashes through libcrypt and random passwords.
#include "console/password_hash.h"

#include <cerrno>
#include <memory>
#include <mutex>

#include <crypt.h>
#include <pwquality.h>
#include <sys/random.h>

namespace kel::console {
namespace {

constexpr char kHashPrefix[] = "$y$";
constexpr int kMaxRepeat = 3;
constexpr int kMaxSequence = 4;
// RandomStrongPassword draws again when the check refuses a password. A random one is refused
// rarely (four same characters in a row, say); running out of tries means it refuses everything.
constexpr int kStrongPasswordTries = 100;

struct SettingsDeleter {
    void operator()(pwquality_settings_t *settings) const { pwquality_free_settings(settings); }
};

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

std::string PasswordWeakness(std::string_view password, std::string_view account) {
    if (!IsUsablePassword(password)) {
        return "The password is empty, longer than " + std::to_string(kMaxPasswordLength) +
               " characters or holds a NUL byte";
    }
    std::unique_ptr<pwquality_settings_t, SettingsDeleter> settings(pwquality_default_settings());
    if (settings == nullptr ||
        pwquality_set_int_value(settings.get(), PWQ_SETTING_MIN_LENGTH,
                                static_cast<int>(kMinPasswordLength)) != 0 ||
        pwquality_set_int_value(settings.get(), PWQ_SETTING_MAX_REPEAT, kMaxRepeat) != 0 ||
        pwquality_set_int_value(settings.get(), PWQ_SETTING_MAX_SEQUENCE, kMaxSequence) != 0) {
        return "The password's strength cannot be checked";
    }
    const std::string phrase(password);
    const std::string user(account);
    void *detail = nullptr;
    int score = 0;
    {
        // cracklib's dictionary check keeps static state.
        static std::mutex check;
        std::lock_guard lock(check);
        score = pwquality_check(settings.get(), phrase.c_str(), nullptr,
                                user.empty() ? nullptr : user.c_str(), &detail);
    }
    if (score >= 0) {
        return {};
    }
    char text[256];
    // Also frees `detail`.
    const char *reason = pwquality_strerror(text, sizeof(text), score, detail);
    return reason != nullptr ? reason : "The password is too weak";
}

std::string RandomStrongPassword(std::string_view account) {
    for (int i = 0; i < kStrongPasswordTries; ++i) {
        std::string password = RandomPassword();
        if (password.empty()) {
            return {};
        }
        if (PasswordWeakness(password, account).empty()) {
            return password;
        }
    }
    return {};
}

}  // namespace kel::console
