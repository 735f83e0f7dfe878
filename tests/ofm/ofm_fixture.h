// ofm_fixture.h: what every Manage Open Files test shares: a process-wide log file to read the
// trace from, a fixture that resets the monitoring double and checks afterwards that the plug-in
// gave back every record it was handed, and helpers to serve requests.
#ifndef KEL2CIFS_TESTS_OFM_OFM_FIXTURE_H
#define KEL2CIFS_TESTS_OFM_OFM_FIXTURE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "logger/logger.h"
#include "ofm/dispatch.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"
#include "support/released_check.h"
#include "support/text_match.h"

namespace kel2cifs::ofm_test {

// The plug-in's logger for the whole process, at the level that writes everything.
inline testing_support::LogCapture &TestLog() {
    static testing_support::LogCapture log(kLevelEverything);
    return log;
}

// One connection's open files on a volume, as the monitoring library lists them.
inline fake::VolumeFiles Record(uint16_t connNumber, std::string userName,
                                std::vector<fake::Entry> fileNames,
                                std::optional<uint16_t> fileCount = std::nullopt) {
    fake::VolumeFiles record;
    record.connNumber = connNumber;
    record.userName = std::move(userName);
    record.fileNames = std::move(fileNames);
    record.fileCount = fileCount;
    return record;
}

class OfmTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        logStart_ = TestLog().Size();
    }
    void TearDown() override { fake::ExpectEverythingReleased(); }
    // The log lines this test wrote.
    std::string LogText() const { return TestLog().Since(logStart_); }

    // Serves request through the service method with the administrator's access word and checks
    // that the response was completed without breaking the host's rules.
    int Serve(fake::Request &request, unsigned int access = fake::kAdministratorAccess) {
        int status = fake::Serve(cifsofmMethod, request, access);
        EXPECT_TRUE(request.Complete()) << fake::ResponseName(request.state);
        EXPECT_THAT(request.violations, ::testing::IsEmpty());
        return status;
    }

  private:
    std::size_t logStart_ = 0;
};

}  // namespace kel2cifs::ofm_test

#endif  // KEL2CIFS_TESTS_OFM_OFM_FIXTURE_H
