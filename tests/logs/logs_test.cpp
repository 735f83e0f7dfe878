#include "logs/logs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "common/error_page.h"
#include "common/golden.h"
#include "common/log_capture.h"
#include "common/temp_dir.h"
#include "expected_logs.h"
#include "logger/logger.h"
#include "plugin/pages.h"
#include "plugin/paths.h"
#include "support/fake_host.h"
#include "support/text_match.h"

namespace kel2cifs {
namespace {

using fake::TextEq;
using testing_support::ErrorPageBody;
using testing_support::Golden;
using testing_support::LogCapture;
using testing_support::TempDir;

using expected_logs::kDark;
using expected_logs::kLight;
using expected_logs::ListPage;
using expected_logs::Row;

// A root with the log directory below it, the paths resolved there, and a logger without a
// stream at the level the test sets.
class LogsPage : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = temp_.str();
        ASSERT_EQ(setenv("KEL2CIFS_ROOT", root_.c_str(), 1), 0);
        ResolvePaths();
        logDir_ = LogDirectoryPath();
        log_.emplace(kLevelDebug);
    }
    void TearDown() override {
        log_.reset();
        unsetenv("KEL2CIFS_ROOT");
        ResolvePaths();
    }

    std::string MakeLog(const std::string &name, off_t size) {
        std::filesystem::create_directories(logDir_);
        std::string path = logDir_ + "/" + name;
        temp_.Write(std::filesystem::relative(path, root_).string(), "");
        EXPECT_EQ(truncate(path.c_str(), size), 0);
        return path;
    }

    TempDir temp_;
    std::optional<LogCapture> log_;
    std::string root_;
    std::string logDir_;
};

TEST_F(LogsPage, DebugLevelListsAllThreeFilesWithAlternatingStripes) {
    std::string server = MakeLog("cifstcp.log", 1023);
    std::string plugin = MakeLog("libkel2cifs.log", 1536);
    std::string cifs = MakeLog("cifs.log", 1572864);
    fake::Request request = fake::Get("/cifslogs");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);

    ASSERT_NE(request.header(), nullptr);
    EXPECT_EQ(request.header()->title, "CIFS System Logs");
    EXPECT_EQ(request.header()->heading, "CIFS System Logs");
    EXPECT_EQ(request.header()->options, 0u);
    EXPECT_FALSE(request.header()->hasScriptWriter);
    EXPECT_EQ(request.header()->sectionText, std::nullopt);
    EXPECT_EQ(request.header()->helpUrl, "/cifslogs/help");
    EXPECT_THAT(request.body, TextEq(ListPage(Row(kDark, server, "cifstcp.log", "1023") +
                                              Row(kLight, plugin, "libkel2cifs.log", "1 KB") +
                                              Row(kDark, cifs, "cifs.log", "1.50 MB"))));
    EXPECT_EQ(request.state, fake::Response::kEnded);
    EXPECT_TRUE(request.violations.empty());
}

TEST_F(LogsPage, InfoLevelListsOnlyTheServerLog) {
    std::string server = MakeLog("cifstcp.log", 2097152);
    MakeLog("libkel2cifs.log", 1536);
    MakeLog("cifs.log", 1536);
    log->setLevel(kLevelInfo);
    fake::Request request = fake::Get("/cifslogs");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
    EXPECT_THAT(request.body, TextEq(ListPage(Row(kDark, server, "cifstcp.log", "2 MB"))));
}

TEST_F(LogsPage, MissingAndEmptyFilesAreLeftOutAndKeepTheStripe) {
    MakeLog("cifstcp.log", 0);
    std::string cifs = MakeLog("cifs.log", 1048577);
    fake::Request request = fake::Get("/cifslogs");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
    EXPECT_THAT(request.body, TextEq(ListPage(Row(kDark, cifs, "cifs.log", "1 MB"))));
}

