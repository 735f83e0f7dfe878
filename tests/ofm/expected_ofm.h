// expected_ofm.h: the Manage Open Files pages as the console must receive them, written out
// piece by piece in the order the page is written (English texts: no catalogue is installed).
// Data arguments are given as they must appear: already escaped for HTML or encoded for a URL.
#ifndef KEL2CIFS_TESTS_OFM_EXPECTED_OFM_H
#define KEL2CIFS_TESTS_OFM_EXPECTED_OFM_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

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
    return selector +
           "<tr><td>"
           "<FORM method=\"post\" action=\"/cifsofm\" id=\"filterForm\">"
           "<label>Filter : </label></td><td><input name=\"FILTER\" id=\"filter\" type=\"text\" "
           "title=\"eg: *.doc\" placeholder=\"eg: *.doc\" style=\"width: 147px; \" /><input "
           "type='submit' value=\"Apply\" /> </form><td></tr>\n"
           "<FORM><table border=0 style=\"width: 850px;\" >"
           "<tr class=tablehead><TD align=center colspan=4>List of Open Files</TD></tr>"
           "<TR class=tablesubhead NOWRAP><TD align=center><input type=\"checkbox\" NAME=K_1_ "
           "id=noid onchange='checkAndUncheckAll(this)'></TD><TD align=center>Connection<A "
           "HREF=/cifsofm><img border=0 alt='Sort By Connection' "
           "src='/opt/zantio/kel/sortdown.png'></a></TD><TD align=center>Username <A "
           "HREF=/cifsofm><img border=0 alt='Sort By Username'   "
           "src='/opt/zantio/kel/sortdown.png'></a></TD><TD align=center>File Path <A "
           "HREF=/cifsofm/><img border=0 alt='Sort By File Path' "
           "src='/opt/zantio/kel/sortdown.png'></a></TD></TR>"
           "</table></FORM>"
           "</BODY></HTML>\n";
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

// One table row; connHex is the connection number as eight upper-case hexadecimal digits.
inline std::string Row(const std::string &stripe, const std::string &pathHtml, int conn,
                       const std::string &connHex, const std::string &userHtml) {
    return "<TR " + stripe +
           "><TD align=center><input type=\"checkbox\" NAME=\"FILENAME\" "
           "VALUE=\"<filename>" +
           pathHtml + "</filename>\" id=cb1></TD><td class=\"tablecol\" align=center>" +
           std::to_string(conn) +
           "</td><td class=\"tablecol\" align=center><a href=\"/cifscons/ConnectionNumber/" +
           connHex + "\" onclick=\"return connectionFormSubmit(this);\" >" + userHtml +
           "</a></td><td class=\"tablecol\" align=left>" + pathHtml + "</td></TR>";
}

inline std::string TableEnd() {
    return "</table>"
           "<table><tr><td align=left><input type=\"button\" value=\"Refresh\" "
           "onclick=\"filterFormSubmit()\"></td><td align=left><input type=\"submit\" "
           "value=\"Close Files\"></td></tr></table>"
           "</FORM></BODY></HTML>\n";
}

// The file details page, the same for every path.
inline std::string DetailsPage(const std::string &selector) {
    return selector +
           "<tr><td>"
           "<FORM method=\"post\" action=\"/cifsofm\" id=\"filterForm\">"
           "<label>Filter : </label></td><td><input name=\"FILTER\" id=\"filter\" type=\"text\" "
           "title=\"eg: *.doc\" placeholder=\"eg: *.doc\" style=\"width: 147px; \" /><input "
           "type='submit' value=\"Apply\" /> </form></td></tr></table>\n"
           "<FORM><table border=0 style=\"width: 850px;\" >"
           "<tr class=tablehead><TD align=center colspan=4>List of Open Files</TD></tr>"
           "<TR class=tablesubhead NOWRAP><TD align=center><input type=\"checkbox\" NAME=K_1_ "
           "id=noid onchange='checkAndUncheckAll(this)'></TD><TD align=center>Connection<A "
           "HREF=/cifsofm><img border=0 alt='Sort By Connection' "
           "src='/opt/zantio/kel/sortdown.png'></a></TD><TD align=center>Username <A "
           "HREF=/cifsofm><img border=0 alt='Sort By Username'   "
           "src='/opt/zantio/kel/sortdown.png'></a></TD><TD align=center>File Path <A "
           "HREF=/cifsofm/><img border=0 alt='Sort By File Path' "
           "src='/opt/zantio/kel/sortdown.png'></a></TD></TR>"
           "<tr><td align=left><input onclick=\"closeFiles(this)\" name=\"closeallcheckfiles\" "
           "type='button' value=\"Close\"></td></tr></table></FORM>"
           "</BODY></HTML>\n";
}

