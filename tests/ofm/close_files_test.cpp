// Closing the files named in a close form, the close action, and the file details pages.
#include "ofm/close_files.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "expected_ofm.h"
#include "ofm/file_details.h"
#include "ofm_fixture.h"

namespace kel2cifs {
namespace {

using ofm_test::Record;

using expected_ofm::HeadingRowStart;
using expected_ofm::Row;
using expected_ofm::SortHeadingCells;
using expected_ofm::TableEnd;
using expected_ofm::VolumeSelector;
using expected_ofm::VolumeTableStart;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::vector<std::string> ClosedPaths() {
    std::vector<std::string> paths;
    for (const fake::CloseCall &call : fake::CloseCalls()) {
        EXPECT_EQ(call.kind, fake::CloseCall::kByFileName);
        paths.push_back(call.path);
    }
    return paths;
}

// What a browser posts for a form field: every byte but letters and digits as %XX, blanks as +.
std::string FormEncode(const std::string &text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) != 0) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0f];
        }
    }
    return out;
}

// What a browser makes of an attribute value: the character references undone.
std::string HtmlUnescape(std::string text) {
    const std::vector<std::pair<std::string, std::string>> references = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto &[reference, character] : references) {
            if (text.compare(i, reference.size(), reference) == 0) {
                out += character;
                i += reference.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out += text[i++];
        }
    }
    return out;
}

// The VALUE attributes of the FILENAME checkboxes of a page, as the browser would post them.
std::vector<std::string> CheckboxValues(const std::string &page) {
    std::vector<std::string> values;
    const std::string marker = "NAME=\"FILENAME\" VALUE=\"";
    for (std::size_t at = page.find(marker); at != std::string::npos;
         at = page.find(marker, at + 1)) {
        std::size_t from = at + marker.size();
        values.push_back(HtmlUnescape(page.substr(from, page.find('"', from) - from)));
    }
    return values;
}

class CloseList : public ofm_test::OfmTest {};

TEST_F(CloseList, ClosesEveryTaggedNameInOrderIgnoringTheRest) {
    EXPECT_EQ(parseDataToCloseCIFSFiles("FILENAME=<filename>/d/a.txt</filename>&FILENAME="
                                        "<filename>/d/b&c.txt</filename>&K_1_=on"),
              0);
    EXPECT_THAT(ClosedPaths(), ElementsAre("/d/a.txt", "/d/b&c.txt"));
    const std::string log = LogText();
    EXPECT_THAT(log, HasSubstr("[D] file name is /d/a.txt\n[D] file to close /d/a.txt\n"
                               "[D] file name is /d/b&c.txt\n[D] file to close /d/b&c.txt\n"));
}

TEST_F(CloseList, WithoutTagsClosesNothing) {
    EXPECT_EQ(parseDataToCloseCIFSFiles("K_1_=on"), 0);
    EXPECT_EQ(parseDataToCloseCIFSFiles(""), 0);
    EXPECT_EQ(parseDataToCloseCIFSFiles(nullptr), 0);
    EXPECT_THAT(fake::CloseCalls(), IsEmpty());
}

TEST_F(CloseList, AFailedCloseIsLoggedAndTheNextNameStillClosed) {
    fake::SetCloseResults({5, 0});
    EXPECT_EQ(parseDataToCloseCIFSFiles("<filename>/d/a</filename><filename>/d/b</filename>"), 0);
    EXPECT_THAT(ClosedPaths(), ElementsAre("/d/a", "/d/b"));
    EXPECT_THAT(LogText(), HasSubstr("[D] Close File Operation failed for file:/d/a\n"));
    EXPECT_THAT(LogText(), ::testing::Not(HasSubstr("failed for file:/d/b")));
}

TEST_F(CloseList, AnEmptyNameIsPassedOn) {
    fake::SetCloseResults({2});
    parseDataToCloseCIFSFiles("FILENAME=<filename></filename>");
    EXPECT_THAT(ClosedPaths(), ElementsAre(""));
    EXPECT_THAT(LogText(), HasSubstr("[D] Close File Operation failed for file:\n"));
}

