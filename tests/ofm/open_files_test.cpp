// The open-file list of a volume, the extension filter, the login-time text and the sample
// functions.
#include "ofm/open_files.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ofm/time_text.h"
#include "ofm_fixture.h"

namespace kel2cifs {
namespace {

using ofm_test::Record;

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

struct Listed {
    int conn;
    std::string user;
    std::string path;
    bool operator==(const Listed &) const = default;
};

void PrintTo(const Listed &file, std::ostream *out) {
    *out << "{" << file.conn << ", " << file.user << ", " << file.path << "}";
}

class OpenFileList : public ofm_test::OfmTest {
  protected:
    // Builds the list of VOL1 with filter, checks the node fields it relies on, frees it.
    std::vector<Listed> List(const std::string &filter, int expectedStatus = 0) {
        OpenFileInfo *list = nullptr;
        EXPECT_EQ(GetOpenFileList("VOL1", &list, filter.c_str()), expectedStatus);
        std::vector<Listed> files;
        for (OpenFileInfo *node = list; node != nullptr; node = node->next) {
            EXPECT_EQ(node->connNumberAlt, node->connNumber);
            files.push_back({node->connNumber, node->userName, node->fileName});
        }
        FreeOpenFileList(list);
        return files;
    }
    void SetFiles(std::vector<std::string> paths) {
        std::vector<fake::Entry> entries(paths.begin(), paths.end());
        fake::SetVolumeFiles("VOL1", {Record(4, "ann", entries)});
    }
    std::vector<std::string> Paths(const std::string &filter) {
        std::vector<std::string> paths;
        for (const Listed &file : List(filter)) {
            paths.push_back(file.path);
        }
        return paths;
    }
};

TEST_F(OpenFileList, KeepsTheLibraryOrderOfRecordsAndTheirFiles) {
    fake::SetVolumeFiles("VOL1", {Record(7, "bob", {"/VOL1/a", "/VOL1/b", "/VOL1/c"}),
                                  Record(3, "carol", {"/VOL1/d"})});
    EXPECT_THAT(List(""), ElementsAre(Listed{7, "bob", "/VOL1/a"}, Listed{7, "bob", "/VOL1/b"},
                                      Listed{7, "bob", "/VOL1/c"}, Listed{3, "carol", "/VOL1/d"}));
    EXPECT_THAT(fake::Calls(), ElementsAre("Ext_ListVolFileDetails(VOL1)", "FreeVolFileListNodes"));
}

TEST_F(OpenFileList, InactiveFiltersKeepEveryFileWithoutComparing) {
    SetFiles({"/VOL1/a.doc", "/VOL1/b.txt", "/VOL1/README"});
    for (const char *filter : {"", "*", "*.", "*.*"}) {
        EXPECT_EQ(Paths(filter).size(), 3u) << filter;
    }
    EXPECT_THAT(LogText(), Not(HasSubstr("NameCompare")));
}

TEST_F(OpenFileList, FilterIsExactAndCaseSensitive) {
    SetFiles({"/vol/a/report.doc", "/vol/a/report.DOC", "/vol/a/report.docx", "/vol/a/doc"});
    EXPECT_THAT(Paths("*.doc"), ElementsAre("/vol/a/report.doc"));
    // The first two characters are not examined.
    EXPECT_THAT(Paths("x.doc"), ElementsAre("/vol/a/report.doc"));
    const std::string log = LogText();
    EXPECT_THAT(log, HasSubstr("[D] \n ###Start retVal at NameCompare is -1 for "
                               "fileName:/vol/a/report.DOC -- filter:*.doc\n"));
    EXPECT_THAT(log, HasSubstr("[D] \n ### Skiping file:/vol/a/report.DOC--1\n"));
    EXPECT_THAT(log, HasSubstr("[D] \n ### Skiping file:/vol/a/report.docx--2\n"));
    EXPECT_THAT(log, HasSubstr("[D] \n ### Skiping file:/vol/a/doc--3\n"));
    EXPECT_THAT(log, Not(HasSubstr("Skiping file:/vol/a/report.doc--")));
}

TEST_F(OpenFileList, OnlyTheTextAfterTheLastDotCounts) {
    SetFiles({"/vol/a/data.tar.gz", "/vol/README", "/vol.1/README"});
    EXPECT_THAT(Paths("*.gz"), ElementsAre("/vol/a/data.tar.gz"));
    EXPECT_THAT(Paths("*.tar.gz"), IsEmpty());
    // Without a dot the whole path is the extension part; a dot in a directory counts too.
    EXPECT_THAT(Paths("*.README"), IsEmpty());
    EXPECT_THAT(Paths("*./vol/README"), ElementsAre("/vol/README"));
    EXPECT_THAT(Paths("*.1/README"), ElementsAre("/vol.1/README"));
}

TEST_F(OpenFileList, FiltersLongerThanMatchAllAreActive) {
    SetFiles({"/vol/a.*x", "/vol/b.doc"});
    EXPECT_THAT(Paths("*.*x"), ElementsAre("/vol/a.*x"));
}

TEST_F(OpenFileList, ASingleCharacterFilterMatchesOnlyAnEmptyExtension) {
    SetFiles({"/vol/a.", "/vol/b.doc", "/vol/c"});
    EXPECT_THAT(Paths("a"), ElementsAre("/vol/a."));
}

TEST_F(OpenFileList, RecordsWithoutFilesContributeNothing) {
    fake::SetVolumeFiles("VOL1",
                         {Record(1, "a", {}), Record(2, "b", {std::nullopt, "/VOL1/hidden"}),
                          Record(3, "c", {"/VOL1/x", std::nullopt, "/VOL1/after-null"}),
                          Record(4, "d", {"/VOL1/y"}, 3)});
    EXPECT_THAT(List(""), ElementsAre(Listed{3, "c", "/VOL1/x"}, Listed{4, "d", "/VOL1/y"}));
}

TEST_F(OpenFileList, WalksAtMostCountRecordsAndStopsAtTheEnd) {
    fake::SetVolumeFiles(
        "VOL1", {Record(1, "a", {"/1"}), Record(2, "b", {"/2"}), Record(3, "c", {"/3"})}, 0, 2);
    EXPECT_EQ(List("").size(), 2u);
    fake::SetVolumeFiles("VOL1", {Record(1, "a", {"/1"})}, 0, 50);
    EXPECT_EQ(List("").size(), 1u);
}

TEST_F(OpenFileList, CountZeroWithAListGivesNothingAndStillFreesIt) {
    fake::SetVolumeFiles("VOL1", {Record(1, "a", {"/1"})}, 0, 0);
    EXPECT_THAT(List(""), IsEmpty());
    EXPECT_THAT(fake::Calls(), ElementsAre("Ext_ListVolFileDetails(VOL1)", "FreeVolFileListNodes"));
}

TEST_F(OpenFileList, FailureStoresNothingAndIsLogged) {
    fake::SetVolumeFiles("VOL1", {Record(1, "a", {"/1"})}, 9);
    OpenFileInfo sentinel{};
    OpenFileInfo *list = &sentinel;
    EXPECT_EQ(GetOpenFileList("VOL1", &list, ""), -1);
    EXPECT_EQ(list, &sentinel);
    EXPECT_THAT(LogText(), HasSubstr("[D] Ext_ListVolFileDetails() has failed with error = 9\n"));
    // A volume the library does not know.
    EXPECT_EQ(GetOpenFileList("VOL2", &list, ""), -1);
    EXPECT_EQ(list, &sentinel);
}

TEST_F(OpenFileList, BoundsTextsThatFillTheirArrays) {
    const std::string longPath = "/" + std::string(700, 'p');
    fake::SetVolumeFiles("VOL1", {Record(5, fake::Unterminated(256, 'u'), {longPath})});
    std::vector<Listed> files = List("");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].user, std::string(255, 'u'));
    // The path is cut to what the close call takes, its mark included.
    EXPECT_EQ(files[0].path, longPath.substr(0, 508) + "\xE2\x80\xA6");
}

