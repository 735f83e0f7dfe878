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

#include "common/temp_dir.h"
#include "logger/logger.h"
#include "ofm/dispatch.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"
#include "support/text_match.h"

namespace kel2cifs::ofm_test {

// The plug-in's logger, on a file in a scratch directory, at the level that writes everything.
class TestLog {
  public:
    static TestLog &Instance() {
        static TestLog instance;
        return instance;
    }
    std::size_t Size() const { return testing_support::ReadFile(file_).size(); }
    // The lines written since offset, each tag reduced to its level letter: "[D] text\n".
    std::string Since(std::size_t offset) const {
        std::string text = testing_support::ReadFile(file_);
        text = offset <= text.size() ? text.substr(offset) : std::string();
        std::string reduced;
        for (std::size_t at = 0; at < text.size();) {
            std::size_t length = TimeTagLength(text, at);
            if (length != 0) {
                reduced += text.substr(at, 2) + "] ";
                at += length;
            } else {
                reduced += text[at++];
            }
        }
        return reduced;
    }

  private:
    // The length of a tag "[D 2024-01-31 12:00:00] " at `at` (any level letter), else 0.
    static std::size_t TimeTagLength(const std::string &text, std::size_t at) {
        static constexpr std::string_view kShape = "[L 0000-00-00 00:00:00] ";
        if (text.compare(at, 1, "[") != 0 || at + kShape.size() > text.size() ||
            std::string_view("!WiD*").find(text[at + 1]) == std::string_view::npos) {
            return 0;
        }
        for (std::size_t i = 2; i < kShape.size(); ++i) {
            char expected = kShape[i];
            char c = text[at + i];
            if (expected == '0' ? (c < '0' || c > '9') : c != expected) {
                return 0;
            }
        }
        return kShape.size();
    }

    TestLog() : file_((directory_.path() / "libkel2cifs.log").string()) {
        kel2cifs::log = Logger_init(file_.c_str(), kLevelEverything);
        kel2cifs::log->setLevel(kLevelEverything);
    }
    testing_support::TempDir directory_;
    std::string file_;
};

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

inline std::string Join(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) {
        text += line + "\n";
    }
    return text;
}

class OfmTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        logStart_ = TestLog::Instance().Size();
    }
    void TearDown() override {
        EXPECT_EQ(fake::Outstanding(), 0u) << Join(fake::OutstandingBlocks());
        EXPECT_THAT(fake::Errors(), ::testing::IsEmpty());
    }
    // The log lines this test wrote.
    std::string LogText() const { return TestLog::Instance().Since(logStart_); }

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
