#include "plugin/config.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "common/temp_dir.h"

namespace kel2cifs {
namespace {

using testing_support::TempDir;

class ConfigFile : public ::testing::Test {
  protected:
    std::string Write(const std::string &content) { return dir_.Write("k.conf", content).string(); }

    // Reads key with the load routine's capacity; value starts as "unchanged".
    int Read(const std::string &path, const char *key, const char *fallback = nullptr) {
        std::strcpy(value_, "unchanged");
        limit_ = kConfigValueLimit;
        return ReadConfigFileValue(path.c_str(), key, value_, &limit_, fallback);
    }

    TempDir dir_;
    char value_[128] = "";
    int limit_ = 0;
};

TEST_F(ConfigFile, TakesTheSecondWordOfTheFirstMatchingLine) {
    std::string path = Write("LOG_LEVEL DEBUG trailing comment\nLOG_LEVEL ERROR\n");
    EXPECT_EQ(Read(path, "LOG_LEVEL"), 0);
    EXPECT_STREQ(value_, "DEBUG");
}

TEST_F(ConfigFile, SkipsCommentsShortLinesAndJoinedPairs) {
    std::string path = Write(
        "# LOG_LEVEL ERROR\n"
        ";LOG_LEVEL ERROR\n"
        "#LOG_LEVEL ERROR\n"
        "LOG_LEVEL\n"
        "LOG_LEVEL=ERROR\n"
        "\n"
        "   \t\n"
        "\tLOG_LEVEL \t INFO\n");
    EXPECT_EQ(Read(path, "LOG_LEVEL"), 0);
    EXPECT_STREQ(value_, "INFO");
}

TEST_F(ConfigFile, KeyMatchesExactlyWithCase) {
    std::string path = Write("log_level DEBUG\nLOG_LEVELS DEBUG\nLOG_LEVE DEBUG\n");
    EXPECT_EQ(Read(path, "LOG_LEVEL"), kConfigNoValue);
    EXPECT_STREQ(value_, "unchanged");
    EXPECT_EQ(Read(path, "LOG_LEVEL", "WARNING"), 0);
    EXPECT_STREQ(value_, "WARNING");
}

TEST_F(ConfigFile, ValueMustBeShorterThanTheLimit) {
    std::string fits(63, 'v');
    std::string tooLong(64, 'w');
    std::string path = Write("A " + fits + "\nB " + tooLong + "\nB short\n");
    EXPECT_EQ(Read(path, "A"), 0);
    EXPECT_EQ(std::string(value_), fits);

    // The first matching line wins even when it is refused; the output is left as it was.
    EXPECT_EQ(Read(path, "B", "default"), kConfigTooLong);
    EXPECT_EQ(limit_, 65);
    EXPECT_STREQ(value_, "unchanged");
}

TEST_F(ConfigFile, DefaultThatDoesNotFitIsRefusedToo) {
    std::string path = Write("");
    std::string fallback(64, 'd');
    EXPECT_EQ(Read(path, "MISSING", fallback.c_str()), kConfigTooLong);
    EXPECT_EQ(limit_, 65);
    EXPECT_STREQ(value_, "unchanged");
}

TEST_F(ConfigFile, LongLinesAreReadInPiecesOf511Characters) {
    // The first piece is a comment of 511 characters; what follows is parsed as a line of its own.
    std::string comment = "#" + std::string(509, ' ') + "x";
    ASSERT_EQ(comment.size(), 511u);
    std::string path = Write(comment + "LOG_LEVEL ERROR\n");
    EXPECT_EQ(Read(path, "LOG_LEVEL"), 0);
    EXPECT_STREQ(value_, "ERROR");
}

TEST_F(ConfigFile, ArgumentAndFileFailures) {
    std::string path = Write("K V\n");
    EXPECT_EQ(Read(path, nullptr), kConfigBadArgument);
    EXPECT_STREQ(value_, "unchanged");
    EXPECT_EQ(Read((dir_.path() / "no/such/dir/k.conf").string(), "K", "x"), kConfigNoFile);
    EXPECT_STREQ(value_, "unchanged");
}

TEST_F(ConfigFile, ReadingAMissingFileCreatesItEmpty) {
    std::string path = (dir_.path() / "new.conf").string();
    EXPECT_EQ(Read(path, "K"), kConfigNoValue);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST(ConfigFileExists, ReportsAWritableFileOnly) {
    TempDir dir;
    int exists = 7;
    EXPECT_EQ(ConfigFileExists((dir.path() / "none").c_str(), &exists), kConfigNoFile);
    EXPECT_EQ(exists, 0);
    // Checking must not create the file.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "none"));

    std::string path = dir.Write("k.conf", "K V\n").string();
    EXPECT_EQ(ConfigFileExists(path.c_str(), &exists), 0);
    EXPECT_EQ(exists, 1);
}

TEST(ConfigFileExists, ReadOnlyFileCountsAsMissing) {
    TempDir dir;
    std::string path = dir.Write("k.conf", "K V\n").string();
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.str().c_str(), 0755), 0);
    // Root may write any file: check as an unprivileged user in a child process.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(3);
        }
        int exists = 7;
        int rc = ConfigFileExists(path.c_str(), &exists);
        _exit(rc == kConfigNoFile && exists == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kel2cifs
