// The connection list page, its headings and its script block, served through cifsconsMethod.
#include "connections/list_page.h"

#include <cstdint>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cons_fixture.h"
#include "expected_cons.h"
#include "support/text_match.h"

namespace kel2cifs {
namespace {

using cons_test::Conn;
using expected_cons::kDark;
using expected_cons::kLight;
using expected_cons::Row;
using expected_cons::RowText;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ConnectionListPage : public cons_test::ConsTest {
  protected:
    // Serves a GET of path and checks the frame of the list page.
    std::string Body(const std::string &path) {
        fake::Request request = fake::Get(path);
        EXPECT_EQ(Serve(request), 200);
        const fake::Header *header = request.header();
        if (header == nullptr) {
            ADD_FAILURE() << "no page head";
            return "";
        }
        EXPECT_EQ(header->title, "CIFS Connections");
        EXPECT_EQ(header->heading, "CIFS Connections");
        EXPECT_EQ(header->options, 4u);
        EXPECT_EQ(header->sectionText, "Connection List");
        EXPECT_EQ(header->helpUrl, "/cifscons/help");
        EXPECT_THAT(header->script, fake::TextEq(expected_cons::Script()));
        EXPECT_EQ(header->scriptWriterResult, static_cast<int>(sizeof("</SCRIPT>\n") - 1));
        return request.body;
    }
};

TEST_F(ConnectionListPage, WritesOneStripedRowPerConnectionInOrder) {
    fake::SetConnections({Conn(7, "ann", 1234567, 1000, 1700000000, "Active Directory"),
                          Conn(3, "bob", 999, 12, 1600000000, "Ravelin"),
                          Conn(5, "", 0, 0, 1700000000, "Later Type")});
    const std::string rows =
        RowText({kLight, 3, "bob", "999", "12", "Sun Sep 13 12:26:40 2020", "Ravelin"},
                "ConnectionNumber") +
        RowText({kDark, 5, "*", "0", "0", "Tue Nov 14 22:13:20 2023", "Later Type"},
                "ConnectionNumber") +
        RowText({kLight, 7, "ann", "1,234,567", "1,000", "Tue Nov 14 22:13:20 2023",
                 "Active Directory"},
                "ConnectionNumber");
    EXPECT_THAT(Body("/cifscons"), fake::TextEq(expected_cons::ListPage(1, rows)));
    // The same page under the default keyword.
    EXPECT_THAT(Body("/cifscons/ConnectionNumber"), fake::TextEq(expected_cons::ListPage(1, rows)));
}

TEST_F(ConnectionListPage, EachSortKeywordMarksItsOwnColumn) {
    const struct {
        const char *path;
        int sortType;
    } cases[] = {{"/cifscons/ConnectionNumber", 1}, {"/cifscons/connectionname", 2},
                 {"/cifscons/LOGINTIME", 3},        {"/cifscons/FSActivity", 4},
                 {"/cifscons/ZupRequest", 5},       {"/cifscons/ConnectionType", 6},
                 {"/cifscons/LoginTimes", 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        // A list head with a count of 0: an empty table without the "No items." row.
        fake::SetConnections({Conn(1, "a")}, 0, 0);
        EXPECT_THAT(Body(c.path), fake::TextEq(expected_cons::ListPage(c.sortType, "")));
    }
}

TEST_F(ConnectionListPage, NameLinksCarryTheSortKeyword) {
    fake::SetConnections({Conn(12, "ann"), Conn(2, "zed")});
    const std::string rows =
        RowText({kLight, 12, "ann", "0", "0", "Tue Nov 14 22:13:20 2023", "Ravelin"},
                "ConnectionName") +
        RowText({kDark, 2, "zed", "0", "0", "Tue Nov 14 22:13:20 2023", "Ravelin"},
                "ConnectionName");
    EXPECT_THAT(Body("/cifscons/ConnectionName"), fake::TextEq(expected_cons::ListPage(2, rows)));
}

// A listing that succeeded without a list: the server has no connection. (A failed listing
// tells why instead: report_test.cpp.)
TEST_F(ConnectionListPage, NoConnectionListShowsNoItems) {
    fake::SetConnections({});
    EXPECT_THAT(Body("/cifscons"), fake::TextEq(expected_cons::ListPage(1, "", true)));
}

TEST_F(ConnectionListPage, EscapesDataAndShowsCountsUnsigned) {
    fake::Connection c = Conn(4, "<b>&'\"", uint64_t{1} << 40, 3000000000u);
    c.connType = "x<y";
    fake::SetConnections({c});
    const std::string rows = RowText({kLight, 4, "&lt;b&gt;&amp;&#39;&quot;", "1,099,511,627,776",
                                      "3,000,000,000", "Tue Nov 14 22:13:20 2023", "x&lt;y"},
                                     "ConnectionNumber");
    EXPECT_THAT(Body("/cifscons"), fake::TextEq(expected_cons::ListPage(1, rows)));
}

TEST_F(ConnectionListPage, NumbersAndTimesKeepTheirFullWidth) {
    // 64-bit totals beyond 2^63 stay unsigned, and a login time beyond 2^32 seconds is shown
    // as itself (its low 32 bits would read as 14 Nov 2023).
    const uint64_t late = (uint64_t{1} << 32) + 1700000000;
    fake::SetConnections({Conn(5, "big", UINT64_MAX, UINT32_MAX, late)});
    const std::string rows = RowText({kLight, 5, "big", "18,446,744,073,709,551,615",
                                      "4,294,967,295", "Sat Dec 22 04:41:36 2159", "Ravelin"},
                                     "ConnectionNumber");
    EXPECT_THAT(Body("/cifscons"), fake::TextEq(expected_cons::ListPage(1, rows)));
}

TEST_F(ConnectionListPage, WithoutTheListOnlyTheEndIsWritten) {
    fake::SetConnections({Conn(1, "a")});
    fake::Request request;
    EXPECT_EQ(generate_main_connections_page(request.handle(), 1, 0, 0, kSortByConnectionNumber,
                                             "ConnectionNumber"),
              200);
    ASSERT_NE(request.header(), nullptr);
    EXPECT_EQ(request.header()->title, "CIFS Connections");
    EXPECT_EQ(request.body, "</FORM></table></dl></BODY></HTML>\n");
    EXPECT_TRUE(request.Complete());
    EXPECT_THAT(fake::Calls(), IsEmpty());  // no connection list was fetched
}

TEST_F(ConnectionListPage, ResponseNotOpenedWritesNothingElse) {
    fake::SetConnections({Conn(1, "a")});
    fake::Request request = fake::Get("/cifscons");
    request.openSucceeds = false;
    EXPECT_EQ(Serve(request), 500);
    EXPECT_THAT(request.errorResponses, ElementsAre(500));
    EXPECT_THAT(request.body, IsEmpty());
    EXPECT_THAT(fake::Calls(), IsEmpty());
}

TEST_F(ConnectionListPage, SelectionColumnNamesCheckboxesByNumber) {
    fake::SetConnections({Conn(0, "zero"), Conn(3, "bob")});
    fake::Request request;
    ASSERT_EQ(HttpSendSuccessfulResponse(request.handle(), "text/html"), 0);
    EXPECT_EQ(
        DisplayCIFSConnectionList(request.handle(), 1, kSortByConnectionNumber, "ConnectionNumber"),
        0);
    const std::string row0 = RowText(
        {kLight, 0, "zero", "0", "0", "Tue Nov 14 22:13:20 2023", "Ravelin"}, "ConnectionNumber");
    const std::string row3 = RowText(
        {kDark, 3, "bob", "0", "0", "Tue Nov 14 22:13:20 2023", "Ravelin"}, "ConnectionNumber");
    const std::string open0 = "\n<TR " + kLight + ">";
    const std::string open3 = "\n<TR " + kDark + ">";
    const std::string expected =
        "<FORM><table border=0><tr class=\"tablehead\"><TD align=center colspan=7>CIFS "
        "Connection List</TD></tr><TR class=\"tablesubhead\" NOWRAP><TD align=center><input "
        "type=\"checkbox\" NAME=CLOSE_ALL title=\"Select All\" id=noid "
        "onchange='checkAndUncheckAll(this)'></TD>\n" +
        expected_cons::Headings(1) + open0 + "<TD align=center>&nbsp;</TD>" +
        row0.substr(open0.size()) + open3 +
        "<TD class=\"tablecol\" align=center><input type=\"checkbox\" id=cb1 NAME=3></TD>" +
        row3.substr(open3.size());
    EXPECT_THAT(request.body, fake::TextEq(expected));
    HttpEndDataResponse(request.handle());
}

}  // namespace
}  // namespace kel2cifs