TEST_F(LogsPage, ByteCountsStopAt1023) {
    std::string server = MakeLog("cifstcp.log", 1024);
    std::string plugin = MakeLog("libkel2cifs.log", 1);
    fake::Request request = fake::Get("/cifslogs");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
    EXPECT_THAT(request.body, TextEq(ListPage(Row(kDark, server, "cifstcp.log", "1 KB") +
                                              Row(kLight, plugin, "libkel2cifs.log", "1"))));
}

// The request is logged before its path is taken apart, and posted data reaches the log as
// plain text, never as a format.
TEST_F(LogsPage, LogsTheUrlAndDumpsPostedDataVerbatim) {
    log->setLevel(kLevelDump);
    fake::Request post = fake::Post("/cifslogs/help", "x=%s%n%d");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, post, fake::kAdministratorAccess), 200);
    fake::Request failed = fake::Post("/cifslogs", "lost=1");
    failed.postDataSucceeds = false;
    EXPECT_EQ(fake::Serve(cifsLogsMethod, failed, fake::kAdministratorAccess), 200);
    EXPECT_THAT(failed.body, TextEq(ListPage("")));

    std::string text = log_->Text();
    const std::size_t url = text.find("] URL = /cifslogs/help\n");
    const std::size_t dump = text.find("] <dump>\nx=%s%n%d\n</dump>\n");
    const std::size_t second = text.find("] URL = /cifslogs\n");
    const std::size_t empty = text.find("] <dump>\n\n</dump>\n");
    ASSERT_NE(url, std::string::npos) << text;
    ASSERT_NE(dump, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    ASSERT_NE(empty, std::string::npos) << text;
    EXPECT_EQ(text.substr(url - 22, 3), "[D ");
    EXPECT_EQ(text.substr(dump - 22, 3), "[* ");
    EXPECT_LT(url, dump);
    EXPECT_LT(dump, second);
    EXPECT_LT(second, empty);
    EXPECT_EQ(text.find("lost"), std::string::npos);
}

TEST_F(LogsPage, FileBeyond32BitsShowsGigabytes) {
    std::string server = MakeLog("cifstcp.log", 5LL << 30);  // sparse
    fake::Request request = fake::Get("/cifslogs");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
    EXPECT_NE(request.body.find(Row(kDark, server, "cifstcp.log", "5 GB")), std::string::npos)
        << request.body;
}

TEST_F(LogsPage, SymbolicLinkInTheDirectoryPathHidesEveryRow) {
    // root/var/opt -> root/elsewhere: the log directory exists, but not in canonical form.
    std::filesystem::create_directories(root_ + "/elsewhere/zantio/log");
    std::filesystem::create_directories(root_ + "/var");
    std::filesystem::create_directory_symlink(root_ + "/elsewhere", root_ + "/var/opt");
    temp_.Write("elsewhere/zantio/log/cifstcp.log", std::string(2000, 'x'));
    temp_.Write("elsewhere/zantio/log/cifs.log", std::string(2000, 'x'));
    ASSERT_TRUE(std::filesystem::exists(logDir_ + "/cifstcp.log"));

    fake::Request request = fake::Get("/cifslogs");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
    EXPECT_THAT(request.body, TextEq(ListPage("")));
}

TEST_F(LogsPage, FileNamesAreDataEscapedInTextAndEncodedInTheLink) {
    std::string name = "a<b>&\"'c.log";
    MakeLog(name, 2048);
    fake::Request request = fake::Get("/cifslogs");
    ASSERT_TRUE(OpenPage(request.handle()));
    const char *next =
        BuildLogFileTableEntry(request.handle(), lpzdark, name.c_str(), logDir_.c_str());
    EXPECT_EQ(std::string(next), kLight);
    EXPECT_THAT(request.body, TextEq(Row(kDark, logDir_ + "/a%3Cb%3E%26%22%27c.log",
                                         "a&lt;b&gt;&amp;&quot;&#39;c.log", "2 KB")));
}