TEST_F(CloseList, StopsAtAnOpeningTagWithoutItsEnd) {
    parseDataToCloseCIFSFiles("<filename>/d/a</filename>&<filename>/d/b&<filename>/d/c");
    EXPECT_THAT(ClosedPaths(), ElementsAre("/d/a"));
}

TEST_F(CloseList, CutsALongNameTo511Characters) {
    const std::string name = "/" + std::string(600, 'n');
    parseDataToCloseCIFSFiles(("<filename>" + name + "</filename>").c_str());
    EXPECT_THAT(ClosedPaths(), ElementsAre(name.substr(0, 511)));
}

class CloseAction : public ofm_test::OfmTest {
  protected:
    void SetUp() override {
        OfmTest::SetUp();
        fake::SetVolumes({"VOL1"});
        fake::SetVolumeFiles("VOL1",
                             {Record(4, "ann", {"/VOL1/left.doc"}), Record(2, "zed", {"/VOL1/z"})});
    }
};

TEST_F(CloseAction, ClosesThePostedFilesThenShowsTheVolume) {
    fake::Request request = fake::Post(
        "/cifsofm/CIFSCloseFiles/VOL1",
        "FILENAME=%3Cfilename%3E%2Fd%2Fa.txt%3C%2Ffilename%3E&FILENAME=%3Cfilename%3E%2Fd%2Fb%"
        "26c.txt%3C%2Ffilename%3E&K_1_=on");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(ClosedPaths(), ElementsAre("/d/a.txt", "/d/b&c.txt"));
    expected_ofm::ExpectOfmHead(request);
    EXPECT_THAT(
        request.body,
        fake::TextEq(VolumeSelector({{"VOL1", true}}) +
                     VolumeTableStart("VOL1", "VOL1", "", "ConnectionNumber") +
                     HeadingRowStart(true) + SortHeadingCells(1, "VOL1") +
                     Row(fake::kStripeLight, "/VOL1/z", 2, "00000002", "zed") +
                     Row(fake::kStripeDark, "/VOL1/left.doc", 4, "00000004", "ann") + TableEnd()));
    EXPECT_THAT(LogText(),
                HasSubstr("[D] Set of file names to close = FILENAME=<filename>/d/a.txt</filename>"
                          "&FILENAME=<filename>/d/b&c.txt</filename>&K_1_=on\n"));
}

TEST_F(CloseAction, KeepsTheSortKeywordBeforeTheAction) {
    fake::Request request = fake::Post("/cifsofm/UserName/CIFSCloseFiles/VOL1",
                                       "FILENAME=%3Cfilename%3E%2Fd%2Fa%3C%2Ffilename%3E");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(ClosedPaths(), ElementsAre("/d/a"));
    EXPECT_THAT(request.body,
                fake::TextEq(VolumeSelector({{"VOL1", true}}) +
                             VolumeTableStart("VOL1", "VOL1", "", "UserName") +
                             HeadingRowStart(true) + SortHeadingCells(2, "VOL1") +
                             Row(fake::kStripeLight, "/VOL1/left.doc", 4, "00000004", "ann") +
                             Row(fake::kStripeDark, "/VOL1/z", 2, "00000002", "zed") + TableEnd()));
}

TEST_F(CloseAction, APostedFilterDoesNotApply) {
    fake::Request request = fake::Post("/cifsofm/CIFSCloseFiles/VOL1", "FILTER=*.doc");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body, HasSubstr(VolumeTableStart("VOL1", "VOL1", "", "ConnectionNumber")));
    EXPECT_THAT(request.body, HasSubstr("/VOL1/z"));
    EXPECT_THAT(fake::CloseCalls(), IsEmpty());
}

TEST_F(CloseAction, AGetClosesNothing) {
    fake::Request request = fake::Get("/cifsofm/cifsclosefiles/VOL1");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(fake::CloseCalls(), IsEmpty());
    EXPECT_THAT(request.body, HasSubstr(VolumeTableStart("VOL1", "VOL1", "", "ConnectionNumber")));
}

