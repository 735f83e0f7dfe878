// Closing the files named in a close form, the close action, and the file details pages.
#include "ofm/close_files.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/browser_form.h"
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
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::UnorderedElementsAreArray;

std::vector<std::string> ClosedPaths() {
    std::vector<std::string> paths;
    for (const fake::CloseCall &call : fake::CloseCalls()) {
        EXPECT_EQ(call.kind, fake::CloseCall::kByFileName);
        paths.push_back(call.path);
    }
    return paths;
}

using testing_support::AttributeValues;
using testing_support::PostedBody;

// How a row's checkbox starts its value.
constexpr char kCheckboxValue[] = "NAME=\"FILENAME\" VALUE=\"";

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

// The close call takes at most 511 bytes; a longer name is refused, never cut into what may be
// another file's name.
TEST_F(CloseList, RefusesANameTheCloseCallCannotTake) {
    const std::string fits = "/" + std::string(510, 'n');
    parseDataToCloseCIFSFiles(("<filename>" + fits + "n</filename><filename>" + fits +
                               "</filename><filename>" + fits + "%41</filename>")
                                  .c_str());
    EXPECT_THAT(ClosedPaths(), ElementsAre(fits));
    EXPECT_THAT(
        LogText(),
        HasSubstr("[D] Close File refused, the name is longer than 511 bytes: " + fits + "n\n"));
}

// Between the tags is the carried name: it is percent-decoded once more, and only "%XX" is
// decoded; a text that no page writes is refused rather than guessed at.
TEST_F(CloseList, DecodesTheCarriedNameAndRefusesMalformedOnes) {
    parseDataToCloseCIFSFiles(
        "<filename>/a%25b+c%253C</filename><filename>/bad%</filename>"
        "<filename>/bad%4</filename><filename>/bad%zz1</filename>"
        "<filename>/nul%00x</filename><filename>/%3C%0D%0A%ff</filename>");
    EXPECT_THAT(ClosedPaths(), ElementsAre("/a%b+c%3C", "/<\r\n\xff"));
    EXPECT_THAT(LogText(),
                HasSubstr("[D] Close File refused, the posted name is malformed: /bad%\n"));
    EXPECT_THAT(LogText(), HasSubstr("malformed: /nul%00x\n"));
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
    EXPECT_THAT(
        page.body,
        HasSubstr(Row(fake::kStripeLight, shown, 3, "00000003", "eve",
                      "/VOL1/%3Cimg src=x onerror=&quot;alert(1)&quot;&gt;&amp;amp;&#39;x.doc")));

    // The "<" is carried as %3C, so that the decoded body holds no tag but the two around it.
    std::vector<std::string> values = AttributeValues(page.body, kCheckboxValue);
    ASSERT_THAT(values, ElementsAre("<filename>/VOL1/%3Cimg src=x onerror=&quot;alert(1)&quot;&gt;"
                                    "&amp;amp;&#39;x.doc</filename>"));
    fake::Request close =
        fake::Post("/cifsofm/CIFSCloseFiles/VOL1", PostedBody("FILENAME", values) + "&K_1_=on");
    EXPECT_EQ(Serve(close), 200);
    EXPECT_THAT(ClosedPaths(), ElementsAre(path));
}

// A volume whose files a close removes from the listing, as a server's would, and pages whose
// close forms are ticked and posted back as a browser would.
class ClosingByName : public ofm_test::OfmTest {
  protected:
    void SetUp() override {
        OfmTest::SetUp();
        fake::SetVolumes({"VOL1"});
    }

    void Open(std::vector<std::string> names) {
        open_ = std::move(names);
        List();
        fake::SetCloseHandler([this](const fake::CloseCall &call) {
            auto found = std::find(open_.begin(), open_.end(), call.path);
            // As the library resolves a name cut to fit: the one open file it begins.
            const std::string_view mark = kCutMark;
            if (found == open_.end() && call.path.ends_with(mark)) {
                const std::string start = call.path.substr(0, call.path.size() - mark.size());
                const auto begins = [&start](const std::string &name) {
                    return name.starts_with(start);
                };
                if (std::count_if(open_.begin(), open_.end(), begins) > 1) {
                    return CIFSMON_STATUS_AMBIGUOUS;
                }
                found = std::find_if(open_.begin(), open_.end(), begins);
            }
            if (found == open_.end()) {
                return 1;
            }
            open_.erase(found);
            List();
            return 0;
        });
    }

    // The page of VOL1 and the raw values of its checkboxes.
    std::vector<std::string> Checkboxes(std::string *page = nullptr) {
        fake::Request request = fake::Get("/cifsofm/VOL1");
        EXPECT_EQ(Serve(request), 200);
        if (page != nullptr) {
            *page = request.body;
        }
        return AttributeValues(request.body, kCheckboxValue);
    }

    // Ticks the checkboxes whose raw value holds `mark` and posts the close form; the page that
    // answers.
    std::string Tick(const std::string &mark) {
        std::vector<std::string> ticked;
        for (const std::string &value : Checkboxes()) {
            if (value.find(mark) != std::string::npos) {
                ticked.push_back(value);
            }
        }
        EXPECT_FALSE(ticked.empty()) << "no checkbox holds " << mark;
        fake::Request close =
            fake::Post("/cifsofm/CIFSCloseFiles/VOL1", PostedBody("FILENAME", ticked));
        EXPECT_EQ(Serve(close), 200);
        return close.body;
    }

    std::vector<std::string> open_;

  private:
    void List() {
        fake::SetVolumeFiles(
            "VOL1", {Record(3, "eve", std::vector<fake::Entry>(open_.begin(), open_.end()))});
    }
};

