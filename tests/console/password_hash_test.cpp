// Tests of password hashing and random passwords.
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

}  // namespace
