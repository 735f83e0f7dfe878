// What the open-file pages tell of the monitoring library's failures and of what a close did,
// and names cut to fit the close call.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/browser_form.h"
#include "common/golden.h"
#include "common/last_failure.h"
#include "expected_ofm.h"
#include "ofm/close_files.h"
#include "ofm_fixture.h"
#include "plugin/monitoring_report.h"

namespace kel2cifs {
namespace {

using ofm_test::Record;
using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::Golden;
using testing_support::PostedBody;
using testing_support::ScopedReport;
using testing_support::SetReport;

constexpr char kSmbdDown[] = "smbd is not running.";

std::string FailureRow(const std::string &sentence) {
    return "<tr><td align=left colspan=4 style=\"font-size:13px;color:black;\">" + sentence +
           "</td></tr>";
}

std::size_t Count(const std::string &text, const std::string &part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ListingFailure : public ofm_test::OfmTest {
  protected:
    std::string Page(const std::string &path) {
        fake::Request request = fake::Get(path);
        EXPECT_EQ(Serve(request), 200);
        EXPECT_EQ(request.state, fake::Response::kEnded);
        return request.body;
    }
};

// The volume selector cannot be filled: the page is complete all the same, with the forms, the
// table heading, the reason where the rows would be and the buttons; the volume is not listed.
TEST_F(ListingFailure, AFailedVolumeListingIsToldInACompletePage) {
    ScopedReport report(CIFSMON_STATUS_SERVER_NOT_RUNNING, kSmbdDown);
    fake::SetVolumes({"VOL1"}, CIFSMON_STATUS_SERVER_NOT_RUNNING);
    fake::SetVolumeFiles("VOL1", {Record(3, "eve", {"/VOL1/a.doc"})});
    EXPECT_THAT(Page("/cifsofm/VOL1"), fake::TextEq(Golden("ofm/golden/volumes_failed.html")));
    EXPECT_THAT(fake::Calls(),
                ::testing::ElementsAre("Ext_ListVolumeDetails()", "FreeVolsDetailsNode"));
    EXPECT_THAT(LogText(), HasSubstr("Ext_ListVolumeDetails failed with Error : 10"));

    // The page without a volume tells it below its heading.
    const std::string withoutVolume = Page("/cifsofm");
    EXPECT_THAT(withoutVolume,
                HasSubstr("File Path' src='/opt/zantio/kel/sortdown.png'></a></TD></TR>" +
                          FailureRow("The CIFS server does not answer: smbd is not running.") +
                          "</table></FORM></BODY></HTML>\n"));
}

// The volumes are listed but the volume's files are not: the reason stands where "No items."
// would, escaped.
TEST_F(ListingFailure, AFailedFileListingIsToldWhereNoItemsWouldBe) {
    ScopedReport report(CIFSMON_STATUS_NOT_PERMITTED,
                        "smbstatus needs root <uid 1000> & said \"no\".");
    fake::SetVolumes({"VOL1", "VOL2"});
    fake::SetVolumeFiles("VOL1", {Record(3, "eve", {"/VOL1/a.doc"})}, CIFSMON_STATUS_NOT_PERMITTED);
    EXPECT_THAT(Page("/cifsofm/UserName/VOL1"),
                fake::TextEq(Golden("ofm/golden/files_failed.html")));
}

// A volume the library does not know is a failure too: "No items." would call it empty.
TEST_F(ListingFailure, AVolumeTheLibraryDoesNotKnowIsNotShownAsEmpty) {
    ScopedReport report(CIFSMON_STATUS_NOT_FOUND, "no volume named vol1");
    fake::SetVolumes({"VOL1"});
    const std::string page = Page("/cifsofm/vol1");
    EXPECT_THAT(
        page, HasSubstr(FailureRow("The CIFS server's data cannot be read: no volume named vol1")));
    EXPECT_THAT(page, Not(HasSubstr("No items.")));
}

// A library without Ext_LastFailure: the symbol is null in this binary (the monitoring double
// lacks it), and the page tells the failure by its status.
TEST_F(ListingFailure, WithoutTheLibrarysReportTheStatusIsTold) {
    ASSERT_EQ(LastFailureSource(), nullptr);
    fake::SetVolumes({"VOL1"});
    fake::SetVolumeFiles("VOL1", {}, CIFSMON_STATUS_TOOL_FAILED);
    EXPECT_THAT(Page("/cifsofm/VOL1"),
                HasSubstr(FailureRow("A tool of the CIFS server failed or took too long: no "
                                     "reason was given (8).")));
}

// A report about a call of another status is not this failure's reason.
TEST_F(ListingFailure, AReportOfAnotherCallIsNotTheReason) {
    ScopedReport report(CIFSMON_STATUS_OK, "closed two more files");
    fake::SetVolumes({"VOL1"});
    fake::SetVolumeFiles("VOL1", {}, CIFSMON_STATUS_STATE_CORRUPT);
    const std::string page = Page("/cifsofm/VOL1");
    EXPECT_THAT(page, HasSubstr(FailureRow("The state file of the CIFS monitoring cannot be read: "
                                           "no reason was given (4).")));
    EXPECT_THAT(page, Not(HasSubstr("closed two more")));
}

TEST_F(ListingFailure, EachStatusFamilyHasItsHead) {
    const struct {
        int status;
        const char *head;
    } cases[] = {
        {CIFSMON_STATUS_SERVER_NOT_RUNNING, "The CIFS server does not answer:"},
        {CIFSMON_STATUS_TOOL_FAILED, "A tool of the CIFS server failed or took too long:"},
        {CIFSMON_STATUS_TOOL_OUTPUT_INVALID,
         "A tool of the CIFS server answered what the console cannot read:"},
        {CIFSMON_STATUS_NOT_PERMITTED, "The console lacks the rights to read the CIFS server:"},
        {CIFSMON_STATUS_STATE_MISSING, "The state file of the CIFS monitoring cannot be read:"},
        {CIFSMON_STATUS_STATE_CORRUPT, "The state file of the CIFS monitoring cannot be read:"},
        {CIFSMON_STATUS_IO_ERROR, "The state file of the CIFS monitoring cannot be read:"},
        {CIFSMON_STATUS_BACKEND_UNAVAILABLE, "The CIFS monitoring backend is not available:"},
        {CIFSMON_STATUS_NO_MEMORY, "The CIFS server's data cannot be read:"},
        {-7, "The CIFS server's data cannot be read:"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        ScopedReport report(c.status, "why");
        EXPECT_EQ(FailureSentence(c.status), std::string(c.head) + " why");
    }
    ScopedReport report(CIFSMON_STATUS_NOT_FOUND, "no such open file");
    EXPECT_EQ(FailureSentence(CIFSMON_STATUS_NOT_FOUND, FailedCall::kClose),
              "The CIFS server could not close it: no such open file");
}

// The library's reason is one line of at most 511 bytes; a longer one is cut, never overrun,
// and bytes that are not UTF-8 are shown replaced.
TEST_F(ListingFailure, AReasonIsReadBoundedAndShownAsUtf8) {
    ScopedReport report(CIFSMON_STATUS_TOOL_OUTPUT_INVALID, "bad \xFF" + std::string(2000, 'r'));
    const std::string sentence = FailureSentence(CIFSMON_STATUS_TOOL_OUTPUT_INVALID);
    EXPECT_THAT(sentence, HasSubstr(": bad \xEF\xBF\xBD" + std::string(506, 'r')));
    EXPECT_THAT(sentence, Not(HasSubstr(std::string(507, 'r'))));
}

// A close form posted with names: the first fails, the second is ambiguous, the third closes
// others with it, the fourth closes cleanly; each close's report follows its own call.
class CloseNote : public ofm_test::OfmTest {
  protected:
    void SetUp() override {
        OfmTest::SetUp();
        fake::SetVolumes({"VOL1"});
        fake::SetVolumeFiles("VOL1", {Record(3, "eve", {"/VOL1/a.doc", "/VOL1/b.doc"})});
    }
    static std::string Posted(const std::vector<std::string> &names) {
        std::vector<std::string> values;
        for (const std::string &name : names) {
            values.push_back("<filename>" + name + "</filename>");
        }
        return PostedBody("FILENAME", values);
    }
    std::string Close(const std::vector<std::string> &names,
                      const std::string &path = "/cifsofm/CIFSCloseFiles/VOL1") {
        fake::Request request = fake::Post(path, Posted(names));
        EXPECT_EQ(Serve(request), 200);
        return request.body;
    }
};

TEST_F(CloseNote, FailedAmbiguousAndWiderClosesAreToldAboveTheTable) {
    ScopedReport report;
    fake::SetCloseHandler([](const fake::CloseCall &call) {
        if (call.path == "/VOL1/gone<1>.doc") {
            SetReport(CIFSMON_STATUS_SERVER_NOT_RUNNING, kSmbdDown);
            return CIFSMON_STATUS_SERVER_NOT_RUNNING;
        }
        if (call.path.ends_with(kCutMark)) {
            SetReport(CIFSMON_STATUS_AMBIGUOUS, "2 open files begin so");
            return CIFSMON_STATUS_AMBIGUOUS;
        }
        if (call.path == "/VOL1/a.doc") {
            SetReport(CIFSMON_STATUS_OK, "also closed /VOL1/a.doc~lock & /VOL1/a.tmp");
            return CIFSMON_STATUS_OK;
        }
        SetReport(CIFSMON_STATUS_OK, "");
        return CIFSMON_STATUS_OK;
    });
    const std::string cut = "/VOL1/long\xE2\x80\xA6";
    EXPECT_THAT(Close({"/VOL1/gone%3C1>.doc", cut, "/VOL1/a.doc", "/VOL1/b.doc"}),
                fake::TextEq(Golden("ofm/golden/close_notes.html")));
    EXPECT_EQ(fake::CloseCalls().size(), 4u);
}

// Clean closes leave the page byte for byte as a plain request of it.
TEST_F(CloseNote, CleanClosesLeaveThePageAsItWas) {
    ScopedReport report(CIFSMON_STATUS_OK, "");
    fake::Request plain = fake::Get("/cifsofm/VOL1");
    EXPECT_EQ(Serve(plain), 200);
    EXPECT_EQ(Close({"/VOL1/a.doc", "/VOL1/b.doc"}), plain.body);
}

// Notes belong to the request whose closes made them: the next request shows none.
TEST_F(CloseNote, NotesNeverReachAnotherRequest) {
    ScopedReport report(CIFSMON_STATUS_SERVER_NOT_RUNNING, kSmbdDown);
    // Results by the order of the closes since the reset: the first and the third fail.
    fake::SetCloseResults(
        {CIFSMON_STATUS_SERVER_NOT_RUNNING, CIFSMON_STATUS_OK, CIFSMON_STATUS_SERVER_NOT_RUNNING});
    EXPECT_THAT(Close({"/VOL1/a.doc"}), HasSubstr("closenote"));
    std::size_t count = 0;
    std::size_t leftOut = 0;
    CloseNotes(&count, &leftOut);
    EXPECT_EQ(count, 0u);

    fake::Request next = fake::Get("/cifsofm/VOL1");
    EXPECT_EQ(Serve(next), 200);
    EXPECT_THAT(next.body, Not(HasSubstr("closenote")));
    // A clean close in between: nothing to tell.
    EXPECT_THAT(Close({"/VOL1/b.doc"}), Not(HasSubstr("closenote")));
    // The page without a volume that follows a close without one shows them too.
    const std::string withoutVolume = Close({"/VOL1/a.doc"}, "/cifsofm/CIFSCloseFiles");
    EXPECT_THAT(withoutVolume,
                HasSubstr("<td></tr>\n<p class=\"closenote\" role=\"status\">/VOL1/a.doc: The "
                          "CIFS server does not answer: smbd is not running.</p>\n<FORM><table"));
}

// Without Ext_LastFailure a failed close is told by its status, and a close that succeeded
// has nothing to tell.
TEST_F(CloseNote, WithoutTheLibrarysReportTheStatusIsTold) {
    ASSERT_EQ(LastFailureSource(), nullptr);
    fake::SetCloseResults({CIFSMON_STATUS_NOT_PERMITTED, CIFSMON_STATUS_OK});
    const std::string page = Close({"/VOL1/a.doc", "/VOL1/b.doc"});
    EXPECT_THAT(page, HasSubstr("<p class=\"closenote\" role=\"status\">/VOL1/a.doc: The console "
                                "lacks the rights to read the CIFS server: no reason was given "
                                "(12).</p>\n<FORM METHOD=POST"));
    EXPECT_EQ(Count(page, "closenote"), 1u);
}

// A post of many failing names keeps 50 notes and counts the rest in one more line.
TEST_F(CloseNote, AtMostFiftyNotesThenTheNumberLeftOut) {
    ScopedReport report(CIFSMON_STATUS_TOOL_FAILED, "smbcontrol timed out");
    std::vector<std::string> names;
    std::vector<int> results;
    for (int i = 0; i < 57; ++i) {
        names.push_back("/VOL1/f" + std::to_string(i));
        results.push_back(CIFSMON_STATUS_TOOL_FAILED);
    }
    fake::SetCloseResults(results);
    const std::string page = Close(names);
    EXPECT_EQ(fake::CloseCalls().size(), 57u);
    EXPECT_EQ(Count(page, "<p class=\"closenote\" role=\"status\">"), 51u);
    EXPECT_THAT(page, HasSubstr(">/VOL1/f49: A tool"));
    EXPECT_THAT(page, Not(HasSubstr(">/VOL1/f50: ")));
    EXPECT_THAT(page, HasSubstr("<p class=\"closenote\" role=\"status\">Closes with a note left "
                                "out of this list: 7</p>\n<FORM METHOD=POST"));
}

TEST(CutName, KeepsWholeUtf8CharactersThatFitWithTheMark) {
    const std::string ascii(600, 'a');
    EXPECT_EQ(CutNameLength(ascii), 508u);
    EXPECT_EQ(FittedName(ascii), std::string(508, 'a') + "\xE2\x80\xA6");
    EXPECT_EQ(FittedName(std::string(511, 'a')), std::string(511, 'a'));
    EXPECT_EQ(FittedName(std::string(512, 'a')).size(), 511u);

    // A three-byte character at 507..509 does not fit: the cut comes before it.
    const std::string euro = std::string(507, 'a') + "\xE2\x82\xAC" + std::string(100, 'b');
    EXPECT_EQ(CutNameLength(euro), 507u);
    // A four-byte one at 505..508 does not either; one at 504..507 does.
    EXPECT_EQ(CutNameLength(std::string(505, 'a') + "\xF0\x9F\x98\x80" + std::string(50, 'b')),
              505u);
    EXPECT_EQ(CutNameLength(std::string(504, 'a') + "\xF0\x9F\x98\x80" + std::string(50, 'b')),
              508u);
    // Bytes that are not UTF-8 count one by one.
    EXPECT_EQ(CutNameLength(std::string(600, '\xFF')), 508u);
}

}  // namespace
}  // namespace kel2cifs