class ExtensionCompare : public ofm_test::OfmTest {};

TEST_F(ExtensionCompare, WritesTheExtensionPartToStandardOutput) {
    ::testing::internal::CaptureStdout();
    int same = NameCompare("/vol.1/a.tar.gz", "*.gz");
    int different = NameCompare("/vol/README", "*.doc");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(same, 0);
    EXPECT_NE(different, 0);
    EXPECT_THAT(out, HasSubstr("\n ###End retVal at NameCompare is 0 for fileName:gz -- "
                               "filter:*.gz"));
    EXPECT_THAT(out, HasSubstr("for fileName:/vol/README -- filter:*.doc"));
}

TEST_F(ExtensionCompare, ControlCharactersReachTheTerminalEscaped) {
    ::testing::internal::CaptureStdout();
    // A name that would clear the screen and fake a line of its own, and a filter with a CR.
    NameCompare("/vol/a.\x1b[2J\r\nEVIL\x7f", "*.d\roc\x01");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr(" for fileName:\\x1b[2J\\x0d\\x0aEVIL\\x7f -- "
                               "filter:*.d\\x0doc\\x01"));
    // The one line feed is the line's own, at its start.
    EXPECT_EQ(out.find_first_of("\x1b\r\x7f\x01"), std::string::npos);
    EXPECT_EQ(out.rfind('\n'), 0u);
}

