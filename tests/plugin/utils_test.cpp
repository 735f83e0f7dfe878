#include "plugin/utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "common/temp_dir.h"
#include "logger/logger.h"

namespace kel2cifs {
namespace {

using testing_support::TempDir;

void WriteFile(const std::string &path) {
    std::ofstream(path) << "x";
}

bool IsDirectory(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string Large(uint64_t value, const char *format, std::size_t size = 64) {
    std::vector<char> out(size, '#');
    CreateLargeNumberStringWithCommas(value, out.data(), out.size(), format);
    return out.data();
}

std::string Small(uint32_t value, const char *format) {
    char out[64];
    CreateStringWithCommas(value, out, sizeof(out), format);
    return out;
}

TEST(CommaFormat, GroupsEveryDigitCountInThrees) {
    const char *expected[] = {"1",
                              "12",
                              "123",
                              "1,234",
                              "12,345",
                              "123,456",
                              "1,234,567",
                              "12,345,678",
                              "123,456,789",
                              "1,234,567,890",
                              "12,345,678,901",
                              "123,456,789,012",
                              "1,234,567,890,123",
                              "12,345,678,901,234",
                              "123,456,789,012,345",
                              "1,234,567,890,123,456",
                              "12,345,678,901,234,567",
                              "123,456,789,012,345,678",
                              "1,234,567,890,123,456,789",
                              "12,345,678,901,234,567,890"};
    uint64_t value = 0;
    for (int digits = 1; digits <= 20; ++digits) {
        value = value * 10 + static_cast<uint64_t>(digits % 10);
        EXPECT_EQ(Large(value, "%llu"), expected[digits - 1]) << digits << " digits";
        if (value <= UINT32_MAX) {
            EXPECT_EQ(Small(static_cast<uint32_t>(value), "%u"), expected[digits - 1]);
        }
    }
}

TEST(CommaFormat, LimitsSignsAndDigitRuns) {
    EXPECT_EQ(Large(UINT64_MAX, "%llu"), "18,446,744,073,709,551,615");
    EXPECT_EQ(Small(UINT32_MAX, "%u"), "4,294,967,295");
    EXPECT_EQ(Large(static_cast<uint64_t>(-1234), "%lld"), "-1,234");
    EXPECT_EQ(Small(static_cast<uint32_t>(-1234), "%d"), "-1,234");
    EXPECT_EQ(Small(0, "%u"), "0");
    // Digit runs of the format's own text are grouped too; any other character ends a run.
    EXPECT_EQ(Small(98765, "id 1234567 of %u (12)"), "id 1,234,567 of 98,765 (12)");
    EXPECT_EQ(Small(0x12ab3456, "%x"), "12ab3,456");
    EXPECT_EQ(Small(7, ""), "");
    EXPECT_EQ(Small(7, nullptr), "");
    // Longer than any number: the text is formatted on the heap.
    const std::string label(300, 'a');
    EXPECT_EQ(Small(1234567, (label + "%u").c_str()), std::string(63, 'a'));
    std::vector<char> wide(400);
    CreateStringWithCommas(1234567, wide.data(), wide.size(), (label + "%u").c_str());
    EXPECT_EQ(std::string(wide.data()), label + "1,234,567");
}

TEST(CommaFormat, CutsToTheOutputAndNeverWritesPastIt) {
    // "1,234,567" needs 10 bytes with its terminator.
    EXPECT_EQ(Large(1234567, "%llu", 10), "1,234,567");
    EXPECT_EQ(Large(1234567, "%llu", 9), "1,234,56");
    EXPECT_EQ(Large(1234567, "%llu", 2), "1");
    EXPECT_EQ(Large(1234567, "%llu", 1), "");
    EXPECT_EQ(Large(1234, "%llu", 2), "1");
    EXPECT_EQ(Large(1234, "%llu", 3), "1,");
    for (std::size_t size = 0; size <= 10; ++size) {
        char guard[16];
        std::memset(guard, '#', sizeof(guard));
        CreateLargeNumberStringWithCommas(1234567, guard, size, "%llu");
        for (std::size_t i = size; i < sizeof(guard); ++i) {
            ASSERT_EQ(guard[i], '#') << "byte " << i << " written with size " << size;
        }
        if (size > 0) {
            EXPECT_EQ(std::strlen(guard), size - 1);
        }
    }
}

class PackedDate : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
    }
};

// 2022-06-15 13:45:30.
constexpr uint16_t kJuneDate = ((2022 - 1980) << 9) | (6 << 5) | 15;
constexpr uint16_t kAfternoon = (13 << 11) | (45 << 5) | (30 / 2);

TEST_F(PackedDate, PackedDateAndTimeRoundTrip) {
    struct tm record {};
    const time_t seconds = ConvertOrvantaDataAndTimeToLinux(kJuneDate, kAfternoon, &record);
    EXPECT_EQ(seconds, 1655300730);
    struct tm back {};
    ASSERT_NE(localtime_r(&seconds, &back), nullptr);
    EXPECT_EQ(back.tm_year, 122);
    EXPECT_EQ(back.tm_mon, 5);
    EXPECT_EQ(back.tm_mday, 15);
    EXPECT_EQ(back.tm_hour, 13);
    EXPECT_EQ(back.tm_min, 45);
    EXPECT_EQ(back.tm_sec, 30);
    EXPECT_EQ(record.tm_wday, 3);  // normalised by mktime: a Wednesday
    EXPECT_EQ(ConvertOrvantaDataAndTimeToLinux(kJuneDate, kAfternoon, nullptr), seconds);
}

TEST_F(PackedDate, MonthZeroIsDecemberOfTheYearBefore) {
    struct tm record {};
    ConvertOrvantaDataAndTimeToLinux(((2022 - 1980) << 9) | 15, 0, &record);
    EXPECT_EQ(record.tm_year, 121);
    EXPECT_EQ(record.tm_mon, 11);
    EXPECT_EQ(record.tm_mday, 15);
}

TEST_F(PackedDate, TimeBufferHoldsTheAsctimeTextWithinItsSize) {
    char out[kTimeBufferSize + 8];
    std::memset(out, '#', sizeof(out));
    const uint32_t value = (static_cast<uint32_t>(kJuneDate) << 16) | kAfternoon;
    EXPECT_EQ(OrvantaDataAndTimeToTimeBuffer(value, out), out);
    EXPECT_STREQ(out, "Wed Jun 15 13:45:30 2022\n");
    for (std::size_t i = kTimeBufferSize; i < sizeof(out); ++i) {
        EXPECT_EQ(out[i], '#');
    }
    // The latest date and time the words can hold: day 31, month 15, seconds field 31.
    OrvantaDataAndTimeToTimeBuffer(0xFFFFFFFF, out);
    EXPECT_STREQ(out, "Sun Apr  1 08:04:02 2108\n");
}

TEST(VerifyLinuxPath, AcceptsOnlyCanonicalExistingPaths) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
    WriteFile(dir.File("file"));
    ASSERT_EQ(symlink(dir.File("sub").c_str(), dir.File("link").c_str()), 0);

