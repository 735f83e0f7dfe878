// The connection detail page, its rows and ways back, and the two operations no page places.
#include "connections/detail_page.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cons_fixture.h"
#include "expected_cons.h"
#include "support/text_match.h"

namespace kel2cifs {
namespace {

using expected_cons::BackToList;
using expected_cons::BackToOfm;
using expected_cons::DetailHeading;
using expected_cons::FileForm;
using expected_cons::FileHidden;
using expected_cons::InfoRows;
using expected_cons::kDark;
using expected_cons::kDetailEnd;
using expected_cons::kLight;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kTime[] = "Tue Nov 14 22:13:20 2023";

fake::ConnInfo Info(uint16_t number, std::vector<fake::Entry> files) {
    fake::ConnInfo info;
    info.connNumber = number;
    info.netAddress = "10.1.2.3";
    info.privileges = "Supervisor";
    info.loginStatus = "Not-Logged In";
    info.userName = "ann";
    info.connType = "Active Directory";
    info.loginTime = 1700000000;
    info.openFileNames = std::move(files);
    return info;
}

std::string ErrorBody(int status) {
    return "<HTML><BODY><H1>Http Error Code " + std::to_string(status) + "</H1></BODY></HTML>\n";
}

class ConnectionDetailPage : public cons_test::ConsTest {
  protected:
    // Serves request and checks the frame of a detail page that was written.
    std::string Body(fake::Request &request) {
        EXPECT_EQ(Serve(request), 200);
        const fake::Header *header = request.header();
        if (header == nullptr) {
            ADD_FAILURE() << "no page head";
            return "";
        }
        EXPECT_EQ(header->title, "CIFS Connection Information");
        EXPECT_EQ(header->options, 4u);
        EXPECT_EQ(header->sectionText, "Connection Help");
        EXPECT_EQ(header->helpUrl, "/cifscons/help/_info_");
        EXPECT_THAT(header->script, fake::TextEq(expected_cons::Script()));
        return request.body;
    }
};

TEST_F(ConnectionDetailPage, StripesRunThroughEveryRowAndFile) {
    fake::SetConnInfo(12, Info(12, {"/v/a", "/v/b", "/v/c"}));
    fake::Request request = fake::Get("/cifscons/ConnectionType/0000000C");
    const std::string expected =
        DetailHeading("ann") + BackToList("ConnectionType", 12) +
        InfoRows(12, "Not-Logged-In", kTime, "Supervisor", "Active Directory", "10.1.2.3") +
        "\n<tr " + kLight + "><td align=right>Security Equivalence List</TD><td></td></TR>" +
        "<tr " + kDark + "><td align=right>Open Files</td>" + FileForm(12, "/v/a", true, "", "") +
        FileForm(12, "/v/b", false, kLight, "") + FileForm(12, "/v/c", false, kDark, "") +
        kDetailEnd;
    EXPECT_THAT(Body(request), fake::TextEq(expected));
    EXPECT_THAT(LogText(), HasSubstr("sevDNs pointer is null"));
}

TEST_F(ConnectionDetailPage, PostedOpenFileStateLeadsBackThere) {
    fake::ConnInfo info = Info(12, {"/v/a", "/v/b"});
    info.loginStatus = "Logged-In";
    info.privileges = "Non-Supervisor";
    info.connType = "Ravelin";
    info.sevDNs = std::vector<fake::Entry>{"admins", "staff"};
    fake::SetConnInfo(12, info);
    fake::Request request =
        fake::Post("/cifscons/0000000C", "volume=VOL1&sorttype=UserName&FILTER=%2A.doc");
    const std::string hidden = FileHidden("VOL1", "UserName", "*.doc");
    const std::string expected =
        DetailHeading("ann") + BackToOfm("UserName", "VOL1", "UserName", "VOL1", "*.doc", 12) +
        InfoRows(12, "Logged-In", kTime, "Non-Supervisor", "Ravelin", "10.1.2.3") + "\n<tr " +
        kLight + "><td align=right>Security Equivalence List</td><TD>admins</td></TR>" + "\n<tr " +
        kDark + "><td align=right></td><TD>staff</td></TR>" + "<tr " + kLight +
        "><td align=right>Open Files</td>" + FileForm(12, "/v/a", true, "", hidden) +
        FileForm(12, "/v/b", false, kDark, hidden) + kDetailEnd;
    EXPECT_THAT(Body(request), fake::TextEq(expected));
    EXPECT_THAT(LogText(),
                HasSubstr("Post parameters: filter  [*.doc] volName [VOL1] sortType [UserName]"));
}

TEST_F(ConnectionDetailPage, EscapesLibraryTextsAndPostedState) {
    fake::ConnInfo info = Info(7, {"/d/b&c \"x\".txt"});
    info.userName = "<i>ann</i>";
    info.netAddress = "<a>";
    info.loginStatus = "Odd<state>";
    info.connType = "T&T";
    info.sevDNs = std::vector<fake::Entry>{"cn=<x>"};
    info.secEquivCount = 0;  // the first entry is shown all the same
    fake::SetConnInfo(7, info);
    fake::Request request = fake::Post("/cifscons/00000007",
                                       "volume=V%3C1%3E&sorttype=User%20Name&FILTER=%22%3E%3Cb%3E");
    const std::string path = "/d/b&amp;c &quot;x&quot;.txt";
    const std::string hidden = FileHidden("V&lt;1&gt;", "User Name", "&quot;&gt;&lt;b&gt;");
    const std::string expected =
        DetailHeading("&lt;i&gt;ann&lt;/i&gt;") +
        BackToOfm("User%20Name", "V%3C1%3E", "User Name", "V&lt;1&gt;", "&quot;&gt;&lt;b&gt;", 7) +
        InfoRows(7, "Odd&lt;state&gt;", kTime, "Supervisor", "T&amp;T", "&lt;a&gt;") + "\n<tr " +
        kLight + "><td align=right>Security Equivalence List</td><TD>cn=&lt;x&gt;</td></TR>" +
        "<tr " + kDark + "><td align=right>Open Files</td>" + FileForm(7, path, true, "", hidden) +
        kDetailEnd;
    EXPECT_THAT(Body(request), fake::TextEq(expected));
}

TEST_F(ConnectionDetailPage, IdIsHexadecimalAndOnlyItsLow16BitsCount) {
    fake::SetConnInfo(12, Info(12, {}));
    for (const char *id : {"c", "0000000C", "0001000C", "cZZ"}) {
        SCOPED_TRACE(id);
        fake::Request request = fake::Get(std::string("/cifscons/") + id);
        EXPECT_THAT(Body(request), HasSubstr("<td align=right>Connection</td><td>12</td>"));
    }
    const std::vector<std::string> calls = fake::Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Ext_GetConnInfo(12)"), 4);
}

TEST_F(ConnectionDetailPage, FailuresAnswerWithAnErrorBodyAndReleaseEverything) {
    fake::SetConnInfo(5, std::nullopt, 0);
    fake::SetConnInfo(6, Info(6, {"/v/a"}), 7);  // a failure that still hands out a record
    const struct {
        const char *path;
        int status;
    } cases[] = {
        {"/cifscons/000000001", 400}, {"/cifscons/00000009", 500}, {"/cifscons/00000005", 500}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        fake::Request request = fake::Get(c.path);
        EXPECT_EQ(Serve(request), c.status);
        ASSERT_EQ(request.errorPackages.size(), 1u);
        EXPECT_EQ(request.errorPackages[0].status, c.status);
        EXPECT_EQ(request.errorPackages[0].html, ErrorBody(c.status));
    }
    EXPECT_THAT(fake::Calls(), ElementsAre("Ext_GetConnInfo(9)", "Ext_GetConnInfo(5)"));
    EXPECT_THAT(LogText(),
                HasSubstr("DisplaySpecifiedConnection, Error getting User Details - status = 1"));

    fake::Request shown = fake::Get("/cifscons/6");
    EXPECT_THAT(Body(shown), HasSubstr("<td align=right>Connection</td><td>6</td>"));

    // The records are given back when the response cannot be opened as well.
    fake::Request lost = fake::Get("/cifscons/00000006");
    lost.openSucceeds = false;
    EXPECT_EQ(Serve(lost), 500);
    ASSERT_EQ(lost.errorPackages.size(), 1u);
    EXPECT_EQ(lost.errorPackages[0].html, ErrorBody(500));
}

TEST_F(ConnectionDetailPage, RefusalsOfTheCaller) {
    fake::SetConnInfo(0, Info(0, {}));
    const char id0[] =
        "\x01"
        "0";
    fake::Request unauthorised;
    EXPECT_EQ(DisplaySpecifiedConnection(unauthorised.handle(), 0, 0, 1, id0, nullptr, nullptr,
                                         nullptr, nullptr),
              401);
    EXPECT_THAT(unauthorised.errorResponses, ElementsAre(401));
    EXPECT_THAT(unauthorised.errorPackages, IsEmpty());

    fake::Request zero;
    EXPECT_EQ(
        DisplaySpecifiedConnection(zero.handle(), 0, 1, 0, id0, nullptr, nullptr, nullptr, nullptr),
        401);
    ASSERT_EQ(zero.errorPackages.size(), 1u);
    EXPECT_EQ(zero.errorPackages[0].html, ErrorBody(401));
    EXPECT_THAT(fake::Calls(), IsEmpty());

    fake::Request clearing;
    EXPECT_EQ(DisplaySpecifiedConnection(clearing.handle(), 1, 1, 1, id0, "LoginTime", "", "", ""),
              0);
    EXPECT_THAT(clearing.body,
                HasSubstr("<BR><BR><A HREF=/cifscons/LoginTime>[Back to Connections]</A><BR>"
                          "<A HREF=\"javascript:ConfirmClearConn('/cifscons/CIFSCloseConnections/"
                          "<closeconn>0</closeconn>', '0')\">Clear Connection</A><BR><br>"));
    EXPECT_THAT(clearing.body, Not(HasSubstr("Close All Files")));
}

TEST_F(ConnectionDetailPage, SecurityEquivalencesUpToTheirCount) {
    fake::ConnInfo info = Info(3, {});
    info.sevDNs = std::vector<fake::Entry>{"a", "b", "c"};
    info.secEquivCount = 2;
    fake::SetConnInfo(3, info);
    fake::Request request = fake::Get("/cifscons/3");
    const std::string expected =
        "\n<tr " + kLight + "><td align=right>Security Equivalence List</td><TD>a</td></TR>" +
        "\n<tr " + kDark + "><td align=right></td><TD>b</td></TR>" + "<tr " + kLight +
        "><td align=right>Open Files<td align=left></td></tr>" + kDetailEnd;
    const std::string body = Body(request);
    ASSERT_GE(body.size(), expected.size());
    EXPECT_THAT(body.substr(body.size() - expected.size()), fake::TextEq(expected));
    EXPECT_THAT(LogText(), HasSubstr("Security equivalence count: 2\n"));
}

TEST_F(ConnectionDetailPage, MessageBoxRowAndRedirect) {
    fake::Request box;
    ASSERT_EQ(HttpSendSuccessfulResponse(box.handle(), "text/html"), 0);
    int stripe = 1;
    DisplaySendMessageBox(box.handle(), &stripe, nullptr, 0x1c, nullptr);
    EXPECT_EQ(stripe, 2);
    EXPECT_EQ(box.body, "\n<tr " + kDark +
                            "><td valign=TOP align=right>Send Message<td><table boder=0><FORM "
                            "METHOD=POST ACTION=/cifscons/SendTo/0000001C><TEXTAREA NAME=MSG "
                            "ROWS=2 COLS=40 WRAP></TEXTAREA><br><center><INPUT TYPE=submit "
                            "VALUE=Send><INPUT TYPE=reset VALUE=Reset></center></FORM></table>\n");
    HttpEndDataResponse(box.handle());

    // The four steps of a hand-built 302 response, in order.
    fake::Request redirect;
    EXPECT_EQ(SendRedirect(redirect.handle(), "Location: /cifscons\r\n"), 302);
    EXPECT_EQ(redirect.handBuiltStatus, 302);
    EXPECT_THAT(redirect.headerLines, ElementsAre("Location: /cifscons"));
    EXPECT_THAT(redirect.Ops(),
                ElementsAre("HttpOpenResponseHeaderTag", "HttpAddResponseHeaderTags",
                            "HttpSendResponseHeader", "HttpEndDataResponse"));
    EXPECT_TRUE(redirect.violations.empty());
    EXPECT_TRUE(redirect.Complete());
    // A refused step stops the sequence; the status is 302 all the same.
    fake::Request refused;
    ASSERT_EQ(HttpSendSuccessfulResponse(refused.handle(), "text/html"), 0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(SendRedirect(refused.handle(), "Location: /\r\n"), 302);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "error 1 sending redirect\n");
    EXPECT_THAT(refused.Ops(),
                ElementsAre("HttpSendSuccessfulResponse", "HttpOpenResponseHeaderTag"));
}

}  // namespace
}  // namespace kel2cifs