class TimeText : public ofm_test::OfmTest {
  protected:
    void SetUp() override {
        OfmTest::SetUp();
        const char *zone = std::getenv("TZ");
        savedZone_ = zone != nullptr ? std::optional<std::string>(zone) : std::nullopt;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (savedZone_) {
            setenv("TZ", savedZone_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
        OfmTest::TearDown();
    }
    static std::string Text(unsigned long long time, int expected = 0) {
        char text[kTimeTextSize];
        std::memset(text, 'z', sizeof(text));
        EXPECT_EQ(convertToTimeString(&time, text), expected) << time;
        return text;
    }

  private:
    std::optional<std::string> savedZone_;
};

TEST_F(TimeText, FormatsTheLocalTime) {
    EXPECT_EQ(Text(0), "Thu Jan  1 00:00:00 1970");
    EXPECT_EQ(Text(60), "Thu Jan  1 00:01:00 1970");
}

TEST_F(TimeText, UsesEveryBitOfTheLoginTime) {
    EXPECT_EQ(Text(2147483648ULL), "Tue Jan 19 03:14:08 2038");
    EXPECT_EQ(Text(4294967296ULL + 60), "Sun Feb  7 06:29:16 2106");
}

TEST_F(TimeText, ATimeTheCalendarCannotHoldFails) {
    EXPECT_EQ(Text(1ULL << 62, -1), "");
    EXPECT_EQ(Text(ULLONG_MAX, -1), "");
    char text[kTimeTextSize];
    EXPECT_EQ(convertToTimeString(nullptr, text), -1);
}

// The text is strftime's "%c" of the local time, also where the plug-in writes it directly:
// every day of the week and month, one- and two-digit days and hours, years from 1970 to the
// last four-digit one and past it, in a zone with daylight saving time.
TEST_F(TimeText, IsTheLibrarysDateAndTimeForm) {
    for (const char *zone : {"UTC", "CET-1CEST,M3.5.0,M10.5.0/3", "NPT-5:45"}) {
        setenv("TZ", zone, 1);
        tzset();
        std::vector<unsigned long long> times = {
            0, 59, 3599, 86399, 253402300799ULL, 253402300800ULL, 253402387200ULL};
        for (unsigned long long time = 0; time < 7300000000ULL; time += 9876543) {
            times.push_back(time);
        }
        for (unsigned long long time : times) {
            const std::time_t seconds = static_cast<std::time_t>(time);
            std::tm local{};
            ASSERT_NE(localtime_r(&seconds, &local), nullptr);
            char expected[kTimeTextSize];
            ASSERT_NE(std::strftime(expected, sizeof(expected), "%c", &local), 0u);
            EXPECT_EQ(Text(time), expected) << zone << " " << time;
        }
    }
}

// A converter for many times gives convertToTimeString's text and status for every time: in
// zones with daylight saving (changes at whole hours, at half hours, by half an hour), a zone
// with leap seconds, times in and past the calendar, hours that share a kept place, and around
// every change of offset to the second.
TEST_F(TimeText, ManyTimesInARowGiveTheSameTextsAsOneAtATime) {
    const std::vector<const char *> zones = {"UTC",
                                             "CET-1CEST,M3.5.0,M10.5.0/3",
                                             "NPT-5:45",
                                             "LHST-10:30LHDT-11,M10.1.0,M4.1.0",
                                             "Europe/Berlin",
                                             "Australia/Lord_Howe",
                                             "America/St_Johns",
                                             "right/Europe/Berlin"};
    for (const char *zone : zones) {
        setenv("TZ", zone, 1);
        tzset();
        std::vector<unsigned long long> times = {
            0,          59,         3599,      86399, 1ULL << 31, 253402300799ULL, 253402300800ULL,
            1ULL << 38, 1ULL << 62, ULLONG_MAX};
        // Every 3,571 s for two years (each day's place is met by several days), then each
        // second around the offset changes of 2024.
        for (unsigned long long time = 1704067200ULL; time < 1767225600ULL; time += 3571) {
            times.push_back(time);
        }
        long offset = LONG_MIN;
        for (unsigned long long time = 1704067200ULL; time < 1735689600ULL; time += 900) {
            const std::time_t seconds = static_cast<std::time_t>(time);
            std::tm local{};
            ASSERT_NE(localtime_r(&seconds, &local), nullptr);
            if (offset != LONG_MIN && local.tm_gmtoff != offset) {
                for (unsigned long long near = time - 3700; near < time + 3700; ++near) {
                    times.push_back(near);
                }
            }
            offset = local.tm_gmtoff;
        }
        LocalTimeText converter;
        for (unsigned long long time : times) {
            char one[kTimeTextSize];
            char many[kTimeTextSize];
            std::memset(one, 'z', sizeof one);
            std::memset(many, 'z', sizeof many);
            const int status = convertToTimeString(&time, one);
            ASSERT_EQ(converter.Convert(&time, many), status) << zone << " " << time;
            if (status == 0) {
                ASSERT_STREQ(many, one) << zone << " " << time;
            }
        }
    }
}

class PathCheck : public ofm_test::OfmTest {};

TEST_F(PathCheck, AcceptsEqualPathsAndADirectoryWithItsContents) {
    EXPECT_EQ(path_check("/vol/dir", "/vol/dir"), 1);
    EXPECT_EQ(path_check("/vol/dir", "/vol/dir/file"), 1);
    EXPECT_EQ(path_check("/vol/dir/file", "/vol/dir"), 1);
    EXPECT_EQ(path_check("/vol/dir", "/vol/dirx"), 0);
    EXPECT_EQ(path_check("/vol/Dir", "/vol/dir"), 0);
    EXPECT_EQ(path_check("/vol/a", "/vol/b"), 0);
    EXPECT_EQ(path_check("", "/x"), 1);
    EXPECT_EQ(path_check("", "x"), 0);
}

class SampleVolumes : public ofm_test::OfmTest {};

TEST_F(SampleVolumes, ListsThreeVolumesUnderACountOfTwo) {
    CIFSVolumeList *list = nullptr;
    ASSERT_EQ(GetVolumeList(&list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 2);
    std::vector<std::string> volumes;
    for (CIFSVolumeNode *node = list->first; node != nullptr; node = node->next) {
        volumes.push_back(std::string(node->name) + "|" + node->description);
    }
    EXPECT_THAT(volumes,
                ElementsAre("SYS|SYS Volume", "VOLA|VOLUMEA", "VOLBVOLAVOLAVADASDDS|VOLUMEB"));
    FreeCIFSVolumeList(list);
}

TEST_F(SampleVolumes, NodeCutsItsTexts) {
    CIFSVolumeNode *node =
        getVolumeNode(std::string(80, 'n').c_str(), std::string(300, 'd').c_str());
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(std::string(node->name), std::string(64, 'n'));
    EXPECT_EQ(std::string(node->description), std::string(256, 'd'));
    EXPECT_EQ(node->next, nullptr);
    std::free(node);
}

}  // namespace
}  // namespace kel2cifs
