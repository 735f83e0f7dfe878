#include "connections/list_page.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "connections/connection_list.h"
#include "kel/host.h"
#include "plugin/html.h"
#include "plugin/monitoring_report.h"
#include "plugin/pages.h"
#include "plugin/utils.h"

using namespace kel2cifs;

namespace {

// Room for the widest 64-bit number with its commas: 20 digits and 6 commas.
constexpr std::size_t kNumberTextSize = 32;

// The localised word of one of the two known connection types; null for any other text, which
// the list shows as the library gave it.
const char *ConnectionTypeWord(const char *connType) {
    const std::string_view type(connType);
    if (type == "Active Directory") {
        return lnxMSG("Active Directory");
    }
    if (type == "Ravelin") {
        return lnxMSG("Ravelin");
    }
    return nullptr;
}

void WriteRow(void *request, const ConnectionSortStruct &node, const char *stripe,
              int withSelection, const char *sortName) {
    // With the selection column the row is opened with its first cell; without it the opening
    // "\n<TR %s>" leads the write of the cells below.
    const bool opened = withSelection != 0;
    if (opened && node.connNumber != 0) {
        HttpSendDataSprintf(request,
                            "\n<TR %s><TD class=\"tablecol\" align=center><input "
                            "type=\"checkbox\" id=cb1 NAME=%d></TD>",
                            stripe, node.connNumber);
    } else if (opened) {
        HttpSendDataSprintf(request, "\n<TR %s><TD align=center>&nbsp;</TD>", stripe);
    }

    UrlPathText order(sortName);
    HtmlText name(node.userName);
    const unsigned number = node.connNumber;
    // A connection without a logged-in user shows its name with a leading "*".
    const char *star = std::string_view(node.loggedInMark) == kLoggedInMark ? "" : "*";

    char activity[kNumberTextSize];
    CreateLargeNumberStringWithCommas(node.bytesReadWritten, activity, sizeof(activity),
                                      "%" PRIu64);
    char requests[kNumberTextSize];
    CreateLargeNumberStringWithCommas(node.requestCount, requests, sizeof(requests), "%" PRIu64);

    const char *known = ConnectionTypeWord(node.connType);
    HtmlText type(node.connType);
    // The cells: number and name, activity, requests, login time, type; one write per row.
    HttpSendDataSprintf(request,
                        "%s%s%s<td class=\"tablecol\" align=center>%d</td><td class=\"tablecol\" "
                        "align=left><A HREF=/%s/%s/%08X>%s%s</A></td>"
                        "<td class=\"tablecol\" align=center>%s</td>"
                        "<td class=\"tablecol\" align=right>%s</td>"
                        "<td class=\"tablecol\" align=right>%s</td>"
                        "<td class=\"tablecol\" align=right>%s</td></TR>",
                        opened ? "" : "\n<TR ", opened ? "" : stripe, opened ? "" : ">",
                        node.connNumber, keyword_cifsdcons, order.c_str(), number, star,
                        name.c_str(), activity, requests, HtmlText(node.loginTimeText).c_str(),
                        known != nullptr ? known : type.c_str());
}

}  // namespace

int generate_main_connections_page(void *request, int /*ignored*/, int showList,
                                   unsigned long /*flags*/, cifsSortType sortType,
                                   const char *sortName) {
    if (!OpenPage(request)) {
        return 500;
    }
    WriteFrame(request, {.title = lnxMSG("CIFS Connections"),
                         .titleSize = kConnectionsTitleSize,
                         .script = AddJavaScriptConnectionCode,
                         .helpText = lnxMSG("Connection List"),
                         .helpKeyword = keyword_cifsdcons});

    if (showList != 0) {
        int listingStatus = 0;
        if (WriteConnectionTable(request, 0, sortType, sortName, &listingStatus) != 0) {
            // No list: the library's failure, or none at all (an empty server, or no memory).
            if (listingStatus != 0) {
                WriteFailureRow(request, listingStatus);
            } else {
                HttpSendDataSprintf(request,
                                    "<tr><td align=left colspan=4 "
                                    "style=\"font-size:13px;color:black;\">%s</td></tr>",
                                    lnxMSG("No items."));
            }
        }
        HttpSendDataSprintf(request, "</FORM></table>");
        HttpSendDataSprintf(request,
                            "<table><tr><td align=left><input type=\"button\" value=\"%s\" "
                            "onClick=\"location.href='/cifscons'\"></td></tr></table>",
                            lnxMSG("Refresh"));
        HttpSendDataSprintf(request, "</dl></BODY></HTML>\n");
    } else {
        HttpSendDataSprintf(request, "</FORM></table></dl></BODY></HTML>\n");
    }
    HttpEndDataResponse(request);
    return 200;
}

int DisplayCIFSConnectionList(void *request, int withSelection, cifsSortType sortType,
                              const char *sortName) {
    return WriteConnectionTable(request, withSelection, sortType, sortName, nullptr);
}

