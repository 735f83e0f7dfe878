// The service method: access, the URL grammar, the form data and the filter, help and error
// pages, and its trace.
#include "ofm/dispatch.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/error_page.h"
#include "common/golden.h"
#include "expected_ofm.h"
#include "ofm_fixture.h"
#include "plugin/config.h"

namespace kel2cifs {
namespace {

using ofm_test::Record;

using expected_ofm::ExpectPlainHead;
using expected_ofm::VolumeSelector;
using expected_ofm::VolumeTableStart;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Fails unless every text occurs in `text`, each after the one before.
void ExpectInOrder(const std::string &text, const std::vector<std::string> &parts) {
    std::size_t at = 0;
    for (const std::string &part : parts) {
        std::size_t found = text.find(part, at);
        ASSERT_NE(found, std::string::npos) << "missing, or out of order: " << part << "\nin:\n"
                                            << text;
        at = found + part.size();
    }
}

class Dispatch : public ofm_test::OfmTest {
  protected:
    void SetUp() override {
        OfmTest::SetUp();
        fake::SetVolumes({"VOL1"});
        fake::SetVolumeFiles("VOL1", {Record(1, "u", {"/VOL1/a.doc"})});
    }
    void ExpectHelp(const std::string &path, int method, bool detail) {
        fake::Request request(path, method);
        EXPECT_EQ(Serve(request), 200) << path;
        ExpectPlainHead(request,
                        detail ? "CIFS Open File Information" : "CIFS Open File Management");
        EXPECT_THAT(request.body,
                    fake::TextEq(testing_support::Golden(detail ? "ofm/golden/help_info.html"
                                                                : "ofm/golden/help.html")))
            << path;
    }
    void ExpectError(fake::Request &request, const std::string &message,
                     unsigned int access = fake::kAdministratorAccess) {
        EXPECT_EQ(Serve(request, access), 200);
        ExpectPlainHead(request, "HTTP Failure");
        EXPECT_THAT(request.body, fake::TextEq(testing_support::ErrorPageBody(message)));
    }
    // True when the page is the page of `volume` (sorted by `keyword`) echoing `filterHtml`.
    static void ExpectVolumePage(const fake::Request &request, const std::string &volume,
                                 const std::string &filterHtml,
                                 const std::string &keyword = "ConnectionNumber") {
        EXPECT_THAT(request.body, HasSubstr(VolumeTableStart(volume, volume, filterHtml, keyword)));
    }
    static std::string PageWithoutVolume() {
        return expected_ofm::PageWithoutVolume(VolumeSelector({{"VOL1"}}));
    }
};

TEST_F(Dispatch, RefusesAnAccessWordWithoutTheRequiredBits) {
    for (unsigned int access : {0x0u, 0x8u, 0x3u, 0x10000000u, 0x400u}) {
        fake::Request request = fake::Get("/cifsofm/VOL1");
        ExpectError(request, "Unauthorized access denied", access);
    }
    EXPECT_THAT(fake::Calls(), IsEmpty());
    for (unsigned int access : {0x9u, 0xAu, 0x10000008u}) {
        fake::Request request = fake::Get("/cifsofm/VOL1");
        EXPECT_EQ(Serve(request, access), 200);
        ExpectVolumePage(request, "VOL1", "");
    }
}

TEST_F(Dispatch, ShowsHelpForEveryPrefixOfHelp) {
    for (const char *path : {"/cifsofm/help", "/cifsofm/HELP", "/cifsofm/he", "/cifsofm/h",
                             "/cifsofm/", "/cifsofm/help/"}) {
        ExpectHelp(path, fake::kGet, false);
    }
    for (const char *path :
         {"/cifsofm/help/help", "/cifsofm/help/H", "/cifsofm/He/hElP", "/cifsofm/help/hel/more"}) {
        ExpectHelp(path, fake::kGet, true);
    }
    // An empty second component is the general topic only at the end of the path; with more
    // after it, it is the empty prefix of "help".
    ExpectHelp("/cifsofm/help//x", fake::kGet, true);
    ExpectHelp("/cifsofm//", fake::kGet, false);
    EXPECT_THAT(fake::Calls(), IsEmpty());
}

TEST_F(Dispatch, ServesHelpBeforeLookingAtTheRequestMethod) {
    ExpectHelp("/cifsofm/help", fake::kPost, false);
    fake::Request request = fake::Get("/cifsofm/help/help");
    request.methodSucceeds = false;
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body, fake::TextEq(testing_support::Golden("ofm/golden/help_info.html")));
    EXPECT_THAT(request.Ops(), Not(::testing::Contains("HttpReturnRequestMethod")));
}

TEST_F(Dispatch, RefusesAHelpPathWithAnotherSecondComponent) {
    for (const char *path : {"/cifsofm/help/_info_", "/cifsofm/help/x", "/cifsofm/help/helpme"}) {
        fake::Request request = fake::Get(path);
        ExpectError(request, "Bad Http request");
    }
}

TEST_F(Dispatch, AHelpPageThatCannotOpenAnswers500Once) {
    fake::Request request = fake::Get("/cifsofm/help");
    request.openSucceeds = false;
    EXPECT_EQ(fake::Serve(cifsofmMethod, request, fake::kAdministratorAccess), 500);
    EXPECT_THAT(request.errorResponses, ElementsAre(500));
    EXPECT_THAT(request.violations, IsEmpty());
}

TEST_F(Dispatch, AComponentLongerThanHelpIsAVolume) {
    fake::Request request = fake::Get("/cifsofm/helpme");
    EXPECT_EQ(Serve(request), 200);
    ExpectVolumePage(request, "helpme", "");
    EXPECT_THAT(fake::Calls(), ::testing::Contains("Ext_ListVolFileDetails(helpme)"));
}

TEST_F(Dispatch, WithoutComponentsShowsThePageWithoutAVolume) {
    fake::Request get = fake::Get("/cifsofm");
    EXPECT_EQ(Serve(get), 200);
    EXPECT_THAT(get.body, fake::TextEq(PageWithoutVolume()));
    fake::Request post = fake::Post("/cifsofm", "FILTER=*.doc");
    EXPECT_EQ(Serve(post), 200);
    EXPECT_THAT(post.body, fake::TextEq(PageWithoutVolume()));
    fake::Request joined = fake::Get("/cifsofmX");
    EXPECT_EQ(Serve(joined), 200);
    EXPECT_THAT(joined.body, fake::TextEq(PageWithoutVolume()));
}

TEST_F(Dispatch, ASortKeywordAloneIsConsumed) {
    for (const char *path :
         {"/cifsofm/UserName", "/cifsofm/filename", "/cifsofm/CONNECTIONNUMBER"}) {
        fake::Request request = fake::Get(path);
        EXPECT_EQ(Serve(request), 200);
        EXPECT_THAT(request.body, fake::TextEq(PageWithoutVolume())) << path;
    }
    EXPECT_THAT(LogText(), HasSubstr("[!] Component count = 0 path= \n"));
}

TEST_F(Dispatch, SortKeywordsInAnyCaseChooseTheOrder) {
    fake::Request request = fake::Post("/cifsofm/username/VOL1", "FILTER=*.doc");
    EXPECT_EQ(Serve(request), 200);
    ExpectVolumePage(request, "VOL1", "*.doc", "UserName");
    fake::Request longer = fake::Get("/cifsofm/UserNameX/VOL1");
    EXPECT_EQ(Serve(longer), 200);
    ExpectVolumePage(longer, "VOL1", "", "UserName");
    // A component that only begins like a keyword is a volume.
    fake::Request shorter = fake::Get("/cifsofm/UserNam");
    EXPECT_EQ(Serve(shorter), 200);
    ExpectVolumePage(shorter, "UserNam", "");
}

TEST_F(Dispatch, TwoOtherComponentsAreThePageWithoutAVolumeOrAnError) {
    fake::Request get = fake::Get("/cifsofm/VOL1/extra");
    EXPECT_EQ(Serve(get), 200);
    EXPECT_THAT(get.body, fake::TextEq(PageWithoutVolume()));
    fake::Request post = fake::Post("/cifsofm/VOL1/extra", "");
    ExpectError(post, "Bad Http request");
    fake::Request sorted = fake::Post("/cifsofm/FileName/VOL1/extra", "FILTER=*.doc");
    ExpectError(sorted, "Bad Http request");
}

TEST_F(Dispatch, AnUnusablePathIsABadRequest) {
    fake::Request missing = fake::Get("/cifsofm/VOL1");
    missing.pathSucceeds = false;
    ExpectError(missing, "Bad Http request");
    fake::Request tooLong = fake::Get("/cifsofm/" + std::string(256, 'v'));
    ExpectError(tooLong, "Bad Http request");
    fake::Request longest = fake::Get("/cifsofm/" + std::string(255, 'v'));
    EXPECT_EQ(Serve(longest), 200);
    ExpectVolumePage(longest, std::string(255, 'v'), "");
}

TEST_F(Dispatch, AnUnreadableOrUnknownMethodIsAnErrorPage) {
    fake::Request unreadable = fake::Get("/cifsofm/VOL1");
    unreadable.methodSucceeds = false;
    ExpectError(unreadable, "Http request missing data");
    fake::Request unknown = fake::Get("/cifsofm/VOL1");
    unknown.methodCode = 1;
    ExpectError(unknown, "Bad Http request");
    EXPECT_THAT(fake::Calls(), IsEmpty());
}

TEST_F(Dispatch, UnreadableFormDataCountsAsEmpty) {
    fake::Request request = fake::Post("/cifsofm/VOL1", "FILTER=*.txt");
    request.postDataSucceeds = false;
    EXPECT_EQ(Serve(request), 200);
    ExpectVolumePage(request, "VOL1", "");
    EXPECT_THAT(LogText(), Not(HasSubstr("post count")));
}

class PostedFilter : public Dispatch {
  protected:
    // The filter that the page of VOL1 echoes back for a posted body.
    std::string Echoed(const std::string &body) {
        fake::Request request = fake::Post("/cifsofm/VOL1", body);
        EXPECT_EQ(Serve(request), 200);
        const std::string marker = "placeholder=\"eg: *.doc\" value=\"";
        std::size_t from = request.body.find(marker);
        if (from == std::string::npos) {
            ADD_FAILURE() << "no filter input";
            return "";
        }
        from += marker.size();
        return request.body.substr(from, request.body.find('"', from) - from);
    }
};

TEST_F(PostedFilter, TakesTheDecodedValueUpToTheEndOfTheData) {
    EXPECT_EQ(Echoed("FILTER=*.doc"), "*.doc");
    EXPECT_EQ(Echoed("FILTER=%2A.doc"), "*.doc");
    EXPECT_EQ(Echoed("FILTER=a+b"), "a b");
    EXPECT_EQ(Echoed("x=1&FILTER=*.doc&y=2"), "*.doc&amp;y=2");
    EXPECT_THAT(LogText(), HasSubstr("[D] filter string len[9] string [*.doc&y=2]\n"));
}

TEST_F(PostedFilter, EmptyOrOver255CharactersMeansNoFilter) {
    EXPECT_EQ(Echoed("FILTER="), "");
    EXPECT_THAT(LogText(), HasSubstr("[D] filter string len[0] string []\n[D] filter value len "
                                     "is greater than 255 or equal to zero\n"));
    EXPECT_EQ(Echoed("FILTER"), "");
    EXPECT_EQ(Echoed("nothing=here"), "");

    const std::string longest = "*." + std::string(253, 'x');
    EXPECT_EQ(Echoed("FILTER=" + longest), longest);
    const std::string tooLong = "*." + std::string(254, 'x');
    EXPECT_EQ(Echoed("FILTER=" + tooLong), "");
    EXPECT_THAT(LogText(), HasSubstr("[D] filter string len[256] string [" + tooLong +
                                     "]\n[D] filter value len is greater than 255 or equal to "
                                     "zero\n"));
}

TEST_F(PostedFilter, SelectsTheFilesShown) {
    fake::SetVolumeFiles("VOL1", {Record(1, "u", {"/VOL1/a.doc", "/VOL1/b.txt", "/VOL1/c.txt"})});
    fake::Request request = fake::Post("/cifsofm/VOL1", "FILTER=*.txt");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body, HasSubstr("/VOL1/b.txt"));
    EXPECT_THAT(request.body, HasSubstr("/VOL1/c.txt"));
    EXPECT_THAT(request.body, Not(HasSubstr("/VOL1/a.doc")));
}

