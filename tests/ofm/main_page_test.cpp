// The Manage Open Files page without a volume and with one, served end to end, and its script.
#include "ofm/main_page.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "expected_ofm.h"
#include "ofm_fixture.h"

namespace kel2cifs {
namespace {

using ofm_test::Record;

using expected_ofm::EmptyRow;
using expected_ofm::HeadingRowStart;
using expected_ofm::Option;
using expected_ofm::Row;
using expected_ofm::SortHeadingCells;
using expected_ofm::TableEnd;
using expected_ofm::VolumeSelector;
using expected_ofm::VolumeTableStart;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::string kLight = fake::kStripeLight;
const std::string kDark = fake::kStripeDark;

class OpenFilesPage : public ofm_test::OfmTest {
  protected:
    // Three files of three connections; each sort key orders them differently.
    static void SetThreeFiles() {
        fake::SetVolumes({"VOL1", "VOL2"});
        fake::SetVolumeFiles(
            "VOL1", {Record(7, "bob", {"/VOL1/a.doc"}), Record(3, "carol", {"/VOL1/c.doc"}),
                     Record(5, "alice", {"/VOL1/b.doc"})});
    }
    static std::string ThreeFilePage(int sortType, const std::string &keyword,
                                     const std::vector<std::string> &rows) {
        std::string page = VolumeSelector({{"VOL1", true}, {"VOL2"}}) +
                           VolumeTableStart("VOL1", "VOL1", "", keyword) + HeadingRowStart(true) +
                           SortHeadingCells(sortType, "VOL1");
        for (const std::string &row : rows) {
            page += row;
        }
        return page + TableEnd();
    }
};

const std::string kBob = Row(kLight, "/VOL1/a.doc", 7, "00000007", "bob");
const std::string kCarol = Row(kLight, "/VOL1/c.doc", 3, "00000003", "carol");
const std::string kAlice = Row(kLight, "/VOL1/b.doc", 5, "00000005", "alice");

std::string Dark(const std::string &row) {
    return "<TR " + kDark + row.substr(4 + kLight.size());
}

TEST_F(OpenFilesPage, WithoutAVolumeIsTheSelectorAndAnEmptyHeading) {
    fake::SetVolumes({"VOL1", "VOL2"});
    fake::Request request = fake::Get("/cifsofm");
    EXPECT_EQ(Serve(request), 200);
    expected_ofm::ExpectOfmHead(request);
    EXPECT_THAT(
        request.body,
        fake::TextEq(expected_ofm::PageWithoutVolume(VolumeSelector({{"VOL1"}, {"VOL2"}}))));
    EXPECT_THAT(fake::Calls(), ElementsAre("Ext_ListVolumeDetails()", "FreeVolsDetailsNode"));
}

TEST_F(OpenFilesPage, TheTypicalRequestSortsByUser) {
    SetThreeFiles();
    fake::Request request = fake::Get("/cifsofm/UserName/VOL1");
    EXPECT_EQ(Serve(request), 200);
    expected_ofm::ExpectOfmHead(request);
    EXPECT_THAT(request.body,
                fake::TextEq(ThreeFilePage(2, "UserName", {kAlice, Dark(kBob), kCarol})));
    EXPECT_THAT(fake::Calls(), ElementsAre("Ext_ListVolumeDetails()", "FreeVolsDetailsNode",
                                           "Ext_ListVolFileDetails(VOL1)", "FreeVolFileListNodes"));
}

TEST_F(OpenFilesPage, SortsByConnectionByDefaultAndByPath) {
    SetThreeFiles();
    fake::Request byConnection = fake::Get("/cifsofm/VOL1");
    EXPECT_EQ(Serve(byConnection), 200);
    EXPECT_THAT(byConnection.body,
                fake::TextEq(ThreeFilePage(1, "ConnectionNumber", {kCarol, Dark(kAlice), kBob})));

    fake::Request explicitConnection = fake::Get("/cifsofm/connectionnumber/VOL1");
    EXPECT_EQ(Serve(explicitConnection), 200);
    EXPECT_EQ(explicitConnection.body, byConnection.body);

    fake::Request byPath = fake::Get("/cifsofm/FILENAME/VOL1");
    EXPECT_EQ(Serve(byPath), 200);
    EXPECT_THAT(byPath.body,
                fake::TextEq(ThreeFilePage(3, "FileName", {kBob, Dark(kAlice), kCarol})));
}

TEST_F(OpenFilesPage, LinksTheConnectionInHexadecimal) {
    fake::SetVolumes({"VOL1"});
    fake::SetVolumeFiles("VOL1", {Record(26, "dan", {"/VOL1/x"})});
    fake::Request request = fake::Get("/cifsofm/VOL1");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body, HasSubstr(Row(kLight, "/VOL1/x", 26, "0000001A", "dan")));
}

TEST_F(OpenFilesPage, AnEmptyVolumeShowsNoItems) {
    fake::SetVolumes({"VOL1"});
    fake::SetVolumeFiles("VOL1", {});
    fake::Request request = fake::Get("/cifsofm/VOL1");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body,
                fake::TextEq(VolumeSelector({{"VOL1", true}}) +
                             VolumeTableStart("VOL1", "VOL1", "", "ConnectionNumber") +
                             HeadingRowStart(false) + SortHeadingCells(1, "VOL1") + EmptyRow() +
                             TableEnd()));
}