TEST_F(LogsPage, RowStripeAlternatesOnlyWhenARowIsWritten) {
    MakeLog("cifstcp.log", 10);
    fake::Request request = fake::Get("/cifslogs");
    ASSERT_TRUE(OpenPage(request.handle()));
    EXPECT_EQ(BuildLogFileTableEntry(request.handle(), lpzlight, "cifstcp.log", logDir_.c_str()),
              lpzdark);
    EXPECT_EQ(BuildLogFileTableEntry(request.handle(), lpzlight, "none.log", logDir_.c_str()),
              lpzlight);
    EXPECT_EQ(
        BuildLogFileTableEntry(request.handle(), lpzdark, "cifstcp.log", (logDir_ + "/").c_str()),
        lpzdark);
}

struct PathCase {
    const char *path;
    bool help;  // else the error page of kind 3
};

class LogsDispatch : public LogsPage, public ::testing::WithParamInterface<PathCase> {};

TEST_P(LogsDispatch, HelpPrefixesShowTheHelpTopicOthersTheErrorPage) {
    fake::Request request = fake::Get(GetParam().path);
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
    ASSERT_NE(request.header(), nullptr);
    if (GetParam().help) {
        EXPECT_EQ(request.header()->title, "CIFS System Logs ");
        EXPECT_EQ(request.header()->helpUrl, std::nullopt);
        EXPECT_THAT(request.body, TextEq(Golden("logs/golden/help.html")));
    } else {
        EXPECT_EQ(request.header()->title, "HTTP Failure");
        EXPECT_THAT(request.body, TextEq(ErrorPageBody("Bad Http request")));
    }
    EXPECT_TRUE(request.violations.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LogsDispatch,
    ::testing::Values(PathCase{"/cifslogs/help", true}, PathCase{"/cifslogs/HELP", true},
                      PathCase{"/cifslogs/He", true}, PathCase{"/cifslogs/", true},
                      PathCase{"/cifslogs//x", true}, PathCase{"/cifslogs/help/a/b/c", true},
                      PathCase{"/cifslogs/x", false}, PathCase{"/cifslogs/helpme", false},
                      PathCase{"/cifslogs/x/help", false}));

TEST_F(LogsPage, PathWithoutSlashAfterTheKeywordIsTheListPage) {
    for (const char *path : {"/cifslogs", "/cifslogsX", "/cifslogs?x"}) {
        fake::Request request = fake::Get(path);
        EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
        EXPECT_THAT(request.body, TextEq(ListPage(""))) << path;
    }
}

TEST_F(LogsPage, OverLongComponentIsABadRequest) {
    fake::Request request = fake::Get("/cifslogs/" + std::string(256, 'h'));
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
    EXPECT_THAT(request.body, TextEq(ErrorPageBody("Bad Http request")));
}

TEST_F(LogsPage, PostIsServedLikeGet) {
    fake::Request request = fake::Post("/cifslogs", "a=1&b=2");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 200);
    EXPECT_THAT(request.body, TextEq(ListPage("")));
}

TEST_F(LogsPage, DeclineBitsAnswerNothingAtAll) {
    for (unsigned access : {0x80000000u | 0xBu, 0x40000000u | 0xBu, 0xC0000000u}) {
        fake::Request request = fake::Get("/cifslogs");
        EXPECT_EQ(fake::Serve(cifsLogsMethod, request, access), 0);
        EXPECT_TRUE(request.calls.empty()) << access;
    }
}

TEST_F(LogsPage, AccessNeedsReadAndConsoleBits) {
    for (unsigned access : {0x0u, 0x1u, 0x8u, 0x2u | 0x8u, 0x10000000u | 0x8u}) {
        fake::Request request = fake::Get("/cifslogs");
        EXPECT_EQ(fake::Serve(cifsLogsMethod, request, access), 200);
        EXPECT_THAT(request.body, TextEq(ErrorPageBody("Unauthorized access denied"))) << access;
    }
    fake::Request request = fake::Get("/cifslogs");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, 0x9u), 200);
    EXPECT_THAT(request.body, TextEq(ListPage("")));
}

