// Tests of the session store.
#include <cctype>
#include <chrono>
#include <string>

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

}  // namespace