TEST_F(OpenFilesPage, AVolumeTheSelectorDoesNotListIsStillRequested) {
    fake::SetVolumes({"VOL1"});
    fake::Request request = fake::Get("/cifsofm/vol1");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body,
                fake::TextEq(VolumeSelector({{"VOL1"}}) +
                             VolumeTableStart("vol1", "vol1", "", "ConnectionNumber") +
                             HeadingRowStart(false) + SortHeadingCells(1, "vol1") +
                             "<tr><td align=left colspan=4 style=\"font-size:13px;color:black;\">"
                             "The CIFS server's data cannot be read: no reason was given (1)."
                             "</td></tr>" +
                             TableEnd()));
    EXPECT_THAT(fake::Calls(), ElementsAre("Ext_ListVolumeDetails()", "FreeVolsDetailsNode",
                                           "Ext_ListVolFileDetails(vol1)"));
}

TEST_F(OpenFilesPage, ANotOpenedResponseWritesNothingElse) {
    SetThreeFiles();
    fake::Request request = fake::Get("/cifsofm/VOL1");
    request.openSucceeds = false;
    EXPECT_EQ(fake::Serve(cifsofmMethod, request, fake::kAdministratorAccess), 500);
    EXPECT_THAT(request.errorResponses, ElementsAre(500));
    EXPECT_THAT(request.headers, IsEmpty());
    EXPECT_EQ(request.body, "");
    EXPECT_THAT(request.violations, IsEmpty());
    EXPECT_THAT(fake::Calls(), IsEmpty());

    fake::Request withoutVolume = fake::Get("/cifsofm");
    withoutVolume.openSucceeds = false;
    EXPECT_EQ(fake::Serve(cifsofmMethod, withoutVolume, fake::kAdministratorAccess), 500);
    EXPECT_THAT(withoutVolume.errorResponses, ElementsAre(500));
    EXPECT_EQ(withoutVolume.body, "");
}

TEST_F(OpenFilesPage, BoundsAVolumeNameThatFillsItsRecord) {
    const std::string name = fake::Unterminated(256, 'v');
    fake::SetVolumes({name});
    fake::Request request = fake::Get("/cifsofm");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body,
                HasSubstr("<option value=\"" + name + "\">" + name + "</option>" + "</select>"));
}

// Names that CIFS clients choose are shown as text, never run as markup.
TEST_F(OpenFilesPage, EscapesEveryDataValue) {
    const std::string volume = "V<1>&";
    fake::SetVolumes({volume});
    fake::SetVolumeFiles(volume,
                         {Record(9, "<b>eve</b>", {"/d/<img src=x onerror=alert(1)>\"&'.doc"})});
    fake::Request request = fake::Post("/cifsofm/" + volume, "FILTER=%22%3E%3Cs%3E.doc");
    EXPECT_EQ(Serve(request), 200);

    const std::string html = "V&lt;1&gt;&amp;";
    const std::string url = "V%3C1%3E%26";
    EXPECT_THAT(
        request.body,
        fake::TextEq(VolumeSelector({{html, true}}) +
                     VolumeTableStart(html, url, "&quot;&gt;&lt;s&gt;.doc", "ConnectionNumber") +
                     HeadingRowStart(false) + SortHeadingCells(1, url) + EmptyRow() + TableEnd()));

    fake::Request unfiltered = fake::Get("/cifsofm/" + volume);
    EXPECT_EQ(Serve(unfiltered), 200);
    EXPECT_THAT(unfiltered.body,
                HasSubstr(Row(kLight, "/d/&lt;img src=x onerror=alert(1)&gt;&quot;&amp;&#39;.doc",
                              9, "00000009", "&lt;b&gt;eve&lt;/b&gt;",
                              "/d/%3Cimg src=x onerror=alert(1)&gt;&quot;&amp;&#39;.doc")));
    EXPECT_THAT(unfiltered.body, ::testing::Not(HasSubstr("<img src=x")));
}

