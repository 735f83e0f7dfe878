// Tests of password hashing, random passwords and the check of a password's strength.
#include <set>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/password_hash.h"

namespace {

using namespace kel::console;

TEST(PasswordHash, IsYescryptSaltedAndVerifiesOnlyTheSamePassword) {
    const std::string hash = HashPassword("correct horse");
    ASSERT_THAT(hash, testing::StartsWith("$y$"));
    EXPECT_NE(HashPassword("correct horse"), hash);  // a new salt every time
    EXPECT_TRUE(VerifyPassword("correct horse", hash));
    EXPECT_FALSE(VerifyPassword("correct horse ", hash));
    EXPECT_FALSE(VerifyPassword("", hash));
    EXPECT_FALSE(VerifyPassword(std::string("correct\0horse", 13), hash));
    EXPECT_FALSE(VerifyPassword("correct horse", "*"));
}

TEST(PasswordHash, RandomPasswordsAreLongAndDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        const std::string password = RandomPassword();
        EXPECT_EQ(password.size(), kGeneratedPasswordLength);
        EXPECT_EQ(
            password.find_first_not_of("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789"),
            std::string::npos);
        seen.insert(password);
    }
    EXPECT_EQ(seen.size(), 20u);
}

TEST(PasswordStrength, WeakPasswordsAreRefusedWithTheReason) {
    EXPECT_THAT(PasswordWeakness("password", "admin"),
                testing::HasSubstr("shorter than 12 characters"));
    EXPECT_THAT(PasswordWeakness("aaaaaaaaaaaa", "admin"), testing::HasSubstr("palindrome"));
    EXPECT_THAT(PasswordWeakness("aaaaaaaaaaab", "admin"),
                testing::HasSubstr("more than 3 same characters"));
    EXPECT_THAT(PasswordWeakness("Kq-abcdefgh-7", "admin"), testing::HasSubstr("sequence"));
    EXPECT_THAT(PasswordWeakness("Kq7-viewer-x9Lm", "viewer"), testing::HasSubstr("user name"));
    EXPECT_NE(PasswordWeakness(std::string("Kq7#vLm2\0pX9zR", 15), "admin"), "");
}

TEST(PasswordStrength, StrongPasswordsAreAccepted) {
    EXPECT_EQ(PasswordWeakness("kQ7#vLm2pX9z", "admin"), "");
    EXPECT_EQ(PasswordWeakness("T4kWm9qRbZs2HcVnE8aP", "viewer"), "");
    // The account name counts only for its own account.
    EXPECT_EQ(PasswordWeakness("Kq7-viewer-x9Lm", "admin"), "");
}

TEST(PasswordStrength, GeneratedPasswordsPassTheCheck) {
    for (int i = 0; i < 50; ++i) {
        const std::string password = RandomStrongPassword("admin");
        EXPECT_EQ(password.size(), kGeneratedPasswordLength);
        EXPECT_EQ(PasswordWeakness(password, "admin"), "") << password;
    }
}

}  // namespace