// The shared error page with its message.
inline std::string ErrorPage(const std::string &message) {
    return "<table width=100% border=0 cellspacing=0 cellpadding=0>\n"
           "<tr bgcolor=#efeee9><td>\n"
           "<IMG src=\"/opt/zantio/kel/GRPstatus_critical.png\" align=absMiddle border=0>"
           "&nbsp;<b>Error :</b>  " +
           message +
           "</td></tr></table>\n"
           "<p><form method=POST action=\"/\">\n"
           "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;<input type=\"submit\" NAME=\"button\" "
           "value=\"OK\">\n"
           "</form></p>\n"
           "</BODY></HTML>";
}

// Help topic 41, "/cifsofm/help".
inline std::string HelpOpenFiles() {
    return "<p>Use this page to view open file information for the selected volume. You can also "
           "filter files by the extension.</p>"
           "<dd><b>CIFS Volume: </b>Lists the mounted CIFS volumes. To view all open files on a "
           "specific volume, select the volume from the CIFS Volume drop-down list "
           "box.</dd><br> \n"
           "<dd><b>Filter: </b>Text box to specify your filter criteria. To filter for a specifc "
           "file type on the selected volume, type the extension of the file, for example, "
           "*.doc, then click Apply or press the ENTER key on your keyboard.</dd><br>\n"
           "<dd>All open files that match the filter criteria is displayed and the Filter field "
           "is cleared automatically.</dd><br>\n"
           "<dd><b>NOTE: </b>You can only filter by file extension and the format must be "
           "*.file_extension. You cannot use regular expressions to filter files.</dd><br>\n"
           "<dd><b>Connection: </b>Shows the connection numbers.</dd><br>\n"
           "<dd><b>User name: </b>Shows the name of the logged in users.</dd><br>\n"
           "<dd><b>File Path: </b>Shows the path of open files.</dd>\n"
           "<p>Click <i>Refresh </i>to view the latest list of open files for the selected volume "
           "and the filter criteria set </p>\n"
           "<h4>Close Files</h4>"
           "<p>Select the files you want to close, then click <i>Close Files.</i></p>\n"
           "<dd>Note: The files are closed on the server,so the file will not be available for "
           "any file operations for all users who have opened the file. User(s) might lose "
           "unsaved data when a file is closed.</dd>\n"
           "<h4>View connection information</h4>"
           "<p>Click the name of the user to view detailed information for a specific "
           "connection. </p>\n"
           "</BODY></HTML>";
}

// Help topic 42, "/cifsofm/help/help".
inline std::string HelpOpenFileInformation() {
    return "<h3>Open File Information</h3>\n"
           "<p>Shows information about and lets you perform specific tasks on a file.</p>\n"
           "<p>File Information:</p>\n"
           "<p>Shows the file owner, creation date and time, effective rights, Inherited Rights "
           "Filter, and logical file size information. Clicking the Inherited Rights Filter link "
           "opens a page that lets you change the inherited rights for the file.</p>\n"
           "<p>Trustee Information:</p>\n"
           "<p>Shows any trustees that have been assigned specifically to the file and lets you "
           "assign new trustees.</p>\n"
           "<p>Global Lock Information:</p>\n"
           "<p>Shows the current lock state for the file.</p>\n"
           "<p>File Lock Information by Connection:</p>\n"
           "<p>Shows which connections have the file open and what mode they are using.</p>\n"
           "<p>Record Lock Information</p>\n"
           "<p>Shows any record locks that are currently in use on the file as well as who owns "
           "the lock and what part of the file is locked.</p>\n"
           "<p>Close button:</p>\n"
           "<p>Closed the file.</p>\n"
           "</BODY></HTML>";
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