TEST_F(OpenFilesPage, EchoesThePostedFilterAndAppliesIt) {
    fake::SetVolumes({"VOL1"});
    fake::SetVolumeFiles("VOL1", {Record(1, "u", {"/VOL1/a.doc", "/VOL1/b.txt"})});
    fake::Request request = fake::Post("/cifsofm/VOL1", "FILTER=*.doc");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body,
                fake::TextEq(VolumeSelector({{"VOL1", true}}) +
                             VolumeTableStart("VOL1", "VOL1", "*.doc", "ConnectionNumber") +
                             HeadingRowStart(true) + SortHeadingCells(1, "VOL1") +
                             Row(kLight, "/VOL1/a.doc", 1, "00000001", "u") + TableEnd()));
    const std::string log = LogText();
    EXPECT_THAT(log, HasSubstr("[D] volume name: VOL1\n"));
    EXPECT_THAT(log, HasSubstr("[D] filter string: *.doc\n"));
}

TEST_F(OpenFilesPage, StripesRowsLightThenDarkAlternately) {
    fake::SetVolumes({"VOL1"});
    fake::SetVolumeFiles("VOL1", {Record(1, "u", {"/1", "/2", "/3", "/4"})});
    fake::Request request = fake::Get("/cifsofm/FileName/VOL1");
    EXPECT_EQ(Serve(request), 200);
    std::vector<std::string> stripes;
    for (std::size_t at = request.body.find("<TR class=\""); at != std::string::npos;
         at = request.body.find("<TR class=\"", at + 1)) {
        stripes.push_back(request.body.substr(at + 4, request.body.find('>', at) - at - 4));
    }
    EXPECT_THAT(stripes, ElementsAre(kLight, kDark, kLight, kDark));
}

class ScriptBlock : public ofm_test::OfmTest {
  protected:
    static std::string Script() {
        fake::SetVolumes({});
        fake::Request request = fake::Get("/cifsofm");
        fake::Serve(cifsofmMethod, request, fake::kAdministratorAccess);
        return request.header() != nullptr ? request.header()->script : "";
    }
};

TEST_F(ScriptBlock, HasThreeElementsWithTheirFunctionsInOrder) {
    const std::string script = Script();
    const std::string open = "<SCRIPT type=\"text/javascript\">\n<!--\n";
    const std::string close = "//--></SCRIPT>\n";
    std::vector<std::string> elements;
    std::size_t at = 0;
    while (at < script.size()) {
        ASSERT_EQ(script.compare(at, open.size(), open), 0) << "at " << at;
        std::size_t end = script.find(close, at);
        ASSERT_NE(end, std::string::npos);
        elements.push_back(script.substr(at + open.size(), end - at - open.size()));
        at = end + close.size();
    }
    ASSERT_EQ(elements.size(), 3u);

    EXPECT_THAT(elements[0], HasSubstr("function ConfirmClearConn(ClearURL, ConnNumber)"));
    EXPECT_THAT(elements[0],
                HasSubstr("    var msg = 'Are you sure you want to clear connection  '\n"));
    EXPECT_THAT(elements[0], HasSubstr("parseInt(ConnNumber)"));
    EXPECT_THAT(elements[1], HasSubstr("function ConfirmClearAll(ClearAllURL)"));
    EXPECT_THAT(elements[1],
                HasSubstr("    var msg = 'Are you sure you want to clear ALL Not Logged In "
                          "connections, doing so could cause applications errors '\n  \n"));

    const std::string &third = elements[2];
    std::size_t previous = 0;
    for (const char *function :
         {"function ConfirmClearMarked(ClearAllURL)", "function checkAndUncheckAll(cb)",
          "function closeFiles(cb)", "function filterFormSubmit()",
          "function connectionFormSubmit(url)", "function sortedFilterFormSubmit(url)",
          "function volumeChanged(selobj)"}) {
        std::size_t found = third.find(function);
        ASSERT_NE(found, std::string::npos) << function;
        EXPECT_GE(found, previous) << function;
        if (previous != 0) {
            EXPECT_EQ(third.compare(found - 3, 3, "}\n\n"), 0) << function;
        }
        previous = found;
    }
    EXPECT_THAT(third, HasSubstr("    var msg = 'Are you sure you want to clear ALL marked "
                                 "connections? Doing so could cause applications errors.'\n  \n"));
    EXPECT_THAT(third, HasSubstr("            \t\tvar msg = 'Closing a file will close the file "
                                 "for all connections. Do you want to continue? '\n  \n"));
    EXPECT_THAT(third, HasSubstr("\t\tvar msg = 'No file selected. Please select the file(s), "
                                 "then click Close Files.'\n  \n"));
    EXPECT_THAT(third, HasSubstr("'/cifsofm/'"));
}

}  // namespace
}  // namespace kel2cifs