TEST_F(ClosingByName, ANameHoldingTagsClosesItselfAndNoOtherFile) {
    const std::string trap = "/VOL1/trap.doc</filename><filename>/VOL1/victim.doc";
    Open({trap, "/VOL1/victim.doc"});
    const std::string after = Tick("trap.doc");
    EXPECT_THAT(ClosedPaths(), ElementsAre(trap));
    EXPECT_THAT(open_, ElementsAre("/VOL1/victim.doc"));
    EXPECT_THAT(after, HasSubstr(">/VOL1/victim.doc</td></TR>"));
    EXPECT_THAT(after, Not(HasSubstr("trap.doc")));
}

TEST_F(ClosingByName, LineBreaksPercentSignsAndPlusSignsReachTheirOwnFile) {
    const std::vector<std::string> names = {"/VOL1/two\r\nlines.doc", "/VOL1/cr\ronly",
                                            "/VOL1/lf\nonly",         "/VOL1/100%.doc",
                                            "/VOL1/%3C.doc",          "/VOL1/a+b c&d=e.doc"};
    Open(names);
    std::string page;
    const std::vector<std::string> values = Checkboxes(&page);
    // Written once encoded: "%3C" as a name is "%253C", not a "<".
    EXPECT_THAT(values, Contains("<filename>/VOL1/%253C.doc</filename>"));
    EXPECT_THAT(values, Contains("<filename>/VOL1/two%0D%0Alines.doc</filename>"));
    // Names without those bytes are written as they are.
    EXPECT_THAT(values, Contains("<filename>/VOL1/a+b c&amp;d=e.doc</filename>"));

    Tick("/VOL1/");
    EXPECT_THAT(ClosedPaths(), UnorderedElementsAreArray(names));
    EXPECT_THAT(open_, IsEmpty());
}

// A name that is not UTF-8 spoils neither the page nor the close: it is shown with U+FFFD and
// its checkbox carries its own bytes.
TEST_F(ClosingByName, ANameThatIsNotUtf8IsShownReplacedAndClosedByItsBytes) {
    const std::string bad = "/VOL1/bad\xFF\xC3(.doc";
    Open({"/VOL1/caf\xC3\xA9.doc", bad, "/VOL1/ok.doc"});
    std::string page;
    EXPECT_THAT(Checkboxes(&page), Contains("<filename>/VOL1/bad%FF%C3(.doc</filename>"));
    EXPECT_THAT(page, HasSubstr(">/VOL1/bad\xEF\xBF\xBD\xEF\xBF\xBD(.doc</td></TR>"));
    EXPECT_THAT(page, HasSubstr(expected_ofm::Row(fake::kStripeLight, "/VOL1/ok.doc", 3, "00000003",
                                                  "eve")));
    EXPECT_EQ(page.find('\xFF'), std::string::npos);

    Tick("bad");
    EXPECT_THAT(ClosedPaths(), ElementsAre(bad));
    EXPECT_THAT(open_, ElementsAre("/VOL1/caf\xC3\xA9.doc", "/VOL1/ok.doc"));
}

// A name longer than the close call takes is listed cut to fit, ending with the cut mark, and
// offered for closing like any other: its checkbox carries the cut text, which closes the file.
TEST_F(ClosingByName, AnOverLongNameIsOfferedCutWithTheMarkAndClosesItsFile) {
    const std::string overLong = "/VOL1/" + std::string(594, 'p');  // 600 bytes
    const std::string cut = overLong.substr(0, 508) + "\xE2\x80\xA6";
    const std::string other = "/VOL1/other.doc";
    Open({overLong, other});
    std::string page;
    EXPECT_THAT(Checkboxes(&page),
                UnorderedElementsAreArray(
                    {"<filename>" + cut + "</filename>", "<filename>" + other + "</filename>"}));
    EXPECT_THAT(page, HasSubstr("VALUE=\"<filename>" + cut + "</filename>\" id=cb1>"));
    EXPECT_THAT(page, HasSubstr(" align=left>" + cut + "</td></TR>"));
    EXPECT_THAT(page, Not(HasSubstr("too long")));

    const std::string after = Tick(cut);
    EXPECT_THAT(ClosedPaths(), ElementsAre(cut));
    EXPECT_THAT(open_, ElementsAre(other));
    // A close the library resolved cleanly leaves no note.
    EXPECT_THAT(after, Not(HasSubstr("closenote")));
}

// Two long names that share the start the page shows carry the same cut text: the library
// closes neither, and the page after the close says why.
TEST_F(ClosingByName, ACutNameOfSeveralFilesClosesNoneAndTheNextPageSaysSo) {
    const std::string start = "/VOL1/" + std::string(600, 'q');
    const std::string cut = start.substr(0, 508) + "\xE2\x80\xA6";
    Open({start + "-one.doc", start + "-two.doc"});
    EXPECT_THAT(Checkboxes(), ElementsAre("<filename>" + cut + "</filename>",
                                          "<filename>" + cut + "</filename>"));

    fake::Request close = fake::Post("/cifsofm/CIFSCloseFiles/VOL1",
                                     PostedBody("FILENAME", {"<filename>" + cut + "</filename>"}));
    EXPECT_EQ(Serve(close), 200);
    EXPECT_THAT(ClosedPaths(), ElementsAre(cut));
    EXPECT_EQ(open_.size(), 2u);
    EXPECT_THAT(
        close.body,
        HasSubstr("</form></td></tr></table>\n<p class=\"closenote\" role=\"status\">" + cut +
                  ": This shortened name stands for more than one open file; nothing was "
                  "closed.</p>\n<FORM METHOD=POST"));
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
