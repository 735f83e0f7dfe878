// logger_fixture.h: a system-log capture and a fixture that gives every
// logger test a freshly initialised process-wide logger on a file of its own.
#ifndef KEL2CIFS_TESTS_LOGGER_LOGGER_FIXTURE_H
#define KEL2CIFS_TESTS_LOGGER_LOGGER_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "common/temp_dir.h"
#include "logger/logger.h"
#include "logger/syslog_sink.h"

namespace kel2cifs::testing {

// The shared scratch directory, with its path as text to join file names to.
class TempDir : public testing_support::TempDir {
  public:
    std::string path() const { return str(); }
};

using testing_support::ReadFile;

inline bool Exists(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

inline unsigned PermissionBits(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0xffffu;
}

// Replaces every "%F %T" local time ("dddd-dd-dd dd:dd:dd") with "T", so that whole files can be
// compared byte for byte.
inline std::string WithoutTimes(const std::string &text) {
    static constexpr char kShape[] = "0000-00-00 00:00:00";
    constexpr std::size_t kLength = sizeof(kShape) - 1;
    auto isTime = [&](std::size_t at) {
        for (std::size_t i = 0; i < kLength; ++i) {
            const bool digit = text[at + i] >= '0' && text[at + i] <= '9';
            if (kShape[i] == '0' ? !digit : text[at + i] != kShape[i]) {
                return false;
            }
        }
        return true;
    };
    std::string result;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text.size() - at >= kLength && isTime(at)) {
            result += 'T';
            at += kLength;
        } else {
            result += text[at++];
        }
    }
    return result;
}

// What the logger sent towards the system log.
struct SyslogCapture {
    std::vector<std::pair<int, std::string>> messages;  // priority, text
    std::string identity;
    int option = -1;
    int facility = -1;
    int opens = 0;
    int closes = 0;

    static SyslogCapture &Get() {
        static SyslogCapture capture;
        return capture;
    }
    static void Open(const char *identity, int option, int facility) {
        Get().identity = identity;
        Get().option = option;
        Get().facility = facility;
        ++Get().opens;
    }
    static void Write(int priority, const char *text) {
        Get().messages.emplace_back(priority, text);
    }
    static void Close() { ++Get().closes; }
};

// Each test starts from a deinitialised logger with the system log captured, and leaves it so.
class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        Logger_deinit();
        SyslogCapture::Get() = SyslogCapture{};
        g_syslog_sink = SyslogSink{SyslogCapture::Open, SyslogCapture::Write, SyslogCapture::Close};
        path_ = dir_.File("test.log");
    }
    void TearDown() override {
        Logger_deinit();
        g_syslog_sink = kSyslogSinkDefault;
    }

    Logger *Start(int level = kLevelEverything) {
        Logger *logger = Logger_init(path_.c_str(), level);
        EXPECT_NE(logger->stream, nullptr);
        return logger;
    }
    std::string Contents() const { return WithoutTimes(ReadFile(path_)); }
    static std::vector<std::pair<int, std::string>> &Sent() {
        return SyslogCapture::Get().messages;
    }

    TempDir dir_;
    std::string path_;
};

}  // namespace kel2cifs::testing

#endif  // KEL2CIFS_TESTS_LOGGER_LOGGER_FIXTURE_H
