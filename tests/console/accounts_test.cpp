// Tests of the account file, password hashing, sessions and the login throttle.
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "console/accounts.h"
#include "console/sessions.h"

namespace {

using namespace kel::console;
using std::chrono::milliseconds;
using std::chrono::seconds;
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
    EXPECT_FALSE(SetPassword(path, "bad name", "long-enough", std::nullopt, &created, &error));
    EXPECT_TRUE(store.Authenticate("bob", "bobs-password").has_value());
}

TEST(AccountFile, BrokenFileOnDiskKeepsTheLastGoodAccounts) {
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

struct TestClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
    Clock clock() {
        return [this] { return now; };
    }
};

TEST(Sessions, IdsAre256RandomBitsInHex) {
    TestClock time;
    SessionStore store(seconds(60), 100, time.clock());
    const std::string id = store.Create("admin", kAdministratorAccess);
    EXPECT_TRUE(SessionStore::IsWellFormedId(id));
    EXPECT_EQ(id.size(), 64u);
    EXPECT_NE(store.Create("admin", kAdministratorAccess), id);
    EXPECT_FALSE(store.Use(std::string(64, '0')).has_value());
    EXPECT_FALSE(store.Use(id.substr(0, 63)).has_value());
    std::string upper = id;
    for (char &c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_FALSE(store.Use(upper).has_value() && upper != id);
}

TEST(Sessions, ExpireWhenIdleAndOnRemoval) {
    TestClock time;
    SessionStore store(seconds(60), 100, time.clock());
    const std::string id = store.Create("guest", kNoAccess);
    time.now += seconds(59);
    auto session = store.Use(id);
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(session->account, "guest");
    EXPECT_EQ(session->access, kNoAccess);
    time.now += seconds(59);
    EXPECT_TRUE(store.Use(id).has_value());
    time.now += seconds(60);
    EXPECT_FALSE(store.Use(id).has_value());
    EXPECT_EQ(store.size(), 0u);

    const std::string other = store.Create("admin", kAdministratorAccess);
    store.Remove(other);
    EXPECT_FALSE(store.Use(other).has_value());
}

TEST(Sessions, FullStoreDropsTheLeastRecentlyUsed) {
    TestClock time;
    SessionStore store(seconds(600), 2, time.clock());
    const std::string first = store.Create("a", 1);
    time.now += seconds(1);
    const std::string second = store.Create("b", 1);
    time.now += seconds(1);
    ASSERT_TRUE(store.Use(first).has_value());  // now `second` is the oldest
    const std::string third = store.Create("c", 1);
    EXPECT_TRUE(store.Use(first).has_value());
    EXPECT_FALSE(store.Use(second).has_value());
    EXPECT_TRUE(store.Use(third).has_value());
}

TEST(LoginThrottle, WaitDoublesPerFailureUpToTheLongestAndSuccessClearsIt) {
    TestClock time;
    LoginThrottle throttle(milliseconds(1000), milliseconds(5000), time.clock());
    EXPECT_EQ(throttle.Wait("10.0.0.1").count(), 0);
    const milliseconds expected[] = {milliseconds(1000), milliseconds(2000), milliseconds(4000),
                                     milliseconds(5000), milliseconds(5000)};
    for (milliseconds wait : expected) {
        throttle.Failed("10.0.0.1");
        EXPECT_EQ(throttle.Wait("10.0.0.1"), wait);
        EXPECT_EQ(throttle.Wait("10.0.0.2").count(), 0);  // per address
        time.now += wait - milliseconds(1);
        EXPECT_EQ(throttle.Wait("10.0.0.1"), milliseconds(1));
        time.now += milliseconds(1);
        EXPECT_EQ(throttle.Wait("10.0.0.1").count(), 0);
    }
    throttle.Succeeded("10.0.0.1");
    throttle.Failed("10.0.0.1");
    EXPECT_EQ(throttle.Wait("10.0.0.1"), milliseconds(1000));
}

}  // namespace
