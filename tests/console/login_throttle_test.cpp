// Tests of the delay after failed logins.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "console/sessions.h"
#include "test_clock.h"

namespace {

using namespace kel::console;
using console_test::TestClock;
using std::chrono::milliseconds;

TEST(LoginThrottle, WaitDoublesPerFailureUpToTheLongestAndSuccessClearsIt) {
    TestClock time;
    LoginThrottle throttle(milliseconds(1000), milliseconds(5000), time.clock());
    EXPECT_EQ(throttle.Wait("10.0.0.1", "alice").count(), 0);
    const milliseconds expected[] = {milliseconds(1000), milliseconds(2000), milliseconds(4000),
                                     milliseconds(5000), milliseconds(5000)};
    for (milliseconds wait : expected) {
        throttle.Failed("10.0.0.1", "alice");
        EXPECT_EQ(throttle.Wait("10.0.0.1", "alice"), wait);
        EXPECT_EQ(throttle.Wait("10.0.0.2", "bob").count(), 0);  // per address
        time.now += wait - milliseconds(1);
        EXPECT_EQ(throttle.Wait("10.0.0.1", "alice"), milliseconds(1));
        time.now += milliseconds(1);
        EXPECT_EQ(throttle.Wait("10.0.0.1", "alice").count(), 0);
    }
    throttle.Succeeded("10.0.0.1", "alice");
    throttle.Failed("10.0.0.1", "alice");
    EXPECT_EQ(throttle.Wait("10.0.0.1", "alice"), milliseconds(1000));
}

TEST(LoginThrottle, AFailedNameSlowsFreshAddressesAndHoldsFailedOnesLonger) {
    TestClock time;
    LoginThrottle throttle(milliseconds(1000), milliseconds(60000), time.clock());
    for (int i = 0; i < 6; ++i) {
        throttle.Failed("10.0.0." + std::to_string(i), "admin");
    }
    // Six failures: the name waits 32 s for addresses that failed, fresh ones one gap of 3 s.
    time.now += milliseconds(1000);
    EXPECT_EQ(throttle.Wait("10.0.0.1", "admin"), milliseconds(31000));
    EXPECT_EQ(throttle.Wait("10.0.1.1", "admin"), milliseconds(2000));
    EXPECT_EQ(throttle.Wait("10.0.1.1", "guest").count(), 0);
    time.now += milliseconds(2000);
    EXPECT_EQ(throttle.Wait("10.0.1.1", "admin").count(), 0);
    // That check holds the gap: attempts sent at the same moment are not checked as well.
    EXPECT_EQ(throttle.Wait("10.0.1.2", "admin"), milliseconds(3000));
}

TEST(LoginThrottle, AnAddressTheNameLoggedInFromIsHeldOnlyByItsOwnRecord) {
    TestClock time;
    LoginThrottle throttle(milliseconds(1000), milliseconds(60000), time.clock());
    throttle.Succeeded("10.0.0.1", "admin");
    // Another account logging in from many addresses does not push out the administrator's.
    for (int i = 0; i < 10; ++i) {
        throttle.Succeeded("10.9.0." + std::to_string(i), "guest");
        throttle.Succeeded("10.9.0." + std::to_string(i), "admin2");
    }
    for (int i = 0; i < 8; ++i) {
        throttle.Failed("10.1.0." + std::to_string(i), "admin");
    }
    time.now += milliseconds(1);
    EXPECT_EQ(throttle.Wait("10.0.0.1", "admin").count(), 0);
    EXPECT_GT(throttle.Wait("10.0.0.2", "admin").count(), 0);
    // Known for its own name only.
    throttle.Failed("10.1.0.1", "guest");
    EXPECT_GT(throttle.Wait("10.0.0.1", "guest").count(), 0);
    // A failure from the known address itself holds it back as any address.
    throttle.Failed("10.0.0.1", "admin");
    EXPECT_EQ(throttle.Wait("10.0.0.1", "admin"), milliseconds(1000));
}

TEST(LoginThrottle, NamesBeyondTheCapShareOneRecordAndFlushNoOther) {
    TestClock time;
    LoginThrottle throttle(milliseconds(1000), milliseconds(60000), time.clock());
    for (int i = 0; i < 5; ++i) {
        throttle.Failed("10.0.0.1", "admin");
    }
    for (std::size_t i = 0; i < LoginThrottle::kNameCapacity + 100; ++i) {
        throttle.Failed("10.1.0." + std::to_string(i), "name" + std::to_string(i));
    }
    throttle.Failed("10.2.0.1", std::string(65, 'x'));  // no account name at all
    time.now += milliseconds(500);
    // The administrator's record survived the flood of names.
    EXPECT_EQ(throttle.Wait("10.0.0.1", "admin"), milliseconds(15500));
    // A name past the cap waits on the shared record, which has failed over a hundred times.
    EXPECT_GT(throttle.Wait("10.3.0.1", "unseen"), milliseconds(0));
    EXPECT_GT(throttle.Wait("10.3.0.2", std::string(70, 'y')), milliseconds(0));
    // Records are forgotten a while after their wait ended.
    time.now += std::chrono::minutes(20);
    throttle.Failed("10.4.0.1", "late");
    EXPECT_EQ(throttle.Wait("10.3.0.3", "unseen").count(), 0);
}

}  // namespace
