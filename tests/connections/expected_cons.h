// expected_cons.h: the Manage Connections pages as the console must receive them, put together
// piece by piece in the order the pages write them (English texts: no catalogue is installed);
// the pieces without data are golden files.
// Data arguments are given as they must appear: already escaped for HTML or encoded for a URL.
#ifndef KEL2CIFS_TESTS_CONNECTIONS_EXPECTED_CONS_H
#define KEL2CIFS_TESTS_CONNECTIONS_EXPECTED_CONS_H

#include <cstdio>
#include <string>

#include "common/golden.h"
#include "support/fake_host.h"

namespace kel2cifs::expected_cons {

inline const std::string kLight = fake::kStripeLight;
inline const std::string kDark = fake::kStripeDark;

inline std::string Hex8(unsigned number, bool upper) {
    char text[16];
    std::snprintf(text, sizeof text, upper ? "%08X" : "%08x", number);
    return text;
}

// The script block of both connection pages.
inline std::string Script() {
    return testing_support::Golden("connections/golden/script.html");
}

// The six heading cells, the column of sortType marked.
inline std::string Headings(int sortType) {
    struct Column {
        int sortType;
        const char *keyword, *heading, *noun;
    };
    const Column columns[] = {
        {1, "ConnectionNumber", "Connection", "Connection Number"},
        {2, "ConnectionName", "Name", "Name"},
        {4, "FSActivity", "Reads & Writes (bytes)", "Reads & Writes (bytes)"},
        {5, "ZupRequest", "CIFS Requests", "Requests"},
        {3, "LoginTime", "Login Time", "Login Time"},
        {6, "ConnectionType", "Connection Type", "Connection Type"},
    };
    std::string text;
    for (const Column &c : columns) {
        text += c.sortType == 1 ? "<TD>" : "<TD align=center>";
        text += std::string(c.heading) + "    ";
        if (c.sortType == sortType) {
            text += "<img border=0 alt='Sorted By " + std::string(c.noun) +
                    "' src='/opt/zantio/kel/sorted.png'></TD>";
        } else {
            text += "<A HREF=/cifscons/" + std::string(c.keyword) + "><img border=0 alt='Sort By " +
                    c.noun + "' src='/opt/zantio/kel/sortdown.png'></a></TD>";
        }
        text += c.sortType == 6 ? "</TR>\n" : "\n";
    }
    return text;
}

struct Row {
    std::string stripe;
    unsigned number;
    std::string nameHtml;  // with its leading "*" when starred
    std::string activity, requests, time, type;
};

inline std::string RowText(const Row &row, const std::string &sortName) {
    return "\n<TR " + row.stripe + "><td class=\"tablecol\" align=center>" +
           std::to_string(row.number) +
           "</td><td class=\"tablecol\" align=left><A HREF=/cifscons/" + sortName + "/" +
           Hex8(row.number, true) + ">" + row.nameHtml + "</A></td>" +
           "<td class=\"tablecol\" align=center>" + row.activity + "</td>" +
           "<td class=\"tablecol\" align=right>" + row.requests + "</td>" +
           "<td class=\"tablecol\" align=right>" + row.time + "</td>" +
           "<td class=\"tablecol\" align=right>" + row.type + "</td></TR>";
}

// The list page's body: table, rows (or the "No items." row), Refresh button, end.
inline std::string ListPage(int sortType, const std::string &rows, bool noItems = false) {
    return testing_support::Golden("connections/golden/list_head.html") + Headings(sortType) +
           rows +
           (noItems ? "<tr><td align=left colspan=4 style=\"font-size:13px;color:black;\">No "
                      "items.</td></tr>"
                    : "") +
           testing_support::Golden("connections/golden/list_tail.html");
}

// The detail page's heading.
inline std::string DetailHeading(const std::string &userHtml) {
    return "<IMG SRC=/opt/zantio/kel/network.png BORDER=0 ALT=\"CIFS Connection Information\">"
           "&nbsp;&nbsp;<B><font size=+1>" +
           userHtml + "</font></B>";
}

// The way back and the close-all action of a page reached from the connection list.
inline std::string BackToList(const std::string &sortName, unsigned number) {
    const std::string n = std::to_string(number);
    return "<BR><BR><A HREF=/cifscons/" + sortName + ">[Back to Connections]</A><BR>" +
           "<A HREF=\"javascript:ConfirmClearFilesForConnection('/cifscons/CIFSCloseFiles/" +
           Hex8(number, false) + "/<closeallfiles>" + n + "</closeallfiles>', '" + n +
           "')\">Close All Files</A>";
}

// The same for a page reached from the open-file pages (data already escaped / encoded).
inline std::string BackToOfm(const std::string &sortUrl, const std::string &volumeUrl,
                             const std::string &sortHtml, const std::string &volumeHtml,
                             const std::string &filterHtml, unsigned number) {
    const std::string n = std::to_string(number);
    return "<FORM method=\"post\" action=\"/cifsofm/" + sortUrl + "/" + volumeUrl +
           "\" id=\"filterForm\">" +
           "<input name=\"FILTER\" id=\"filter\" type=\"hidden\" value=\"" + filterHtml +
           "\" /></form>\n" +
           "<A HREF=\"#\" onClick = \"return filterFormSubmit();\">[Back to Open File "
           "Management]</A><BR>" +
           "<FORM method=\"post\" action=\"/cifscons/CIFSCloseFiles/" + Hex8(number, false) +
           "/<closeallfiles>" + n + "</closeallfiles>\" id=\"closeAllFilesForm\">" +
           "<INPUT TYPE=\"hidden\" NAME=\"volume\" VALUE=\"" + volumeHtml + "\" >" +
           "<INPUT TYPE=\"hidden\" NAME=\"sorttype\" VALUE=\"" + sortHtml + "\" >" +
           "<input name=\"FILTER\" type=\"hidden\" value=\"" + filterHtml + "\" /></form>\n" +
           "<A HREF=\"#\" onClick = \" return ConfirmClearFilesForConnectionInOFM();\">Close All "
           "Files</A>";
}

// The table up to and including the network address row (stripes light, dark, ... from 0).
inline std::string InfoRows(unsigned number, const std::string &status, const std::string &time,
                            const std::string &privileges, const std::string &type,
                            const std::string &address) {
    return "<br><table border=0 cellpadding=2>\n"
           "<TR class=\"tablehead\"><TD colspan=2 align=center>Connection Information</TD></TR>"
           "<tr " +
           kLight + "><td align=right>Connection</td><td>" + std::to_string(number) +
           "</td></tr>"
           "<tr " +
           kDark + "><td align=right>Login Status</td><td>" + status +
           "</td></tr>"
           "<tr " +
           kLight + "><td align=right>Login time</td><td>" + time +
           "</td></tr>"
           "<tr " +
           kDark + "><td align=right>Privileges</td><td>" + privileges +
           "</td></tr>"
           "<tr " +
           kLight + "><td align=right>Connection Type</td><td>" + type +
           "</td></tr>"
           "<tr " +
           kDark + "><td align=right>Network Address</TD><td>" + address + "</td></tr>";
}

// One close form of the open-files rows. The first file shares the label's row; every further
// one opens a row of its own with `stripe`. hidden: the open-file page's fields, or "".
inline std::string FileForm(unsigned number, const std::string &pathHtml, bool first,
                            const std::string &stripe, const std::string &hidden) {
    return "<FORM method=\"post\" action=\"/cifscons/CIFSCloseFiles/" + Hex8(number, false) +
           "\" onsubmit=\"javascript:return closeThisFile();\">" +
           "<INPUT TYPE=\"hidden\" NAME=\"FILENAME\" VALUE=\"<filename>" + pathHtml +
           "</filename>\" >" + (first ? "" : "<tr " + stripe + "><td ></td>") + "<td>" + pathHtml +
           hidden + "</td><td><input type=\"submit\" value=\"Close File\"></td></tr></form>\n";
}

inline std::string FileHidden(const std::string &volumeHtml, const std::string &sortHtml,
                              const std::string &filterHtml) {
    return "<INPUT TYPE=\"hidden\" NAME=\"volume\" VALUE=\"" + volumeHtml + "\" >" +
           "<INPUT TYPE=\"hidden\" NAME=\"sorttype\" VALUE=\"" + sortHtml + "\" >" +
           "<input name=\"FILTER\" type=\"hidden\" value=\"" + filterHtml + "\" >";
}

inline const std::string kDetailEnd = "</TABLE></BODY></HTML>";

}  // namespace kel2cifs::expected_cons

#endif  // KEL2CIFS_TESTS_CONNECTIONS_EXPECTED_CONS_H