int kel2cifs::WriteConnectionTable(void *request, int withSelection, cifsSortType sortType,
                                   const char *sortName, int *listingStatus) {
    if (sortName == nullptr) {
        sortName = kDefaultConnectionSortName;
    }
    HttpSendDataSprintf(request, "<FORM><table border=0>");
    HttpSendDataSprintf(request, "<tr class=\"tablehead\"><TD align=center colspan=%d>%s</TD></tr>",
                        withSelection != 0 ? 7 : 6, lnxMSG("CIFS Connection List"));
    HttpSendDataSprintf(request, "<TR class=\"tablesubhead\" NOWRAP>");
    if (withSelection != 0) {
        HttpSendDataSprintf(request,
                            "<TD align=center><input type=\"checkbox\" NAME=CLOSE_ALL "
                            "title=\"Select All\" id=noid "
                            "onchange='checkAndUncheckAll(this)'></TD>\n");
    }
    SendColumnHeadings(request, sortType);

    ConnectionSortStruct *list = nullptr;
    if (ListConnections(&list, sortType, listingStatus) != 0) {
        return -1;
    }
    int row = 0;
    while (list != nullptr) {
        ConnectionSortStruct *node = list;
        list = node->next;
        WriteRow(request, *node, TakeStripe(&row), withSelection, sortName);
        std::free(node);
    }
    return 0;
}

void SendColumnHeadings(void *request, cifsSortType sortType) {
    constexpr std::size_t kColumns = std::size(kConnectionColumns);
    for (std::size_t i = 0; i < kColumns; ++i) {
        const ConnectionSortOrder &column = kConnectionColumns[i];
        const char *heading = lnxMSG(column.column);
        const bool first = i == 0;
        const bool last = i + 1 == kColumns;
        if (column.sortType == sortType) {
            const char *marker = lnxMSG(column.markerText);
            if (first) {
                HttpSendDataSprintf(request,
                                    "<TD>%s    <img border=0 alt='%s' src='%ssorted.png'></TD>\n",
                                    heading, marker, kConnectionImagePrefix);
            } else if (last) {
                HttpSendDataSprintf(request,
                                    "<TD align=center>%s    <img border=0 alt='%s' "
                                    "src='%ssorted.png'></TD></TR>\n",
                                    heading, marker, kConnectionImagePrefix);
            } else {
                HttpSendDataSprintf(request,
                                    "<TD align=center>%s    <img border=0 alt='%s' "
                                    "src='%ssorted.png'></TD>\n",
                                    heading, marker, kConnectionImagePrefix);
            }
        } else {
            const char *link = lnxMSG(column.linkText);
            if (first) {
                HttpSendDataSprintf(request,
                                    "<TD>%s    <A HREF=/%s/%s><img border=0 alt='%s' "
                                    "src='%ssortdown.png'></a></TD>\n",
                                    heading, keyword_cifsdcons, column.keyword, link,
                                    kConnectionImagePrefix);
            } else if (last) {
                HttpSendDataSprintf(request,
                                    "<TD align=center>%s    <A HREF=/%s/%s><img border=0 "
                                    "alt='%s' src='%ssortdown.png'></a></TD></TR>\n",
                                    heading, keyword_cifsdcons, column.keyword, link,
                                    kConnectionImagePrefix);
            } else {
                HttpSendDataSprintf(request,
                                    "<TD align=center>%s    <A HREF=/%s/%s><img border=0 "
                                    "alt='%s' src='%ssortdown.png'></a></TD>\n",
                                    heading, keyword_cifsdcons, column.keyword, link,
                                    kConnectionImagePrefix);
            }
        }
    }
}

