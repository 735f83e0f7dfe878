// Tests of the console's guards on logins and sessions against a live server: failed logins slow
// down per account name whatever the source address, and a session ends when its account changes
// in the account file or reaches its lifetime.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "console/account_file.h"
#include "live_console.h"

namespace {

using console_test::Advance;
using console_test::Get;
using console_test::HttpResponse;
using console_test::LiveConsole;
using console_test::Post;

// The n-th address of 127.0.0.0/8 after 127.0.0.1, each one reaching the loopback listener.
std::string LoopbackAddress(int n) {
    return "127.0." + std::to_string(n / 250) + "." + std::to_string(2 + n % 250);
}

long long RetryAfter(const HttpResponse &response) {
    const std::string value = response.Header("Retry-After");
    return value.empty() ? 0 : std::stoll(value);
}

TEST(LoginGuard, RotatingSourceAddressesDoNotEscapeThePerNameDelay) {
    LiveConsole console;
    const std::string url = console.At("/login");
    const std::string admin = std::string("name=admin&password=") + console_test::kAdminPassword;
    // A session of the administrator from his usual address, before the attack.
    ASSERT_FALSE(console.LoginAdmin().empty());

    int guesses = 0;
    long long waited = 0;  // seconds, as the answers told
    int address = 0;
    while (guesses < 100) {
        ASSERT_LT(address, 2000) << "guesses: " << guesses;
        const std::string from = LoopbackAddress(address++);
        HttpResponse answer =
            Post(url, "name=admin&password=guess-" + from, {}, console.url(), from);
        if (answer.status == 401) {
            ++guesses;
            continue;
        }
        ASSERT_EQ(answer.status, 429) << answer.body;
        const long long seconds = RetryAfter(answer);
        ASSERT_GT(seconds, 0) << "429 without a Retry-After";
        EXPECT_THAT(answer.body, testing::HasSubstr("Too many failed logins."));
        Advance(std::chrono::seconds(seconds));
        waited += seconds;
    }
    // One guess per 3 s at best: minutes, not the seconds of one fresh address per guess.
    EXPECT_GE(waited, 4 * 60);

    // An address that took part waits out the name's delay even with the right password.
    HttpResponse failed = Post(url, admin, {}, console.url(), LoopbackAddress(0));
    EXPECT_EQ(failed.status, 429);
    EXPECT_GT(RetryAfter(failed), 3);

    // From the address he logged in from before, the administrator is let in at once.
    EXPECT_EQ(Post(url, admin, {}, console.url()).status, 303);

    // From an address that did not fail, he is let in after one gap at most.
    const std::string clean = "127.0.200.1";
    HttpResponse first = Post(url, admin, {}, console.url(), clean);
    if (first.status == 429) {
        EXPECT_LE(RetryAfter(first), 3);
        Advance(std::chrono::seconds(RetryAfter(first)));
        first = Post(url, admin, {}, console.url(), clean);
    }
    EXPECT_EQ(first.status, 303);
    // Another account is not held up by the attack on the administrator's name.
    EXPECT_FALSE(console.Login("guest", console_test::kGuestPassword, "127.0.200.2").empty());
}

TEST(LoginGuard, NamesThatDoNotExistSlowDownToo) {
    LiveConsole console;
    const std::string url = console.At("/login");
    int refused = 0;
    for (int i = 0; i < 40; ++i) {
        const std::string body = "name=nobody" + std::to_string(i % 2) + "&password=x";
        const HttpResponse answer = Post(url, body, {}, console.url(), LoopbackAddress(i));
        refused += answer.status == 429 ? 1 : 0;
        EXPECT_TRUE(answer.status == 401 || answer.status == 429) << answer.status;
    }
    // Two names, 20 fresh addresses each, no time passing: all but the first tries are refused.
    EXPECT_GE(refused, 36);
}

class AccountChange : public ::testing::Test {
  protected:
    static constexpr char kBobPassword[] = "bob-secret-one";
    static constexpr char kCarolPassword[] = "carol-secret-one";

