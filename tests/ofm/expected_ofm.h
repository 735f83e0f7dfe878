// expected_ofm.h: the Manage Open Files pages as the console must receive them, put together
// piece by piece in the order the page is written (English texts: no catalogue is installed); the
// pieces without data are golden files.
// Data arguments are given as they must appear: already escaped for HTML or encoded for a URL.
#ifndef KEL2CIFS_TESTS_OFM_EXPECTED_OFM_H
#define KEL2CIFS_TESTS_OFM_EXPECTED_OFM_H

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/golden.h"
#include "support/fake_host.h"

namespace kel2cifs::expected_ofm {

// One option of the volume selector.
struct Option {
    std::string html;  // the name as written
    bool selected = false;
};

inline std::string VolumeSelector(const std::vector<Option> &options) {
    std::string text =
        "<table><tr><td>"
        "<form><DIV CLASS=NORMAL><label>CIFS Volume : </label></td><td><select id=\"volumes\" "
        "style=\"width: 147px; \" onchange=\"volumeChanged(document.getElementById('volumes'));\">"
        "<option>Select a volume</option>";
    for (const Option &option : options) {
        if (option.selected) {
            text += "<option selected value=\"" + option.html + "\" >" + option.html + "</option>";
        } else {
            text += "<option value=\"" + option.html + "\">" + option.html + "</option>";
        }
    }
    return text + "</select></div></form></tr></td>\n";
}

// The page without a volume, after its selector.
inline std::string PageWithoutVolume(const std::string &selector) {
    return selector + testing_support::Golden("ofm/golden/no_volume_table.html");
}

// The forms and the table heading of a volume's page, up to the list.
inline std::string VolumeTableStart(const std::string &volumeHtml, const std::string &volumeUrl,
                                    const std::string &filterHtml, const std::string &sortKeyword) {
    return "<tr><td>"
           "<FORM method=\"post\" action=\"\" id=\"connectionForm\">"
           "<input name=\"FILTER\" id=\"filter\" type=hidden value=\"" +
           filterHtml +
           "\"/>"
           "<input name=\"volume\" id=\"volume\" type=hidden value=\"" +
           volumeHtml +
           "\"/>"
           "<input name=\"sorttype\" id=\"sorttype\" type=hidden value=\"" +
           sortKeyword +
           "\"/>"
           "</form>"
           "<FORM method=\"post\" action=\"/cifsofm/" +
           volumeUrl +
           "\" id=\"filterForm\">"
           "<label>Filter : </label></td><td><input name=\"FILTER\" id=\"filter\" type=\"text\" "
           "title=\"eg: *.doc\" placeholder=\"eg: *.doc\" value=\"" +
           filterHtml +
           "\" style=\"width: 147px; \" /><input type='submit' value=\"Apply\" /> "
           "</form></td></tr></table>\n"
           "<FORM METHOD=POST action=\"/cifsofm/CIFSCloseFiles/" +
           volumeUrl +
           "\"  onsubmit=\"javascript:return closeFiles(this)\"><table border=0 style=\"width: "
           "850px;\" >"
           "<tr class=tablehead><TD align=center colspan=4>List of Open Files</TD></tr>";
}

// The three sortable heading cells; `sorted` (1 to 3) is the column marked as sorted.
inline std::string SortHeadingCells(int sorted, const std::string &volumeUrl) {
    auto image = [sorted](int column) {
        return std::string(column == sorted ? "sorted.png" : "sortdown.png");
    };
    return "<TD align=center>Connection<A HREF=/cifsofm/ConnectionNumber/" + volumeUrl +
           " onclick=\"return sortedFilterFormSubmit(this);\"><img border=0 alt='Sort By "
           "Connection' src='/opt/zantio/kel/" +
           image(1) + "'></a></TD><TD align=center>Username <A HREF=/cifsofm/UserName/" +
           volumeUrl +
           " onclick=\"return sortedFilterFormSubmit(this);\"><img border=0 alt='Sort By "
           "Username'   src='/opt/zantio/kel/" +
           image(2) + "'></a></TD><TD align=center>File Path <A HREF=/cifsofm/FileName/" +
           volumeUrl +
           " onclick=\"return sortedFilterFormSubmit(this);\"><img border=0 alt='Sort By File "
           "Path' src='/opt/zantio/kel/" +
           image(3) + "'></a></TD></TR>";
}

inline std::string HeadingRowStart(bool withSelectAll) {
    return withSelectAll ? "<TR class=tablesubhead NOWRAP><TD align=center><input "
                           "type=\"checkbox\" NAME=K_1_ id=noid "
                           "onclick='checkAndUncheckAll(this)'></TD>"
                         : "<TR class=tablesubhead NOWRAP><TD align=center><input "
                           "type=\"checkbox\" NAME=K_1_ id=noid></TD>";
}

inline std::string EmptyRow() {
    return "<tr><td align=left colspan=4 style=\"font-size:13px;color:black;\">No "
           "items.</td></tr>";
}

// One table row; connHex is the connection number as eight upper-case hexadecimal digits;
// valueHtml is the checkbox's carried name when it differs from the path shown.
inline std::string Row(const std::string &stripe, const std::string &pathHtml, int conn,
                       const std::string &connHex, const std::string &userHtml,
                       const std::optional<std::string> &valueHtml = std::nullopt) {
    return "<TR " + stripe +
           "><TD align=center><input type=\"checkbox\" NAME=\"FILENAME\" "
           "VALUE=\"<filename>" +
           valueHtml.value_or(pathHtml) +
           "</filename>\" id=cb1></TD><td class=\"tablecol\" align=center>" + std::to_string(conn) +
           "</td><td class=\"tablecol\" align=center><a href=\"/cifscons/ConnectionNumber/" +
           connHex + "\" onclick=\"return connectionFormSubmit(this);\" >" + userHtml +
           "</a></td><td class=\"tablecol\" align=left>" + pathHtml + "</td></TR>";
}

inline std::string TableEnd() {
    return testing_support::Golden("ofm/golden/table_end.html");
}

// The file details page, the same for every path.
inline std::string DetailsPage(const std::string &selector) {
    return selector + testing_support::Golden("ofm/golden/details_table.html");
}

// The page head of every open-file page.
inline void ExpectOfmHead(const fake::Request &request,
                          const std::string &title = "CIFS Open File Management") {
    ASSERT_EQ(request.headers.size(), 1u);
    const fake::Header &head = request.headers.front();
    EXPECT_EQ(head.title, title);
    EXPECT_EQ(head.heading, title);
    EXPECT_EQ(head.reserved1, 0);
    EXPECT_EQ(head.reserved2, 0);
    EXPECT_EQ(head.options, 4u);
    EXPECT_TRUE(head.scriptWriterCalled);
    EXPECT_EQ(head.sectionText, "CIFS Volume List");
    EXPECT_EQ(head.helpUrl, "/cifsofm/help");
    EXPECT_EQ(head.bodyBefore, 0u);
    EXPECT_EQ(request.contentType, fake::kHtmlContentType);
}

// The page head of the error and help pages: the title twice, no script, no section, no help.
inline void ExpectPlainHead(const fake::Request &request, const std::string &title) {
    ASSERT_EQ(request.headers.size(), 1u);
    const fake::Header &head = request.headers.front();
    EXPECT_EQ(head.title, title);
    EXPECT_EQ(head.heading, title);
    EXPECT_EQ(head.options, 0u);
    EXPECT_FALSE(head.hasScriptWriter);
    EXPECT_EQ(head.sectionText, std::nullopt);
    EXPECT_EQ(head.helpUrl, std::nullopt);
}

}  // namespace kel2cifs::expected_ofm

#endif  // KEL2CIFS_TESTS_OFM_EXPECTED_OFM_H