    EXPECT_EQ(VerifyLinuxPath(dir.path().c_str()), 0);
    EXPECT_EQ(VerifyLinuxPath(dir.File("file").c_str()), 0);
    EXPECT_EQ(VerifyLinuxPath(dir.File("sub/").c_str()), 40);
    EXPECT_EQ(VerifyLinuxPath(dir.File("./sub").c_str()), 40);
    EXPECT_EQ(VerifyLinuxPath(dir.File("sub/../sub").c_str()), 40);
    EXPECT_EQ(VerifyLinuxPath((dir.str() + "//sub").c_str()), 40);
    EXPECT_EQ(VerifyLinuxPath(dir.File("link").c_str()), 40);
    EXPECT_EQ(VerifyLinuxPath(dir.File("missing").c_str()), ENOENT);
    EXPECT_EQ(VerifyLinuxPath(nullptr), EINVAL);

    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const int relative = VerifyLinuxPath("sub");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(relative, 40);
}

TEST(VerifyLinuxPath, LogsEachRefusal) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    testing_support::DebugCapture captured;
    const std::string missing = dir.File("missing");
    VerifyLinuxPath(missing.c_str());
    VerifyLinuxPath((dir.str() + "/").c_str());
    EXPECT_EQ(captured.Lines(), (std::vector<std::string>{
                                    "[VerifyLinuxPath] lnxpath=" + missing,
                                    "[VerifyLinuxPath] stat lnxpath=" + missing + " rc=2",
                                    "[VerifyLinuxPath] lnxpath=" + dir.str() + "/",
                                    "[VerifyLinuxPath] strcmp lnxpath=" + dir.str() + "/ rc=40",
                                }));
}

