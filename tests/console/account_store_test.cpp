// Tests of the account store the console checks logins against.
#include <unistd.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "console/account_file.h"
#include "console/account_store.h"

namespace {

using namespace kel::console;
using ::testing::HasSubstr;

TEST(AccountStore, BrokenFileOnDiskKeepsTheLastGoodAccounts) {
    testing_support::TempDir dir;
    const std::string path = dir.str() + "/accounts";
    bool created = false;
    std::string error;
    ASSERT_TRUE(SetPassword(path, "alice", "alice-password", std::nullopt, &created, &error));
    AccountStore store(path);
    ASSERT_TRUE(store.Load(&error));
    dir.Write("accounts", "this is not an account file\n");
    EXPECT_TRUE(store.Authenticate("alice", "alice-password").has_value());
    std::vector<Account> accounts;
    EXPECT_FALSE(LoadAccountFile(path, &accounts, &error));
    EXPECT_THAT(error, HasSubstr("line 1"));
}

TEST(AccountStore, AMissingFileDoesNotLoadAndARemovedOneKeepsTheLastAccounts) {
    testing_support::TempDir dir;
    const std::string path = dir.str() + "/accounts";
    std::string error;
    AccountStore missing(path);
    EXPECT_FALSE(missing.Load(&error));
    EXPECT_THAT(error, HasSubstr("cannot read account file " + path));

    bool created = false;
    ASSERT_TRUE(SetPassword(path, "alice", "alice-password", std::nullopt, &created, &error));
    AccountStore store(path);
    ASSERT_TRUE(store.Load(&error)) << error;
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_TRUE(store.Authenticate("alice", "alice-password").has_value());
    EXPECT_FALSE(store.Authenticate("alice", "wrong-password").has_value());
}

TEST(AccountStore, FindSeesTheFileAsItIsNowAndAProblemIsLoggedOnce) {
    testing_support::TempDir dir;
    const std::string path = dir.str() + "/accounts";
    bool created = false;
    std::string error;
    ASSERT_TRUE(SetPassword(path, "alice", "alice-password", kNoAccess, &created, &error));
    std::vector<std::string> lines;
    AccountStore store(path, [&lines](const std::string &line) { lines.push_back(line); });
    ASSERT_TRUE(store.Load(&error)) << error;
    const std::optional<Account> before = store.Find("alice");
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(before->access, kNoAccess);

    ASSERT_TRUE(
        SetPassword(path, "alice", "alice-password", kAdministratorAccess, &created, &error));
    const std::optional<Account> after = store.Find("alice");
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->access, kAdministratorAccess);
    EXPECT_NE(after->hash, before->hash);
    EXPECT_FALSE(store.Find("bob").has_value());

    dir.Write("accounts", "broken\n");
    EXPECT_TRUE(store.Find("alice").has_value());
    EXPECT_TRUE(store.Find("alice").has_value());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], HasSubstr("line 1"));
    EXPECT_THAT(lines[0], HasSubstr("the accounts read last stay in force"));
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_TRUE(store.Find("alice").has_value());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[1], HasSubstr("cannot read account file " + path));
}

}  // namespace
