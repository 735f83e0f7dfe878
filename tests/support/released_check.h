// released_check.h: the check that ends every test of a page served with the monitoring double.
#ifndef KEL2CIFS_TESTS_SUPPORT_RELEASED_CHECK_H
#define KEL2CIFS_TESTS_SUPPORT_RELEASED_CHECK_H

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/fake_monitoring.h"

namespace fake {

// Fails unless every record the double handed out was given back, none twice and none that it
// did not hand out; lists the records still out.
inline void ExpectEverythingReleased() {
    std::string blocks;
    for (const std::string &block : OutstandingBlocks()) {
        blocks += block + "\n";
    }
    EXPECT_EQ(Outstanding(), 0u) << blocks;
    EXPECT_THAT(Errors(), ::testing::IsEmpty());
}

}  // namespace fake

#endif  // KEL2CIFS_TESTS_SUPPORT_RELEASED_CHECK_H