TEST(CreateLinuxPath, BuildsChainsAndRefusesFilesInTheWay) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string chain = dir.File("a/b/c");
    EXPECT_EQ(CreateLinuxPath(chain.c_str()), 0);
    EXPECT_TRUE(IsDirectory(chain));
    EXPECT_EQ(CreateLinuxPath(chain.c_str()), 0);               // existing chain
    EXPECT_EQ(CreateLinuxPath(dir.File("a/b/d/").c_str()), 0);  // trailing slash
    EXPECT_TRUE(IsDirectory(dir.File("a/b/d")));
    ASSERT_EQ(symlink(dir.File("a").c_str(), dir.File("to-a").c_str()), 0);
    EXPECT_EQ(CreateLinuxPath(dir.File("to-a/e").c_str()), 0);
    EXPECT_TRUE(IsDirectory(dir.File("a/e")));

    WriteFile(dir.File("file"));
    EXPECT_EQ(CreateLinuxPath(dir.File("file/x/y").c_str()), ENOTDIR);
    EXPECT_EQ(CreateLinuxPath(dir.File("file").c_str()), EEXIST);
    EXPECT_EQ(CreateLinuxPath(dir.File("file/").c_str()), EEXIST);
    errno = 0;
    EXPECT_EQ(pkg_dir_build(dir.File("file/x").c_str(), 0755), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(pkg_dir_build(nullptr, 0755), -1);
    EXPECT_EQ(pkg_dir_build("/", 0755), 0);
}

TEST(CreateLinuxPath, LogsTheFailureWithItsErrorNumber) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    WriteFile(dir.File("file"));
    testing_support::DebugCapture captured;
    const std::string path = dir.File("file/x");
    EXPECT_EQ(CreateLinuxPath(path.c_str()), ENOTDIR);
    EXPECT_EQ(captured.Lines(),
              (std::vector<std::string>{"[CreateLinuxPath] lnxpath=" + path,
                                        "[CreateLinuxPath] lnxpath=" + path + " rc=20"}));
}

TEST(CreateLinuxPath, UsesItsModesBeforeTheMask) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const mode_t saved = umask(0);
    const int built = pkg_dir_build(dir.File("open/inner").c_str(), 0);
    const int created = CreateLinuxPath(dir.File("owner/inner").c_str());
    const int folder = MakeLinuxFolder(dir.File("single").c_str());
    umask(saved);
    ASSERT_EQ(built, 0);
    ASSERT_EQ(created, 0);
    ASSERT_EQ(folder, 0);
    struct stat status;
    ASSERT_EQ(stat(dir.File("open").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0777u);
    ASSERT_EQ(stat(dir.File("owner/inner").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0744u);
    ASSERT_EQ(stat(dir.File("single").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0744u);

    errno = 0;
    EXPECT_EQ(MakeLinuxFolder(dir.File("single").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(MakeLinuxFolder(dir.File("none/single").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

std::string Parent(const char *path, std::size_t size = 64) {
    std::vector<char> out(size + 1, '#');
    MakeParentPath(path, out.data(), size);
    EXPECT_EQ(out[size], '#');
    return size > 0 ? std::string(out.data()) : std::string();
}

TEST(MakeParentPath, KeepsEverythingBeforeTheLastSlash) {
    EXPECT_EQ(Parent("/a/b"), "/a");
    EXPECT_EQ(Parent("a/b/"), "a/b");
    EXPECT_EQ(Parent("/a"), "");
    EXPECT_EQ(Parent("a"), "");
    EXPECT_EQ(Parent(""), "");
    EXPECT_EQ(Parent(nullptr), "");
    EXPECT_EQ(Parent("/var/log/file", 5), "/var");
    EXPECT_EQ(Parent("/var/log/file", 0), "");
    char inPlace[] = "/var/log/file";
    MakeParentPath(inPlace, inPlace, sizeof(inPlace));
    EXPECT_STREQ(inPlace, "/var/log");
}

TEST(Strupr, UpperCasesLettersInPlace) {
    char text[] = "abc Def-9z_\xe9";
    EXPECT_EQ(_strupr(text), 0);
    EXPECT_STREQ(text, "ABC DEF-9Z_\xe9");
    EXPECT_EQ(_strupr(nullptr), 0);
}

}  // namespace
}  // namespace kel2cifs
