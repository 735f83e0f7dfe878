// test_clock.h: a clock for the console's session and login stores that a test moves by hand.
#ifndef KEL_TESTS_CONSOLE_TEST_CLOCK_H
#define KEL_TESTS_CONSOLE_TEST_CLOCK_H

#include <chrono>

#include "console/sessions.h"

namespace console_test {

struct TestClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
    kel::console::Clock clock() {
        return [this] { return now; };
    }
};

}  // namespace console_test

#endif  // KEL_TESTS_CONSOLE_TEST_CLOCK_H