TEST_F(Dispatch, TracesTheTypicalRequest) {
    fake::Request request = fake::Get("/cifsofm/UserName/VOL1");
    EXPECT_EQ(Serve(request), 200);
    const std::string log = LogText();
    ExpectInOrder(log,
                  {"[D] URL = /cifsofm/UserName/VOL1\n", "[D] count = 2 check for help token\n",
                   "[D] count = 2 look for sort method\n", "[D] Connection clearing power is = 1\n",
                   "[!] Component count = 1 path=\\x04VOL1 VOL1\n", "[D] volume name: VOL1\n",
                   "[D] calling mergesort\n"});
    EXPECT_THAT(log, Not(HasSubstr("post count")));
    EXPECT_THAT(log, Not(HasSubstr("postdata")));
}

TEST_F(Dispatch, TracesAPost) {
    fake::Request request = fake::Post("/cifsofm/VOL1", "FILTER=%2A.doc");
    EXPECT_EQ(Serve(request), 200);
    ExpectInOrder(
        LogText(),
        {"[D] count = 1 look for sort method\n",
         "[D] postdata before decode: [FILTER=%2A.doc] \n\n",
         "[D] postdata after decode: [FILTER=*.doc] \n\n",
         "[D] filter string len[5] string [*.doc]\n",
         "[!] post count = 14 content=FILTER=%2A.doc\n", "[D] Connection clearing power is = 1\n",
         "[!] Component count = 1 path=\\x04VOL1 VOL1\n", "[D] filter string: *.doc\n"});
}