TEST_F(CloseAction, ComponentsAfterTheVolumeAreCutOff) {
    fake::Request request = fake::Post("/cifsofm/CIFSCloseFiles/VOL1/more/parts", "");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(request.body, HasSubstr(VolumeTableStart("VOL1", "VOL1", "", "ConnectionNumber")));
}

TEST_F(CloseAction, WithoutAVolumeClosesAndWritesNothingPastThePath) {
    fake::Request request =
        fake::Post("/cifsofm/CIFSCloseFiles", "FILENAME=%3Cfilename%3E%2Fd%2Fa%3C%2Ffilename%3E");
    const std::size_t length = std::string_view("/cifsofm/CIFSCloseFiles").size();
    std::fill(request.pathBuffer.begin() + length + 1, request.pathBuffer.end(), 'Z');
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(ClosedPaths(), ElementsAre("/d/a"));
    EXPECT_THAT(request.body,
                fake::TextEq(expected_ofm::PageWithoutVolume(VolumeSelector({{"VOL1"}}))));
    EXPECT_EQ(request.pathBuffer[length], '\0');
    EXPECT_TRUE(std::all_of(request.pathBuffer.begin() + length + 1, request.pathBuffer.end(),
                            [](char c) { return c == 'Z'; }));
}

// A file whose name holds markup is shown as text, and the value the browser posts back from the
// page still closes exactly that file.
TEST_F(CloseAction, AFileWithMarkupInItsNameIsClosedByItsExactPath) {
    const std::string path = "/VOL1/<img src=x onerror=\"alert(1)\">&amp;'x.doc";
    fake::SetVolumeFiles("VOL1", {Record(3, "eve", {path})});
    fake::Request page = fake::Get("/cifsofm/VOL1");
    EXPECT_EQ(Serve(page), 200);
    const std::string shown =
        "/VOL1/&lt;img src=x onerror=&quot;alert(1)&quot;&gt;&amp;amp;&#39;x.doc";
    EXPECT_THAT(page.body, HasSubstr(Row(fake::kStripeLight, shown, 3, "00000003", "eve")));

    std::vector<std::string> values = CheckboxValues(page.body);
    ASSERT_THAT(values, ElementsAre("<filename>" + path + "</filename>"));
    fake::Request close = fake::Post("/cifsofm/CIFSCloseFiles/VOL1",
                                     "FILENAME=" + FormEncode(values[0]) + "&K_1_=on");
    EXPECT_EQ(Serve(close), 200);
    EXPECT_THAT(ClosedPaths(), ElementsAre(path));
}

class FileDetails : public ofm_test::OfmTest {
  protected:
    void SetUp() override {
        OfmTest::SetUp();
        fake::SetVolumes({"VOL1"});
    }
};

TEST_F(FileDetails, IsTheSameFrameForEveryPath) {
    fake::Request request = fake::Get("/cifsofm/CIFSBrowseFile/VOL1/d/a.txt");
    EXPECT_EQ(Serve(request), 200);
    expected_ofm::ExpectOfmHead(request);
    EXPECT_THAT(request.body, fake::TextEq(expected_ofm::DetailsPage(VolumeSelector({{"VOL1"}}))));
    EXPECT_THAT(LogText(), HasSubstr("[D] file name = /d/a.txt\n"));
    EXPECT_THAT(fake::Calls(), ElementsAre("Ext_ListVolumeDetails()", "FreeVolsDetailsNode"));

    fake::Request posted = fake::Post("/cifsofm/UserName/CIFSBrowseFile/VOL1/x/y/z.doc", "a=b");
    EXPECT_EQ(Serve(posted), 200);
    EXPECT_EQ(posted.body, request.body);
    EXPECT_THAT(LogText(), HasSubstr("[D] file name = /x/y/z.doc\n"));
}