TEST_F(LogsPage, UnreadableMethodPathAndUnknownMethodGiveTheirErrorPages) {
    fake::Request noMethod = fake::Get("/cifslogs");
    noMethod.methodSucceeds = false;
    EXPECT_EQ(fake::Serve(cifsLogsMethod, noMethod, fake::kAdministratorAccess), 200);
    EXPECT_THAT(noMethod.body, TextEq(ErrorPageBody("Http request missing data")));

    fake::Request oddMethod = fake::Get("/cifslogs");
    oddMethod.methodCode = 1;
    EXPECT_EQ(fake::Serve(cifsLogsMethod, oddMethod, fake::kAdministratorAccess), 200);
    EXPECT_THAT(oddMethod.body, TextEq(ErrorPageBody("Bad Http request")));

    fake::Request noPath = fake::Get("/cifslogs");
    noPath.pathSucceeds = false;
    EXPECT_EQ(fake::Serve(cifsLogsMethod, noPath, fake::kAdministratorAccess), 200);
    EXPECT_THAT(noPath.body, TextEq(ErrorPageBody("Bad Http request")));
}

TEST_F(LogsPage, ResponseThatCannotBeOpenedGives500AndNothingElse) {
    fake::Request request = fake::Get("/cifslogs");
    request.openSucceeds = false;
    EXPECT_EQ(fake::Serve(cifsLogsMethod, request, fake::kAdministratorAccess), 500);
    EXPECT_EQ(request.errorResponses, std::vector<int>{500});
    EXPECT_TRUE(request.headers.empty());
    EXPECT_TRUE(request.body.empty());
}

struct SizeCase {
    uint64_t blockSize;
    uint64_t blocks;
    const char *text;
};

class SizeText : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeText, UnitsAndTruncatedHundredths) {
    char out[kSizeTextSize];
    int written = convert_blocks_to_string(GetParam().blockSize, GetParam().blocks, out);
    EXPECT_STREQ(out, GetParam().text);
    EXPECT_EQ(written, static_cast<int>(std::string(GetParam().text).size()));
}

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kGiB = 1ull << 30;
constexpr uint64_t kTiB = 1ull << 40;

INSTANTIATE_TEST_SUITE_P(
    Sizes, SizeText,
    ::testing::Values(SizeCase{1, 1024, "1 KB"}, SizeCase{1, 1536, "1 KB"},
                      SizeCase{1, kMiB - 1, "1023 KB"}, SizeCase{1, kMiB, "1 MB"},
                      SizeCase{1, kMiB + 1, "1 MB"}, SizeCase{1, 1572864, "1.50 MB"},
                      SizeCase{1, kMiB + kMiB / 100 + 1, "1.01 MB"}, SizeCase{1, 2097152, "2 MB"},
                      SizeCase{1, kGiB - 1, "1023.99 MB"}, SizeCase{1, 5 * kGiB, "5 GB"},
                      SizeCase{1, kGiB + kGiB / 4, "1.25 GB"}, SizeCase{512, 2048, "1 MB"},
                      SizeCase{1, kTiB, "1 TB"}, SizeCase{1, kTiB + kTiB / 2, "1.50 TB"},
                      // Terabytes count whole gigabytes: less than a gigabyte more is no more.
                      SizeCase{1, kTiB + kGiB - 1, "1 TB"},
                      SizeCase{1, UINT64_MAX, "16777215.99 TB"},
                      // A product beyond 64 bits is taken as the largest count.
                      SizeCase{UINT64_MAX, 2, "16777215.99 TB"}));

TEST(SizeTextBuffer, IsCutToTheGivenSize) {
    char out[4] = "zzz";
    EXPECT_EQ(convert_blocks_to_string(1, 1572864, out, sizeof(out)), 3);
    EXPECT_STREQ(out, "1.5");
}

}  // namespace
}  // namespace kel2cifs