TEST_F(Dispatch, TracesHelpAndAPathWithoutComponents) {
    fake::Request help = fake::Get("/cifsofm/help");
    EXPECT_EQ(Serve(help), 200);
    fake::Request bare = fake::Get("/cifsofm");
    EXPECT_EQ(Serve(bare), 200);
    ExpectInOrder(LogText(), {"[D] URL = /cifsofm/help\n", "[D] count = 1 check for help token\n",
                              "[D] count = 1 FOUND help token\n", "[D] URL = /cifsofm\n",
                              "[!] Component count = 0 path=null\n"});
}

TEST_F(Dispatch, ClearingPowerFollowsTheSettingOnlyForLimitedAccounts) {
    const int saved = AllowClearConn;
    AllowClearConn = 0;
    fake::Request limited = fake::Get("/cifsofm");
    EXPECT_EQ(Serve(limited, 0x40Bu), 200);
    fake::Request full = fake::Get("/cifsofm");
    EXPECT_EQ(Serve(full, 0x00Bu), 200);
    AllowClearConn = saved;
    ExpectInOrder(LogText(), {"[D] Connection clearing power is = 0\n",
                              "[D] Connection clearing power is = 1\n"});
}

TEST_F(Dispatch, ParserReportsWhatItFound) {
    fake::Request request = fake::Get("/cifsofm/FileName/VOL1");
    int count = -1;
    cifsSortType sortType = kSortByConnectionNumber;
    char keyword[30] = "";
    char *position = nullptr;
    char *pathCopy = nullptr;
    EXPECT_EQ(GetComponentCountAndSortType(request.handle(), &count, &sortType, nullptr, keyword,
                                           &position, &pathCopy),
              0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(sortType, kSortByFileName);
    EXPECT_STREQ(keyword, "FileName");
    ASSERT_NE(position, nullptr);
    EXPECT_STREQ(position, "\x04VOL1");
    ASSERT_NE(pathCopy, nullptr);
    EXPECT_STREQ(pathCopy, "/FileName/VOL1");
    std::free(pathCopy);

    fake::Request bare = fake::Get("/cifsofm");
    position = pathCopy = reinterpret_cast<char *>(&count);
    EXPECT_EQ(GetComponentCountAndSortType(bare.handle(), &count, &sortType, nullptr, keyword,
                                           &position, &pathCopy),
              0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(sortType, kSortByConnectionNumber);
    EXPECT_EQ(position, nullptr);
    EXPECT_EQ(pathCopy, nullptr);
}

TEST_F(Dispatch, ReducedParserCountsWithoutChangingThePath) {
    fake::Request request = fake::Get("/cifsofm/a/b/c");
    int count = 0;
    EXPECT_EQ(GetComponentCount(request.handle(), &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(request.pathBuffer.data(), "/cifsofm/a/b/c");
    EXPECT_THAT(LogText(), HasSubstr("[D] count = 3 check for help token toke= a\\x01"
                                     "b\\x01"
                                     "c\n"));
    fake::Request broken = fake::Get("/cifsofm/x");
    broken.pathSucceeds = false;
    EXPECT_EQ(GetComponentCount(broken.handle(), &count), 400);
}

// Bytes placed so that the last one is the last readable byte before an inaccessible page: a
// read past them faults.
class GuardedBytes {
  public:
    explicit GuardedBytes(const std::string &bytes) {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void *map =
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            throw std::runtime_error("mmap failed");
        }
        base_ = static_cast<char *>(map);
        mprotect(base_ + page_, page_, PROT_NONE);
        data_ = base_ + page_ - bytes.size();
        std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~GuardedBytes() { munmap(base_, 2 * page_); }
    GuardedBytes(const GuardedBytes &) = delete;
    GuardedBytes &operator=(const GuardedBytes &) = delete;
    char *data() { return data_; }

  private:
    std::size_t page_ = 0;
    char *base_ = nullptr;
    char *data_ = nullptr;
};

class PostDecoding : public ofm_test::OfmTest {
  protected:
    // Decodes bytes (not terminated) and returns the whole decoded buffer, terminator included.
    static std::string Decode(const std::string &bytes) {
        GuardedBytes guarded(bytes);
        char *decoded = nullptr;
        EXPECT_EQ(decodePostDataString(guarded.data(), bytes.size(), &decoded), 0);
        if (decoded == nullptr) {
            return "<null>";
        }
        std::string text(decoded, bytes.size() + 1);
        std::free(decoded);
        return text;
    }
    static std::string Z(std::size_t count) { return std::string(count, '\0'); }
};

TEST_F(PostDecoding, DecodesEscapesAndBlanksAsOneText) {
    EXPECT_EQ(Decode("a+b%2A%2f&c=%3D"), std::string("a b*/&c==") + Z(7));
    EXPECT_EQ(Decode("FILTER=%2A.doc"), "FILTER=*.doc" + Z(3));
}

TEST_F(PostDecoding, ReadsOnlyTheHexDigitsThereAre) {
    // Reading stops at a non-digit; the escape still spans three characters.
    EXPECT_EQ(Decode("%4Gx"), "\x04x" + Z(3));
    EXPECT_EQ(Decode("%G1x"), Z(1) + "x" + Z(3));
    EXPECT_EQ(Decode("a%00b"), "a" + Z(1) + "b" + Z(3));
}

TEST_F(PostDecoding, StopsAtTheEndOfTheData) {
    EXPECT_EQ(Decode("%"), Z(2));
    EXPECT_EQ(Decode("ab%4"), "ab\x04" + Z(2));
    EXPECT_EQ(Decode("ab%41"), "abA" + Z(3));
    EXPECT_EQ(Decode("FILTER"), "FILTER" + Z(1));
    EXPECT_EQ(Decode(""), Z(1));
}

TEST_F(PostDecoding, SizesTheTextByTheDataBeforeItsNulNotByTheLength) {
    // A NUL ends the data, so any length past it is allowed, the largest included (where
    // length + 1 wraps to 0); the block after the data is unreadable.
    const std::string bytes("a+%41\0zz", 8);
    for (const unsigned long length : {9ul, 4096ul, ULONG_MAX / 2, ULONG_MAX - 1, ULONG_MAX}) {
        GuardedBytes guarded(bytes);
        char *decoded = nullptr;
        EXPECT_EQ(decodePostDataString(guarded.data(), length, &decoded), 0) << length;
        ASSERT_NE(decoded, nullptr) << length;
        EXPECT_EQ(std::string(decoded), "a A") << length;
        std::free(decoded);
    }
}

TEST_F(PostDecoding, DecodesNoMoreThanTheLengthGiven) {
    char *decoded = nullptr;
    EXPECT_EQ(decodePostDataString("abc%41def", 5, &decoded), 0);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(std::string(decoded, 6), "abc\x04" + Z(2));
    std::free(decoded);
    EXPECT_THAT(LogText(), HasSubstr("[D] postdata before decode: [abc%4] \n\n"
                                     "[D] postdata after decode: [abc\\x04] \n\n"));
}

}  // namespace
}  // namespace kel2cifs