TEST_F(FileDetails, TakesThePathAfterTheVolumeWhateverTheKeywordsCase) {
    fake::Request request = fake::Get("/cifsofm/cifsbrowsefile/CIFSBrowseFile/d/a.txt");
    EXPECT_EQ(Serve(request), 200);
    EXPECT_THAT(LogText(), HasSubstr("[D] file name = /d/a.txt\n"));
}

TEST_F(FileDetails, WithoutAVolumeOrPathTheFilePathIsEmpty) {
    fake::Request bare = fake::Get("/cifsofm/CIFSBrowseFile");
    EXPECT_EQ(Serve(bare), 200);
    fake::Request volumeOnly = fake::Get("/cifsofm/CIFSBrowseFile/VOL1");
    EXPECT_EQ(Serve(volumeOnly), 200);
    EXPECT_EQ(bare.body, expected_ofm::DetailsPage(VolumeSelector({{"VOL1"}})));
    EXPECT_EQ(volumeOnly.body, bare.body);
    const std::string log = LogText();
    const std::string line = "[D] file name = \n";
    std::size_t first = log.find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(line, first + line.size()), std::string::npos);
}

TEST_F(FileDetails, SampleFileInformationPage) {
    fake::Request request;
    EXPECT_EQ(generate_fileinfo_page(request.handle(), 0, 0, 0), 200);
    expected_ofm::ExpectOfmHead(request, "File Information");
    EXPECT_THAT(request.violations, IsEmpty());
    const std::string body = request.body;
    const std::string before =
        "<DIV CLASS=NORMAL><TABLE BORDER=0 CELLPADDING=2 bgcolor=#ffffff><tr><td><P><A "
        "HREF=/cifsofm>[Back to open file management]</A><BR><BR><DL><DT><B>File "
        "information</B>\n"
        "<DD><TABLE border=0 cellpadding=3><TR bgcolor=#ffffff><TH ALIGN=LEFT>Owner</TH><TD>";
    const std::string after =
        "</TD></TR>"
        "<TR bgcolor=#efeee9><TH ALIGN=LEFT>Last modified date and time</TH><TD>Wed Oct 10 "
        "16:03:54 2012</TD></TR>"
        "<TR bgcolor=#efeee9><TH ALIGN=LEFT>Effective rights</TH><TD>SRWCEMFA</TD></TR>"
        "<TR bgcolor=#ffffff><TH ALIGN=LEFT>Inherited rights filter</TH><TD>SRWCEMFA</TD></TR>"
        "<TR bgcolor=#efeee9><TH ALIGN=LEFT>Disk space in use</TH><TD>9,337 "
        "Bytes</TD></TR>\t</TABLE>"
        "<DT><FORM METHOD=\"POST\" ACTION=\"/zupdfunction/DELETEFILE_CONFIRM\">"
        "<INPUT TYPE=\"submit\" VALUE=\"Close File\"></FORM></DT>"
        "</table></dl></BODY></HTML>\n";
    ASSERT_GT(body.size(), before.size() + after.size());
    EXPECT_EQ(body.substr(0, before.size()), before);
    EXPECT_EQ(body.substr(body.size() - after.size()), after);
    // The owner is a dotted directory name.
    const std::string owner =
        body.substr(before.size(), body.size() - before.size() - after.size());
    EXPECT_THAT(owner, ::testing::MatchesRegex("[A-Za-z0-9]+(\\.[A-Za-z0-9]+)+"));
    EXPECT_EQ(request.state, fake::Response::kEnded);
}

TEST_F(FileDetails, ANotOpenedResponseGives500) {
    fake::Request details;
    details.openSucceeds = false;
    EXPECT_EQ(displayCIFSFileDetails(details.handle(), "/d/a"), 500);
    EXPECT_THAT(details.errorResponses, ElementsAre(500));
    EXPECT_EQ(details.body, "");
    fake::Request sample;
    sample.openSucceeds = false;
    EXPECT_EQ(generate_fileinfo_page(sample.handle(), 0, 0, 0), 500);
    EXPECT_THAT(sample.errorResponses, ElementsAre(500));
    EXPECT_THAT(fake::Calls(), IsEmpty());
}

}  // namespace
}  // namespace kel2cifs