    void SetUp() override {
        bool created = false;
        std::string error;
        ASSERT_TRUE(kel::console::SetPassword(path_, "bob", kBobPassword,
                                              kel::console::kAdministratorAccess, &created, &error))
            << error;
        ASSERT_TRUE(kel::console::SetPassword(path_, "carol", kCarolPassword,
                                              kel::console::kAdministratorAccess, &created, &error))
            << error;
        kel::console::ServerOptions options;
        options.accountFile = path_;
        console_ = std::make_unique<LiveConsole>(options);
        bob_ = console_->Login("bob", kBobPassword);
        carol_ = console_->Login("carol", kCarolPassword);
        ASSERT_FALSE(bob_.empty());
        ASSERT_FALSE(carol_.empty());
        ASSERT_EQ(Get(console_->At("/"), bob_).status, 200);
    }

    // Rewrites the file with `change` applied to its accounts.
    template <typename Change>
    void Rewrite(Change change) {
        std::vector<kel::console::Account> accounts;
        std::string error;
        ASSERT_TRUE(kel::console::LoadAccountFile(path_, &accounts, &error)) << error;
        change(accounts);
        ASSERT_TRUE(kel::console::SaveAccountFile(path_, accounts, &error)) << error;
    }

    // Bob's session no longer serves pages, Carol's still does.
    void ExpectOnlyBobLoggedOut() {
        const HttpResponse bob = Get(console_->At("/"), bob_);
        EXPECT_EQ(bob.status, 303);
        EXPECT_EQ(bob.Header("Location"), "/login");
        EXPECT_EQ(Get(console_->At("/"), bob_).status, 303);  // ended, not merely refused once
        EXPECT_EQ(Get(console_->At("/"), carol_).status, 200);
    }

    testing_support::TempDir dir_;
    std::string path_ = dir_.str() + "/accounts";
    std::unique_ptr<LiveConsole> console_;
    std::string bob_;
    std::string carol_;
};

TEST_F(AccountChange, AnotherRoleEndsTheAccountsSessions) {
    Rewrite([](std::vector<kel::console::Account> &accounts) {
        for (kel::console::Account &account : accounts) {
            if (account.name == "bob") {
                account.access = kel::console::kNoAccess;
            }
        }
    });
    ExpectOnlyBobLoggedOut();
    // A login after the change gets the new role's session.
    EXPECT_FALSE(console_->Login("bob", kBobPassword).empty());
}

TEST_F(AccountChange, ANewPasswordEndsTheAccountsSessions) {
    bool created = true;
    std::string error;
    ASSERT_TRUE(
        kel::console::SetPassword(path_, "bob", "bob-secret-two", std::nullopt, &created, &error))
        << error;
    ExpectOnlyBobLoggedOut();
    EXPECT_TRUE(console_->Login("bob", kBobPassword).empty());
}

TEST_F(AccountChange, DeletingTheAccountEndsItsSessions) {
    Rewrite([](std::vector<kel::console::Account> &accounts) {
        std::erase_if(accounts, [](const kel::console::Account &a) { return a.name == "bob"; });
    });
    ExpectOnlyBobLoggedOut();
}

TEST_F(AccountChange, AnUnreadableFileKeepsTheSessions) {
    dir_.Write("accounts", "not an account file\n");
    EXPECT_EQ(Get(console_->At("/"), bob_).status, 200);
    EXPECT_EQ(Get(console_->At("/"), carol_).status, 200);
}

TEST(SessionLifetime, ASessionEndsAtItsLifetimeHoweverMuchItIsUsed) {
    kel::console::ServerOptions options;
    options.sessionLifetime = std::chrono::hours(1);
    LiveConsole console(options);
    const std::string cookie = console.LoginAdmin();
    ASSERT_FALSE(cookie.empty());
    for (int i = 0; i < 3; ++i) {
        Advance(std::chrono::minutes(19));
        EXPECT_EQ(Get(console.At("/"), cookie).status, 200) << i;
    }
    Advance(std::chrono::minutes(3));  // 60 minutes after the login, last used 3 minutes ago
    EXPECT_EQ(Get(console.At("/"), cookie).status, 303);
    EXPECT_FALSE(console.LoginAdmin().empty());
}

}  // namespace
