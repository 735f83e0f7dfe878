// What the connection pages tell of the monitoring library's failures and of what the
// request's closes did.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/browser_form.h"
#include "common/golden.h"
#include "common/last_failure.h"
#include "cons_fixture.h"
#include "expected_cons.h"
#include "plugin/monitoring_report.h"
#include "support/text_match.h"

namespace kel2cifs {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::Golden;
using testing_support::ScopedReport;

constexpr char kSmbdDown[] = "smbd is not running.";

fake::ConnInfo Info(uint16_t number, std::vector<fake::Entry> files) {
    fake::ConnInfo info;
    info.connNumber = number;
    info.netAddress = "10.1.2.3";
    info.privileges = "Supervisor";
    info.loginStatus = "Logged-In";
    info.userName = "ann";
    info.connType = "Ravelin";
    info.loginTime = 1700000000;
    info.openFileNames = std::move(files);
    return info;
}

class ConsReport : public cons_test::ConsTest {
  protected:
    std::string Page(fake::Request &&request) { return Page(request); }
    std::string Page(fake::Request &request) {
        EXPECT_EQ(Serve(request), 200);
        EXPECT_EQ(request.state, fake::Response::kEnded);
        EXPECT_THAT(request.errorPackages, ::testing::IsEmpty());
        return request.body;
    }
};

TEST_F(ConsReport, AFailedConnectionListingIsToldWhereNoItemsWouldBe) {
    ScopedReport report(CIFSMON_STATUS_SERVER_NOT_RUNNING, kSmbdDown);
    fake::SetConnections({}, CIFSMON_STATUS_SERVER_NOT_RUNNING);
    EXPECT_THAT(Page(fake::Get("/cifscons")),
                fake::TextEq(Golden("connections/golden/list_failed.html")));
}

// Without Ext_LastFailure the status is told; a failed listing that still hands out its
// connections shows them, as before.
TEST_F(ConsReport, WithoutTheLibrarysReportTheStatusIsTold) {
    ASSERT_EQ(LastFailureSource(), nullptr);
    fake::SetConnections({}, CIFSMON_STATUS_BACKEND_UNAVAILABLE);
    EXPECT_THAT(Page(fake::Get("/cifscons")),
                HasSubstr("<tr><td align=left colspan=4 style=\"font-size:13px;color:black;\">The "
                          "CIFS monitoring backend is not available: no reason was given (7)."
                          "</td></tr></FORM></table>"));

    fake::SetConnections({cons_test::Conn(4, "dan")}, CIFSMON_STATUS_TOOL_FAILED);
    const std::string page = Page(fake::Get("/cifscons"));
    EXPECT_THAT(page, HasSubstr(">dan</A>"));
    EXPECT_THAT(page, Not(HasSubstr("no reason")));
}

// The library cannot give the connection's details for another reason than not knowing it: a
// complete page tells why; a connection it does not know is still the error body.
TEST_F(ConsReport, AFailedDetailListingIsToldUnlessTheConnectionIsUnknown) {
    ScopedReport report(CIFSMON_STATUS_SERVER_NOT_RUNNING, kSmbdDown);
    fake::SetConnInfo(12, std::nullopt, CIFSMON_STATUS_SERVER_NOT_RUNNING);
    fake::SetConnInfo(13, std::nullopt, CIFSMON_STATUS_NOT_FOUND);
    fake::Request failed = fake::Get("/cifscons/LoginTime/0000000C");
    EXPECT_THAT(Page(failed), fake::TextEq(Golden("connections/golden/detail_failed.html")));

    fake::Request unknown = fake::Get("/cifscons/0000000D");
    EXPECT_EQ(Serve(unknown), 500);
    ASSERT_EQ(unknown.errorPackages.size(), 1u);
    EXPECT_EQ(unknown.errorPackages[0].html,
              "<HTML><BODY><H1>Http Error Code 500</H1></BODY></HTML>\n");
    EXPECT_THAT(fake::Calls(), ElementsAre("Ext_GetConnInfo(12)", "Ext_GetConnInfo(13)"));
}

// Reached from the open-file pages, the failure page leads back there.
TEST_F(ConsReport, AFailedDetailPageLeadsBackToTheOpenFiles) {
    fake::SetConnInfo(12, std::nullopt, CIFSMON_STATUS_NOT_PERMITTED);
    const std::string page =
        Page(fake::Post("/cifscons/0000000C", "volume=VOL1&sorttype=UserName&FILTER=*.doc"));
    EXPECT_THAT(page, HasSubstr("<B><font size=+1>Connection 12</font></B><FORM method=\"post\" "
                                "action=\"/cifsofm/UserName/VOL1\" id=\"filterForm\">"));
    EXPECT_THAT(page, HasSubstr("The console lacks the rights to read the CIFS server: no reason "
                                "was given (12).</td></tr></TABLE></BODY></HTML>"));
}

// Closing every file of a connection fails: the detail page that follows says so above its
// table; the next request does not.
TEST_F(ConsReport, AFailedCloseOfAConnectionsFilesIsToldAboveTheTable) {
    ScopedReport report(CIFSMON_STATUS_TOOL_FAILED, "smbcontrol close-share timed out");
    fake::SetConnInfo(12, Info(12, {"/v/a.doc"}));
    fake::SetCloseResults({CIFSMON_STATUS_TOOL_FAILED});
    const std::string page =
        Page(fake::Get("/cifscons/CIFSCloseFiles/0000000c/<closeallfiles>12</closeallfiles>"));
    EXPECT_THAT(page, HasSubstr("Close All Files</A><p class=\"closenote\" role=\"status\">"
                                "Connection 12: A tool of the CIFS server failed or took too "
                                "long: smbcontrol close-share timed out</p>\n"
                                "<br><table border=0 cellpadding=2>\n"));

    EXPECT_THAT(Page(fake::Get("/cifscons/0000000C")), Not(HasSubstr("closenote")));
}

// A close form of the detail page whose close the library finds ambiguous, and one whose close
// took other files along: the page after them says both, in order.
TEST_F(ConsReport, CloseFormsOfTheDetailPageLeaveTheirNotes) {
    ScopedReport report;
    const std::string cut = "/v/" + std::string(505, 'p') + "\xE2\x80\xA6";
    fake::SetConnInfo(12, Info(12, {"/v/a.doc"}));
    fake::SetCloseHandler([&cut](const fake::CloseCall &call) {
        if (call.path == cut) {
            testing_support::SetReport(CIFSMON_STATUS_AMBIGUOUS, "3 open files begin so");
            return CIFSMON_STATUS_AMBIGUOUS;
        }
        testing_support::SetReport(CIFSMON_STATUS_OK, "also closed /v/a.doc:stream");
        return CIFSMON_STATUS_OK;
    });
    const std::string page = Page(fake::Post(
        "/cifscons/CIFSCloseFiles/0000000c",
        testing_support::PostedBody(
            "FILENAME", {"<filename>" + cut + "</filename>", "<filename>/v/a.doc</filename>"})));
    EXPECT_THAT(page, HasSubstr("<p class=\"closenote\" role=\"status\">" + cut +
                                ": This shortened name stands for more than one open file; "
                                "nothing was closed.</p>\n<p class=\"closenote\" "
                                "role=\"status\">/v/a.doc: The server could close this file only "
                                "together with others: also closed /v/a.doc:stream</p>\n<br>"));
}

// Closes that did just what was asked leave the detail page as it was.
TEST_F(ConsReport, CleanClosesLeaveTheDetailPageAsItWas) {
    ScopedReport report(CIFSMON_STATUS_OK, "");
    fake::SetConnInfo(12, Info(12, {"/v/a.doc"}));
    const std::string plain = Page(fake::Get("/cifscons/0000000c"));
    EXPECT_EQ(
        Page(fake::Get("/cifscons/CIFSCloseFiles/0000000c/<closeallfiles>12</closeallfiles>")),
        plain);
}

}  // namespace
}  // namespace kel2cifs
