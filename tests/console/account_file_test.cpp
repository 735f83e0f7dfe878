// Tests of the account file: its lines, access words, first start and `kelconsole passwd`.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "console/account_file.h"
#include "console/account_store.h"
#include "console/password_hash.h"

namespace {

using namespace kel::console;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(AccountFile, ParsesAndFormatsNameHashAndAccess) {
    std::vector<Account> accounts;
    std::string error;
    ASSERT_TRUE(ParseAccounts("# comment\n\nadmin:$y$abc:0x0000000b\r\nguest:$y$def:0x00000000\n",
                              &accounts, &error))
        << error;
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].name, "admin");
    EXPECT_EQ(accounts[0].hash, "$y$abc");
    EXPECT_EQ(accounts[0].access, kAdministratorAccess);
    EXPECT_EQ(accounts[1].access, kNoAccess);
    const std::string text = FormatAccounts(accounts);
    EXPECT_THAT(text, HasSubstr("admin:$y$abc:0x0000000b\nguest:$y$def:0x00000000\n"));
    std::vector<Account> again;
    ASSERT_TRUE(ParseAccounts(text, &again, &error));
    EXPECT_EQ(again.size(), 2u);
}

TEST(AccountFile, RefusesMalformedLinesNamingTheLine) {
    const char *bad[] = {
        "admin:$y$abc\n",              // two fields
        "admin:$y$a:b:0x1\n",          // four fields
        "ad min:$y$abc:0x1\n",         // blank in the name
        ":$y$abc:0x1\n",               // empty name
        "admin::0x1\n",                // empty hash
        "admin:$y$abc:0x1ffffffff\n",  // access wider than 32 bits
        "admin:$y$abc:lots\n",         // not an access word
        "a:$y$1:0x1\na:$y$2:0x1\n",    // listed twice
    };
    for (const char *text : bad) {
        std::vector<Account> accounts;
        std::string error;
        EXPECT_FALSE(ParseAccounts(std::string("# header\n") + text, &accounts, &error)) << text;
        EXPECT_THAT(error, testing::StartsWith("line ")) << text;
    }
}

TEST(AccountFile, AccessWordsByRoleOrNumber) {
    unsigned int access = 7;
    EXPECT_TRUE(ParseAccess("admin", &access));
    EXPECT_EQ(access, 0x0000000Bu);
    EXPECT_TRUE(ParseAccess("none", &access));
    EXPECT_EQ(access, 0u);
    EXPECT_TRUE(ParseAccess("0x80000009", &access));
    EXPECT_EQ(access, 0x80000009u);
    EXPECT_TRUE(ParseAccess("11", &access));
    EXPECT_EQ(access, 11u);
    EXPECT_FALSE(ParseAccess("0x", &access));
    EXPECT_FALSE(ParseAccess("-1", &access));
    EXPECT_FALSE(ParseAccess("4294967296", &access));
}

TEST(AccountFile, FirstStartCreatesAdminWithAPasswordStoredOnlyAsItsHash) {
    testing_support::TempDir dir;
    const std::string path = dir.str() + "/etc/console/accounts";
    std::string password, error;
    ASSERT_EQ(EnsureAccountFile(path, &password, &error), AccountFileState::kCreated) << error;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = testing_support::ReadFile(path);
    EXPECT_THAT(text, Not(HasSubstr(password)));
    EXPECT_EQ(PasswordWeakness(password, kInitialAccountName), "");
    AccountStore store(path);
    ASSERT_TRUE(store.Load(&error)) << error;
    auto admin = store.Authenticate("admin", password);
    ASSERT_TRUE(admin.has_value());
    EXPECT_EQ(admin->access, kAdministratorAccess);
    EXPECT_FALSE(store.Authenticate("admin", password + "x").has_value());
    EXPECT_FALSE(store.Authenticate("nobody", password).has_value());

    std::string second;
    EXPECT_EQ(EnsureAccountFile(path, &second, &error), AccountFileState::kExisting);
    EXPECT_TRUE(second.empty());
    EXPECT_EQ(testing_support::ReadFile(path), text);
}

TEST(AccountFile, SetPasswordCreatesOrUpdatesAndTheStoreSeesIt) {
    testing_support::TempDir dir;
    const std::string path = dir.str() + "/accounts";
    bool created = false;
    std::string error;
    ASSERT_TRUE(SetPassword(path, "alice", "first-password", kNoAccess, &created, &error)) << error;
    EXPECT_TRUE(created);
    AccountStore store(path);
    ASSERT_TRUE(store.Load(&error));
    EXPECT_EQ(store.Authenticate("alice", "first-password")->access, kNoAccess);

    // The running store reads the changed file; the account keeps its access word.
    ASSERT_TRUE(SetPassword(path, "alice", "second-password", std::nullopt, &created, &error));
    EXPECT_FALSE(created);
    EXPECT_FALSE(store.Authenticate("alice", "first-password").has_value());
    EXPECT_EQ(store.Authenticate("alice", "second-password")->access, kNoAccess);
    ASSERT_TRUE(SetPassword(path, "bob", "bobs-password", std::nullopt, &created, &error));
    EXPECT_EQ(store.Authenticate("bob", "bobs-password")->access, kAdministratorAccess);

    EXPECT_FALSE(SetPassword(path, "bob", "short", std::nullopt, &created, &error));
    EXPECT_FALSE(SetPassword(path, "bad name", "long-enough-1", std::nullopt, &created, &error));
    EXPECT_TRUE(store.Authenticate("bob", "bobs-password").has_value());
}

}  // namespace
