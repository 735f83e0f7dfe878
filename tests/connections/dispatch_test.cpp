// The URL grammar of /cifscons, its actions and its failures, case by case.
#include "connections/dispatch.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/browser_form.h"
#include "connections/close.h"
#include "connections/connection_list.h"
#include "cons_fixture.h"
#include "expected_cons.h"
#include "support/text_match.h"

namespace kel2cifs {
namespace {

using cons_test::Conn;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

struct Closed {
    fake::CloseCall::Kind kind;
    std::string path;
    unsigned conn;
    bool operator==(const Closed &) const = default;
};

void PrintTo(const Closed &c, std::ostream *out) {
    *out << (c.kind == fake::CloseCall::kByID ? "ID " : "name ") << c.path << c.conn;
}

std::vector<Closed> ClosedSoFar() {
    std::vector<Closed> closed;
    for (const fake::CloseCall &call : fake::CloseCalls()) {
        closed.push_back({call.kind, call.kind == fake::CloseCall::kByID ? "" : call.path,
                          call.kind == fake::CloseCall::kByID ? call.connNumber : 0});
    }
    return closed;
}

Closed ById(unsigned conn) {
    return {fake::CloseCall::kByID, "", conn};
}
Closed ByName(std::string path) {
    return {fake::CloseCall::kByFileName, std::move(path), 0};
}

class ConnectionsDispatch : public cons_test::ConsTest {
  protected:
    void SetUp() override {
        ConsTest::SetUp();
        fake::ConnInfo info;
        info.connNumber = 12;
        info.userName = "ann";
        fake::SetConnInfo(12, info);
    }
    // The title of the page head, or "" when none was written.
    static std::string Title(const fake::Request &request) {
        return request.header() != nullptr ? request.header()->title.value_or("") : "";
    }
    // Serves request and expects the error page with message.
    void ExpectErrorPage(fake::Request &request, const std::string &message,
                         unsigned int access = fake::kAdministratorAccess) {
        EXPECT_EQ(Serve(request, access), 200);
        EXPECT_EQ(Title(request), "HTTP Failure");
        EXPECT_THAT(request.body, HasSubstr("<b>Error :</b>  " + message + "</td>"));
    }
};

TEST_F(ConnectionsDispatch, HelpIsServedForEveryMethod) {
    const struct {
        const char *path;
        const char *title;
    } cases[] = {
        {"/cifscons/help", "CIFS Connections"},
        {"/cifscons/HELP", "CIFS Connections"},
        {"/cifscons/he", "CIFS Connections"},
        {"/cifscons/", "CIFS Connections"},  // an empty component is a prefix of help
        {"/cifscons/help/", "CIFS Connections"},
        {"/cifscons/help/_info_", "CIFS Connection Information"},
        {"/cifscons/help/_INFO_", "CIFS Connection Information"},
        {"/cifscons/help/_IN", "CIFS Connection Information"},  // a prefix of _info_
        {"/cifscons/he/_info_/more", "CIFS Connection Information"},
        {"/cifscons/help/x", "HTTP Failure"},
        {"/cifscons/help/info", "HTTP Failure"},
        {"/cifscons/help/_info_x", "HTTP Failure"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        fake::Request get = fake::Get(c.path);
        get.methodSucceeds = false;  // help comes before the method is asked for
        EXPECT_EQ(Serve(get), 200);
        EXPECT_EQ(Title(get), c.title);
        fake::Request post = fake::Post(c.path, "a=b");
        EXPECT_EQ(Serve(post), 200);
        EXPECT_EQ(Title(post), c.title);
    }
    fake::Request helpMe = fake::Get("/cifscons/helpme");  // no help: an id of 6 characters
    EXPECT_EQ(Serve(helpMe), 500);

    // A help page that could not be opened has answered 500 itself: no second response.
    fake::Request lost = fake::Get("/cifscons/help");
    lost.openSucceeds = false;
    EXPECT_EQ(Serve(lost), 500);
    EXPECT_THAT(lost.errorResponses, ElementsAre(500));
    EXPECT_THAT(lost.errorPackages, IsEmpty());
    EXPECT_EQ(lost.header(), nullptr);
}

TEST_F(ConnectionsDispatch, IdsOfOneToEightCharacters) {
    for (const char *path : {"/cifscons/c", "/cifscons/0000000c", "/cifscons/ZupRequest/C"}) {
        SCOPED_TRACE(path);
        fake::Request request = fake::Get(path);
        EXPECT_EQ(Serve(request), 200);
        EXPECT_EQ(Title(request), "CIFS Connection Information");
    }
    fake::Request nine = fake::Get("/cifscons/00000000c");
    EXPECT_EQ(Serve(nine), 400);
    fake::Request sorted = fake::Get("/cifscons/ZupRequest/C");
    Serve(sorted);
    EXPECT_THAT(sorted.body, HasSubstr("<A HREF=/cifscons/ZupRequest>[Back to Connections]</A>"));
}

TEST_F(ConnectionsDispatch, ClearingConnectionsListsThemAgain) {
    fake::SetConnections({Conn(3, "bob")});
    fake::Request get = fake::Get(
        "/cifscons/CIFSCloseConnections/<closeconn>3</closeconn><closeconn>4</closeconn>"
        "<closeconn>5</closeconn>");
    EXPECT_EQ(Serve(get), 200);
    EXPECT_EQ(Title(get), "CIFS Connections");
    EXPECT_THAT(get.body, HasSubstr(">bob</A>"));
    EXPECT_THAT(LogText(),
                HasSubstr("connections to be closed = <closeconn>3</closeconn><closeconn>4"
                          "</closeconn><closeconn>5</closeconn>"));
    EXPECT_THAT(ClosedSoFar(), IsEmpty());
    EXPECT_EQ(CIFSCloseSelectedConnections("<closeconn>3</closeconn>"), 0);

    fake::Request post = fake::Post("/cifscons/CIFSCloseConnections/<closeconn>3</closeconn>", "");
    ExpectErrorPage(post, "Bad Http request");
}

TEST_F(ConnectionsDispatch, CloseAllTailClosesTheNamedConnection) {
    fake::Request get =
        fake::Get("/cifscons/CIFSCloseFiles/0000000c/<closeallfiles>12</closeallfiles>");
    EXPECT_EQ(Serve(get), 200);
    EXPECT_THAT(ClosedSoFar(), ElementsAre(ById(12)));
    EXPECT_THAT(get.body, HasSubstr(expected_cons::BackToList("ConnectionNumber", 12)));
    const std::string log = LogText();
    EXPECT_THAT(log, HasSubstr("Clear all files called for connection#:12"));
    EXPECT_THAT(log, HasSubstr("Set of file names to close url [/<closeallfiles>12</closeallfiles>]"
                               " postdata []"));
    EXPECT_THAT(log, HasSubstr("error: failed to get filter  errcode[1] "));
    EXPECT_THAT(log, HasSubstr("error: failed to get volume name  errcode[1] "));
    EXPECT_THAT(log, HasSubstr("error: failed to get sorttype  errcode[1] "));

    // Posted from the open-file pages: the page written next leads back there.
    fake::SetCloseResults({0, 9});
    fake::Request post =
        fake::Post("/cifscons/CIFSCloseFiles/0000000c/<closeallfiles>12</closeallfiles>",
                   "volume=VOL1&sorttype=FileName&FILTER=");
    EXPECT_EQ(Serve(post), 200);
    EXPECT_THAT(post.body, HasSubstr(expected_cons::BackToOfm("FileName", "VOL1", "FileName",
                                                              "VOL1", "", 12)));
    EXPECT_THAT(ClosedSoFar(), ElementsAre(ById(12), ById(12)));
    EXPECT_THAT(LogText(), HasSubstr("Clear all files called for Connection Failed:9"));
}

TEST_F(ConnectionsDispatch, CloseAllTextNamingNoConnectionClosesNothing) {
    const char *tails[] = {
        "<closeallfiles>65548</closeallfiles>",  // 65536 + 12: would close connection 12
        "<closeallfiles>-1</closeallfiles>",     // 65535 in 16 bits
        "<closeallfiles>123456</closeallfiles>",
        "</closeallfiles>12<closeallfiles>",
        "<closeallfiles>12",
        "<closeallfiles></closeallfiles>",
        "<closeallfiles>x</closeallfiles>",
    };
    for (const char *tail : tails) {
        SCOPED_TRACE(tail);
        fake::Request request = fake::Get(std::string("/cifscons/CIFSCloseFiles/0000000C/") + tail);
        EXPECT_EQ(Serve(request), 200);
        EXPECT_EQ(Title(request), "CIFS Connection Information");
        EXPECT_EQ(closeCIFSFilesForThisConnection(tail), 0);
    }
    EXPECT_EQ(closeCIFSFilesForThisConnection(nullptr), 0);
    EXPECT_THAT(ClosedSoFar(), IsEmpty());
    EXPECT_THAT(LogText(), HasSubstr("Clear all files called for connection#:65548"));
    EXPECT_EQ(closeCIFSFilesForThisConnection("x<closeallfiles>65535</closeallfiles>y"), 0);
    EXPECT_EQ(closeCIFSFilesForThisConnection("<closeallfiles> 7</closeallfiles>"), 0);
    EXPECT_THAT(ClosedSoFar(), ElementsAre(ById(65535), ById(7)));
}

TEST_F(ConnectionsDispatch, PostedFileNamesAreClosedWithTheirExactPaths) {
    // As a browser posts the close forms of the page: the escaped value decoded back.
    fake::Request post = fake::Post(
        "/cifscons/ConnectionName/CIFSCloseFiles/0000000C",
        "FILENAME=%3Cfilename%3E%2Fd%2Fb%26c+%22x%22.txt%3C%2Ffilename%3E&FILENAME=%3Cfilename%3E"
        "%2Fd%2Fa.txt%3C%2Ffilename%3E");
    EXPECT_EQ(Serve(post), 200);
    EXPECT_THAT(ClosedSoFar(), ElementsAre(ByName("/d/b&c \"x\".txt"), ByName("/d/a.txt")));
    EXPECT_THAT(post.body, HasSubstr("<A HREF=/cifscons/ConnectionName>"));

    // Without an id the files are closed all the same; the page then answers 400.
    fake::Request noId =
        fake::Post("/cifscons/CIFSCloseFiles", "FILENAME=%3Cfilename%3E%2Fe%3C%2Ffilename%3E");
    EXPECT_EQ(Serve(noId), 400);
    ASSERT_EQ(noId.errorPackages.size(), 1u);
    EXPECT_EQ(noId.errorPackages[0].status, 400);
    EXPECT_THAT(ClosedSoFar(),
                ElementsAre(ByName("/d/b&c \"x\".txt"), ByName("/d/a.txt"), ByName("/e")));
    EXPECT_THAT(LogText(), HasSubstr("Set of file names to close url [] postdata "
                                     "[FILENAME=<filename>/e</filename>]"));

    // A GET closes nothing without a close-all tail.
    fake::Request get = fake::Get("/cifscons/CIFSCloseFiles/0000000C");
    EXPECT_EQ(Serve(get), 200);
    EXPECT_EQ(ClosedSoFar().size(), 3u);
}

// Every close form of the detail page, posted back as a browser would, closes exactly its own
// file, whatever bytes the name holds; a name the close call cannot take is carried cut to fit.
TEST_F(ConnectionsDispatch, EachCloseFormOfTheDetailPageClosesExactlyItsFile) {
    const std::string trap = "/v/trap.doc</filename><filename>/v/victim.doc";
    const std::string lines = "/v/two\r\nlines%.doc";
    const std::string bad = "/v/bad\xFF.doc";
    const std::string overLong = "/v/" + std::string(600, 'p');
    fake::ConnInfo info;
    info.connNumber = 12;
    info.userName = "ann";
    info.openFileNames = {trap, "/v/victim.doc", lines, bad, overLong};
    fake::SetConnInfo(12, info);

    fake::Request page = fake::Post("/cifscons/0000000C", "volume=VOL1&sorttype=UserName&FILTER=");
    EXPECT_EQ(Serve(page), 200);
    const std::vector<std::string> values =
        testing_support::AttributeValues(page.body, "NAME=\"FILENAME\" VALUE=\"");
    EXPECT_EQ(values.size(), 5u);
    EXPECT_THAT(page.body, HasSubstr("<td>/v/bad\xEF\xBF\xBD.doc<INPUT"));
    const std::string cut = overLong.substr(0, 508) + "\xE2\x80\xA6";
    EXPECT_THAT(page.body, HasSubstr("VALUE=\"<filename>" + cut + "</filename>\" ><tr " +
                                     expected_cons::kDark + "><td ></td><td>" + cut + "<INPUT"));
    EXPECT_THAT(page.body, Not(HasSubstr(overLong)));
    for (const std::string &value : values) {
        fake::Request close = fake::Post("/cifscons/CIFSCloseFiles/0000000c",
                                         testing_support::PostedBody("FILENAME", {value}) +
                                             "&volume=VOL1&sorttype=UserName&FILTER=");
        EXPECT_EQ(Serve(close), 200);
    }
    EXPECT_THAT(ClosedSoFar(), ElementsAre(ByName(trap), ByName("/v/victim.doc"), ByName(lines),
                                           ByName(bad), ByName(cut)));
}

TEST_F(ConnectionsDispatch, RequestsThatAreRefused) {
    for (unsigned int access : {0x0u, 0x8u, 0x3u, 0x7u | 0x10000000u}) {
        SCOPED_TRACE(access);
        fake::Request request = fake::Get("/cifscons/help");
        ExpectErrorPage(request, "Unauthorized access denied", access);
    }
    fake::Request allowed = fake::Get("/cifscons/help");
    EXPECT_EQ(Serve(allowed, 0x10000008u), 200);
    EXPECT_EQ(Title(allowed), "CIFS Connections");

    fake::Request noPath = fake::Get("/cifscons");
    noPath.pathSucceeds = false;
    ExpectErrorPage(noPath, "Bad Http request");
    fake::Request longComponent = fake::Get("/cifscons/" + std::string(256, 'a'));
    ExpectErrorPage(longComponent, "Bad Http request");
    fake::Request noMethod = fake::Get("/cifscons");
    noMethod.methodSucceeds = false;
    ExpectErrorPage(noMethod, "Http request missing data");
    fake::Request otherMethod = fake::Get("/cifscons");
    otherMethod.methodCode = 1;
    ExpectErrorPage(otherMethod, "Bad Http request");
    for (const char *path : {"/cifscons", "/cifscons/LoginTime"}) {
        fake::Request post = fake::Post(path, "");
        ExpectErrorPage(post, "Bad Http request");
    }
    fake::Request extra = fake::Get("/cifscons/0000000C/extra");
    ExpectErrorPage(extra, "Bad Http request");
    EXPECT_THAT(fake::Calls(), IsEmpty());
}

TEST_F(ConnectionsDispatch, UnreadablePostBodyCountsAsEmpty) {
    fake::Request post = fake::Post("/cifscons/0000000C", "volume=VOL1");
    post.postDataSucceeds = false;
    EXPECT_EQ(Serve(post), 200);
    EXPECT_THAT(post.body, HasSubstr(expected_cons::BackToList("ConnectionNumber", 12)));
    EXPECT_THAT(LogText(), Not(HasSubstr("Post parameters")));
}

TEST_F(ConnectionsDispatch, ParserReportsWhereItStopped) {
    fake::Request request = fake::Get("/cifscons/FSActivity/0000000C");
    int count = -1;
    cifsSortType sortType = kSortByConnectionNumber;
    char sortName[kSortNameSize] = "";
    char *component = nullptr;
    char *pathCopy = nullptr;
    EXPECT_EQ(GetComponentCountAndSortType(request.handle(), &count, &sortType, sortName,
                                           &component, &pathCopy),
              0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(sortType, kSortByFSActivity);
    EXPECT_STREQ(sortName, "FSActivity");
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(std::string(component, 9),
              "\x08"
              "0000000C");
    ASSERT_NE(pathCopy, nullptr);
    EXPECT_STREQ(pathCopy, "/FSActivity/0000000C");
    std::free(pathCopy);
    EXPECT_THAT(LogText(), HasSubstr("In fun GetComponentCountAndSortType val of componentPath =  "
                                     "/FSActivity/0000000C"));
}

}  // namespace
}  // namespace kel2cifs
