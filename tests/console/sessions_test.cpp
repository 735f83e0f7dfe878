// Tests of the session store.
#include <cctype>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/account_file.h"
#include "console/sessions.h"
#include "test_clock.h"

namespace {

using namespace kel::console;
using console_test::TestClock;
using std::chrono::seconds;

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

TEST(Sessions, AccountWithoutRightsCannotLogTheAdministratorOut) {
    TestClock time;
    SessionStore store(seconds(1800), 1000, time.clock());
    const std::string admin = store.Create("admin", kAdministratorAccess);
    std::vector<std::string> guest;
    for (int i = 0; i < 1000; ++i) {
        time.now += seconds(1);
        guest.push_back(store.Create("guest", kNoAccess));
        ASSERT_FALSE(guest.back().empty()) << i;
    }
    EXPECT_TRUE(store.Use(admin).has_value());
    EXPECT_EQ(store.size(), 1 + kDefaultSessionsPerAccount);
    for (std::size_t i = 0; i < guest.size(); ++i) {
        const bool kept = i + kDefaultSessionsPerAccount >= guest.size();
        EXPECT_EQ(store.Use(guest[i]).has_value(), kept) << i;
    }
}

TEST(Sessions, AccountOverItsCapLosesItsLeastRecentlyUsedSession) {
    TestClock time;
    SessionStore store(seconds(600), 100, time.clock(), 2);
    const std::string first = store.Create("a", 1);
    const std::string other = store.Create("b", 1);
    time.now += seconds(1);
    const std::string second = store.Create("a", 1);
    time.now += seconds(1);
    ASSERT_TRUE(store.Use(first).has_value());  // now `second` is a's oldest
    time.now += seconds(1);
    SessionRefusal refusal = SessionRefusal::kStoreFull;
    const std::string third = store.Create("a", 1, &refusal);
    EXPECT_EQ(refusal, SessionRefusal::kNone);
    EXPECT_TRUE(store.Use(first).has_value());
    EXPECT_FALSE(store.Use(second).has_value());
    EXPECT_TRUE(store.Use(third).has_value());
    EXPECT_TRUE(store.Use(other).has_value());  // older than all of them, but b's
}

TEST(Sessions, FullStoreMakesRoomOnlyFromTheSameAccount) {
    TestClock time;
    SessionStore store(seconds(600), 2, time.clock(), 8);
    const std::string a = store.Create("a", 1);
    time.now += seconds(1);
    const std::string b = store.Create("b", 1);
    time.now += seconds(1);

    SessionRefusal refusal = SessionRefusal::kNone;
    EXPECT_EQ(store.Create("c", 1, &refusal), "");
    EXPECT_EQ(refusal, SessionRefusal::kStoreFull);
    EXPECT_TRUE(store.Use(b).has_value());
    time.now += seconds(1);
    EXPECT_TRUE(store.Use(a).has_value());

    // b's session is now the least recently used of the store, yet a's own goes.
    const std::string again = store.Create("a", 1, &refusal);
    EXPECT_EQ(refusal, SessionRefusal::kNone);
    EXPECT_FALSE(store.Use(a).has_value());
    EXPECT_TRUE(store.Use(again).has_value());
    EXPECT_TRUE(store.Use(b).has_value());

    // Expired sessions do not hold a place.
    time.now += seconds(600);
    EXPECT_FALSE(store.Create("c", 1, &refusal).empty());
    EXPECT_EQ(refusal, SessionRefusal::kNone);
    EXPECT_EQ(store.size(), 1u);
}

}  // namespace