int AddJavaScriptConnectionCode(void *request) {
    const char *closesAll = lnxMSG(
        "Closes all files opened by this connection. User(s) might lose data. Do you want to "
        "continue?  ");

    HttpSendDataSprintf(request, "<SCRIPT LANGUAGE=\"JavaScript\">\n");
    HttpSendDataSprintf(request, "<!--\n");
    HttpSendDataSprintf(request, "function ConfirmClearConn(ClearURL, ConnNumber) {\n");
    HttpSendDataSprintf(request, "    var msg = '%s'\n", closesAll);
    HttpSendDataSprintf(request, "    conn = parseInt(ConnNumber)\n");
    HttpSendDataSprintf(request, "    if (confirm(msg))\n");
    HttpSendDataSprintf(request, "        location = ClearURL\n");
    HttpSendDataSprintf(request, "}\n");
    HttpSendDataSprintf(request,
                        "function ConfirmClearFilesForConnection(ClearURL, ConnNumber) {\n");
    HttpSendDataSprintf(request, "    var msg = '%s'\n", closesAll);
    HttpSendDataSprintf(request, "    conn = parseInt(ConnNumber)\n");
    HttpSendDataSprintf(request, "    if (confirm(msg))\n");
    HttpSendDataSprintf(request, "        location = ClearURL\n");
    HttpSendDataSprintf(request, "}\n");
    HttpSendDataSprintf(request, "function ConfirmClearFilesForConnectionInOFM() {\n");
    HttpSendDataSprintf(request, "    var msg = '%s'\n", closesAll);
    HttpSendDataSprintf(request, "    if (confirm(msg)){\n");
    HttpSendDataSprintf(request, "\t   document.getElementById(\"closeAllFilesForm\").submit();\n");
    HttpSendDataSprintf(request, "    }\n");
    HttpSendDataSprintf(request, "    return false;\n");
    HttpSendDataSprintf(request, "}\n");
    HttpSendDataSprintf(request, "//-->");
    HttpSendDataSprintf(request, "</SCRIPT>\n");

    HttpSendDataSprintf(request, "<SCRIPT LANGUAGE=\"JavaScript\">\n");
    HttpSendDataSprintf(request, "<!--\n");
    HttpSendDataSprintf(request, "function ConfirmClearAll(ClearAllURL) {\n");
    HttpSendDataSprintf(request, "    var msg = '%s'\n  \n",
                        lnxMSG("Are you sure you want to clear ALL Not Logged In connections, "
                               "doing so could cause applications errors "));
    HttpSendDataSprintf(request, "    if (confirm(msg))\n");
    HttpSendDataSprintf(request, "        location = ClearAllURL\n");
    HttpSendDataSprintf(request, "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request, "function closeThisFile(ClearURL) {\n");
    HttpSendDataSprintf(
        request, "    var msg = '%s'\n  \n",
        lnxMSG(
            "Closing a file will close the file for all connections. Do you want to continue? "));
    HttpSendDataSprintf(request, "    if (confirm(msg))\n");
    HttpSendDataSprintf(request, "        return true;\n");
    HttpSendDataSprintf(request, "    return false;\n");
    HttpSendDataSprintf(request, "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request, "function closeConn(cb) { \n");
    HttpSendDataSprintf(request, "      var cbForm = cb.form;\n");
    HttpSendDataSprintf(request, "      var i = 0;\n");
    HttpSendDataSprintf(request, "      var str = \"\";\n");
    HttpSendDataSprintf(request, "      while (cbForm[i].type == 'checkbox') {\n");
    HttpSendDataSprintf(request,
                        "              if ((cbForm[i].checked == true) && (cbForm[i].id != "
                        "'noid')) {\n");
    HttpSendDataSprintf(request,
                        "                      str = "
                        "str+'<closeconn>'+cbForm[i].name+'</closeconn>';\n");
    HttpSendDataSprintf(request, "              }\n");
    HttpSendDataSprintf(request, "              i++;\n");
    HttpSendDataSprintf(request, "      }\n");
    HttpSendDataSprintf(request, "      if (str) {\n");
    HttpSendDataSprintf(request, "           var msg = '%s'\n  \n",
                        lnxMSG("Closes all files opened by this connection. User(s) might lose "
                               "data. Do you want to continue? "));
    HttpSendDataSprintf(request, "             if (confirm(msg))\n");
    HttpSendDataSprintf(request,
                        "                    location='/cifscons/CIFSCloseConnections/'+str;\n");
    HttpSendDataSprintf(request, "      };\n");
    HttpSendDataSprintf(request, "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request, "function checkAndUncheckAll(cb) { \n");
    HttpSendDataSprintf(request, "      var cbForm = cb.form;\n");
    HttpSendDataSprintf(request, "      var i = 0;\n");
    HttpSendDataSprintf(request, "      while (cbForm[i].type == 'checkbox') {\n");
    HttpSendDataSprintf(request, "              if (cbForm[i].id != 'noid') {\n");
    HttpSendDataSprintf(request, "                      cbForm[i].checked = cb.checked;\n");
    HttpSendDataSprintf(request, "              }\n");
    HttpSendDataSprintf(request, "              i++;\n");
    HttpSendDataSprintf(request, "      }\n");
    HttpSendDataSprintf(request, "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request, "//-->");
    HttpSendDataSprintf(request, "</SCRIPT>\n");

    HttpSendDataSprintf(request, "<SCRIPT LANGUAGE=\"JavaScript\">\n");
    HttpSendDataSprintf(request, "<!--\n");
    HttpSendDataSprintf(request, "function ConfirmClearMarked(ClearAllURL) {\n");
    HttpSendDataSprintf(request, "    var msg = '%s'\n  \n",
                        lnxMSG("Are you sure you want to clear ALL marked connections? Doing so "
                               "could cause applications errors."));
    HttpSendDataSprintf(request, "    if (confirm(msg))\n");
    HttpSendDataSprintf(request, "        return true\n");
    HttpSendDataSprintf(request, "    return false\n");
    HttpSendDataSprintf(request, "}\n");
    HttpSendDataSprintf(request, "function filterFormSubmit() {\n");
    HttpSendDataSprintf(request, "document.getElementById(\"filterForm\").submit();\n");
    HttpSendDataSprintf(request, "return false;\n}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request, "//-->");
    return HttpSendDataSprintf(request, "</SCRIPT>\n");
}
