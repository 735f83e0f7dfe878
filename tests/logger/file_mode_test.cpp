// The modes the logger's files are created with. The log file holds posted form data, so it must
// never exist with wider permissions than 0600, not even between its creation and a chmod.
//
// This binary replaces fchmod for the code linked into it: the replacement records the mode the
// file has when the chmod is asked for (which is the mode it was created with) and can refuse the
// chmod, so that the creation mode stays observable afterwards.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "logger_fixture.h"

namespace {

struct ChmodSpy {
    bool refuse = false;
    std::vector<unsigned> modesBefore;
};

ChmodSpy g_chmod;

}  // namespace

extern "C" int fchmod(int descriptor, mode_t mode) noexcept {
    struct stat status;
    if (fstat(descriptor, &status) == 0) {
        g_chmod.modesBefore.push_back(status.st_mode & 07777);
    }
    if (g_chmod.refuse) {
        errno = EPERM;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fchmod, descriptor, mode));
}

namespace kel2cifs::testing {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Runs the test body under a given umask with the chmod spy reset, and restores both.
class LoggerFileModeTest : public LoggerTest {
  protected:
    void SetUp() override {
        LoggerTest::SetUp();
        g_chmod = ChmodSpy{};
        savedMask_ = umask(0);
    }
    void TearDown() override {
        umask(savedMask_);
        g_chmod = ChmodSpy{};
        LoggerTest::TearDown();
    }

    mode_t savedMask_ = 0;
};

TEST_F(LoggerFileModeTest, OpenFileStreamCreatesTheFileForItsOwnerOnly) {
    FILE *stream = OpenFileStream(path_.c_str(), 0);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(PermissionBits(path_), 0600u);
    EXPECT_NE(fcntl(fileno(stream), F_GETFD) & FD_CLOEXEC, 0);
    // Still "a+": writes go to the end, reads start at the beginning.
    std::fputs("second\n", stream);
    std::fflush(stream);
    std::rewind(stream);
    char text[16] = "";
    ASSERT_NE(std::fgets(text, sizeof(text), stream), nullptr);
    EXPECT_STREQ(text, "second\n");
    std::fclose(stream);
}

TEST_F(LoggerFileModeTest, OpenFileStreamLeavesAnExistingFilesModeAndContents) {
    { std::ofstream(path_) << "old\n"; }
    chmod(path_.c_str(), 0640);
    FILE *stream = OpenFileStream(path_.c_str(), 0);
    ASSERT_NE(stream, nullptr);
    std::fputs("new\n", stream);
    std::fclose(stream);
    EXPECT_EQ(PermissionBits(path_), 0640u);
    EXPECT_EQ(ReadFile(path_), "old\nnew\n");
}

TEST_F(LoggerFileModeTest, OpenstreamCreatesTheLogFile0600BeforeAnyChmod) {
    Logger *logger = Start();
    EXPECT_EQ(PermissionBits(path_), 0600u);
    EXPECT_EQ(g_chmod.modesBefore, std::vector<unsigned>{0600u});

    g_chmod.refuse = true;
    std::string other = dir_.File("other.log");
    CaptureStderr();
    EXPECT_EQ(logger->openstream(other.c_str()), 0);
    GetCapturedStderr();
    EXPECT_EQ(PermissionBits(other), 0600u);
}

TEST_F(LoggerFileModeTest, ReopenCreatesAMissingLogFile0600) {
    Logger *logger = Start();
    ASSERT_EQ(std::remove(path_.c_str()), 0);
    g_chmod.refuse = true;
    CaptureStderr();
    logger->setMode(0);
    GetCapturedStderr();
    ASSERT_NE(logger->stream, nullptr);
    EXPECT_EQ(PermissionBits(path_), 0600u);
}

TEST_F(LoggerFileModeTest, ControlFileIsCreated0644AndStays0644UnderANarrowMask) {
    std::string control = dir_.File("control");
    std::string link = dir_.File("link");
    g_chmod.refuse = true;
    EXPECT_EQ(SetupLogRotateControlFile(dir_.path().c_str(), control.c_str(), link.c_str(), "c"),
              0);
    EXPECT_EQ(PermissionBits(control), 0644u);

    g_chmod.refuse = false;

    umask(077);
    std::string narrow = dir_.File("narrow");
    EXPECT_EQ(SetupLogRotateControlFile(dir_.path().c_str(), narrow.c_str(), link.c_str(), "c"), 0);
    EXPECT_EQ(PermissionBits(narrow), 0644u);
}

}  // namespace
}  // namespace kel2cifs::testing
