// Tests of the delay after failed logins.
#include <chrono>

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
