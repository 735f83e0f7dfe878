// cons_fixture.h: what every Manage Connections test shares: the plug-in's logger on a scratch
// file, the monitoring double reset before and checked after each test (nothing leaked, no
// double or foreign free), and a helper that serves a request the way the host does.
#ifndef KEL2CIFS_TESTS_CONNECTIONS_CONS_FIXTURE_H
#define KEL2CIFS_TESTS_CONNECTIONS_CONS_FIXTURE_H

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "connections/dispatch.h"
#include "logger/logger.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"
#include "support/released_check.h"

namespace kel2cifs::cons_test {

class ConsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Login times are shown in the local time of the process.
        setenv("TZ", "UTC", 1);
        tzset();
        fake::Reset();
        log_.emplace(kLevelEverything);
    }
    void TearDown() override {
        fake::ExpectEverythingReleased();
        log_.reset();
    }

    std::string LogText() const { return log_->Text(); }

    // Serves request through cifsconsMethod and checks that the response was completed without
    // breaking the host's rules.
    int Serve(fake::Request &request, unsigned int access = fake::kAdministratorAccess) {
        const int status = fake::Serve(cifsconsMethod, request, access);
        EXPECT_TRUE(request.Complete()) << fake::ResponseName(request.state);
        EXPECT_THAT(request.violations, ::testing::IsEmpty());
        return status;
    }

  private:
    std::optional<testing_support::LogCapture> log_;
};

// A connection of the list with the fields the pages show.
inline fake::Connection Conn(uint16_t number, std::string user, uint64_t bytes = 0,
                             uint32_t requests = 0, uint64_t loginTime = 1700000000,
                             std::string type = "Ravelin") {
    fake::Connection c;
    c.connNumber = number;
    c.netAddress = "10.0.0." + std::to_string(number);
    c.userName = std::move(user);
    c.connType = std::move(type);
    c.requestCount = requests;
    c.bytesRead = bytes / 2;
    c.bytesWritten = bytes - bytes / 2;
    c.loginTime = loginTime;
    return c;
}

}  // namespace kel2cifs::cons_test

#endif  // KEL2CIFS_TESTS_CONNECTIONS_CONS_FIXTURE_H
