#include "connections/detail_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "connections/list_page.h"
#include "kel/host.h"
#include "kel2cifs/text_marker.h"
#include "ofm/close_files.h"
#include "plugin/html.h"
#include "plugin/monitoring_report.h"
#include "plugin/pages.h"
#include "plugin/records.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

constexpr int kStatusBadId = 400;
constexpr int kStatusRefused = 401;
constexpr int kStatusFailed = 500;
// The path action of every close form of the page.
constexpr char kCloseFilesAction[] = "CIFSCloseFiles";

const char *OrEmpty(const char *text) {
    return text != nullptr ? text : "";
}

// A status, privilege or type word of the record as the page shows it: a known word is replaced
// by the word to show, and either is passed through the localisation lookup. The text returned
// is escaped: it may be the library's own.
struct ShownWord {
    const char *from;
    const char *shown;
};

std::string ShowWord(const char *text, std::initializer_list<ShownWord> known) {
    const std::string_view received(text);
    for (const ShownWord &word : known) {
        if (received == word.from) {
            return lnxMSG(word.shown);
        }
    }
    return EscapeHtml(lnxMSG(text));
}

// Reads the id component: 1 to kMaxIdLength characters, hexadecimal up to the first other
// character. False for an id of another length.
bool ReadConnectionId(const char *component, unsigned *connNumber) {
    if (component == nullptr) {
        return false;
    }
    const std::size_t length = static_cast<unsigned char>(component[0]);
    if (length < 1 || length > kMaxIdLength) {
        return false;
    }
    uint32_t value = 0;
    for (std::size_t i = 1; i <= length; ++i) {
        const char c = component[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    *connNumber = value & 0xFFFFu;
    return true;
}

// Writes the heading, naming `name` (HTML), and the way back: to the open-file page the request
// came from (with a volume), else to the connection list sorted by sortName.
void WriteHeadingAndWayBack(void *request, const char *name, const char *sortName,
                            const char *volume, const char *sortTypeText, const char *filter) {
    HttpSendDataSprintf(request,
                        "<IMG SRC=%snetwork.png BORDER=0 ALT=\"%s\">&nbsp;&nbsp;<B><font "
                        "size=+1>%s</font></B>",
                        kConnectionImagePrefix, lnxMSG("CIFS Connection Information"), name);
    if (volume[0] != '\0') {
        HtmlText filterText(filter);
        HttpSendDataSprintf(
            request, "<FORM method=\"post\" action=\"/%s/%s/%s\" id=\"filterForm\">",
            keyword_cifsofm, UrlPathText(sortTypeText).c_str(), UrlPathText(volume).c_str());
        HttpSendDataSprintf(request,
                            "<input name=\"%s\" id=\"filter\" type=\"hidden\" value=\"%s\" "
                            "/></form>\n",
                            "FILTER", filterText.c_str());
        HttpSendDataSprintf(request,
                            "<A HREF=\"#\" onClick = \"return filterFormSubmit();\">[%s]</A><BR>",
                            lnxMSG("Back to Open File Management"));
    } else {
        HttpSendDataSprintf(request, "<BR><BR><A HREF=/%s/%s>[%s]</A><BR>", keyword_cifsdcons,
                            UrlPathText(sortName).c_str(), lnxMSG("Back to Connections"));
    }
}

// The start of the information table, after the notes of the request's closes.
void OpenInformationTable(void *request) {
    WriteCloseNotes(request);
    HttpSendDataSprintf(request, "<br><table border=0 cellpadding=2>\n");
    HttpSendDataSprintf(request, "<TR class=\"tablehead\"><TD colspan=2 align=center>%s</TD></TR>",
                        lnxMSG("Connection Information"));
}

// Writes the page body from the heading to the end of the table.
void WriteConnectionPage(void *request, int allowClear, const UserInfo_s &info,
                         const CIFSConnectionDetails &details, const char *sortName,
                         const char *volume, const char *sortTypeText, const char *filter) {
    const unsigned number = details.connNumber;
    const bool fromOpenFiles = volume[0] != '\0';

    WriteHeadingAndWayBack(request, HtmlText(details.userName).c_str(), sortName, volume,
                           sortTypeText, filter);

    HtmlText volumeText(volume);
    HtmlText sortTypeValue(sortTypeText);
    HtmlText filterText(filter);
    if (allowClear != 0) {
        HttpSendDataSprintf(request,
                            "<A HREF=\"javascript:ConfirmClearConn('/%s/CIFSCloseConnections/"
                            "<closeconn>%d</closeconn>', '%d')\">%s</A><BR>",
                            keyword_cifsdcons, details.connNumber, details.connNumber,
                            lnxMSG("Clear Connection"));
    } else if (fromOpenFiles) {
        HttpSendDataSprintf(request,
                            "<FORM method=\"post\" action=\"/%s/%s/%08x/<closeallfiles>%d"
                            "</closeallfiles>\" id=\"closeAllFilesForm\">",
                            keyword_cifsdcons, kCloseFilesAction, number, details.connNumber);
        HttpSendDataSprintf(request, "<INPUT TYPE=\"hidden\" NAME=\"volume\" VALUE=\"%s\" >",
                            volumeText.c_str());
        HttpSendDataSprintf(request, "<INPUT TYPE=\"hidden\" NAME=\"sorttype\" VALUE=\"%s\" >",
                            sortTypeValue.c_str());
        HttpSendDataSprintf(request, "<input name=\"%s\" type=\"hidden\" value=\"%s\" /></form>\n",
                            "FILTER", filterText.c_str());
        HttpSendDataSprintf(request,
                            "<A HREF=\"#\" onClick = \" return "
                            "ConfirmClearFilesForConnectionInOFM();\">%s</A>",
                            lnxMSG("Close All Files"));
    } else {
        HttpSendDataSprintf(request,
                            "<A HREF=\"javascript:ConfirmClearFilesForConnection('/%s/%s/%08x/"
                            "<closeallfiles>%d</closeallfiles>', '%d')\">%s</A>",
                            keyword_cifsdcons, kCloseFilesAction, number, details.connNumber,
                            details.connNumber, lnxMSG("Close All Files"));
    }

    OpenInformationTable(request);
    int stripeCounter = 0;
    HttpSendDataSprintf(request, "<tr %s><td align=right>%s</td><td>%d</td></tr>",
                        TakeStripe(&stripeCounter), lnxMSG("Connection"), details.connNumber);
    DisplayLoginStatus(request, &stripeCounter, &details);
    DisplayConnectionPrivileges(request, &stripeCounter, &details);
    DisplayConnectionType(request, &stripeCounter, &details);
    DisplayNetAddress(request, &stripeCounter, &details);
    DisplaySecEquiList(request, &stripeCounter, &info);
    DisplayOpenFiles(request, &stripeCounter, 0, &info, number, volume, sortTypeText, filter);
    HttpSendDataSprintf(request, "</TABLE></BODY></HTML>");
}

// The page of a connection whose information the library could not give: the heading naming
// the connection by its number, the way back, the notes of the request's closes and the table
// with the row telling why.
void WriteFailurePage(void *request, unsigned connNumber, int status, const char *sortName,
                      const char *volume, const char *sortTypeText, const char *filter) {
    const std::string name = std::string(lnxMSG("Connection")) + " " + std::to_string(connNumber);
    WriteHeadingAndWayBack(request, name.c_str(), sortName, volume, sortTypeText, filter);
    OpenInformationTable(request);
    WriteFailureRow(request, status, 2);
    HttpSendDataSprintf(request, "</TABLE></BODY></HTML>");
}

// Opens the response and writes the frame of the page. Unlike the other pages, a refused
// response is answered by the status alone: false then.
bool OpenDetailPage(void *request) {
    if (!OpenResponse(request)) {
        return false;
    }
    WriteFrame(request, {.title = lnxMSG("CIFS Connection Information"),
                         .titleSize = kDetailTitleSize,
                         .script = AddJavaScriptConnectionCode,
                         .helpText = lnxMSG("Connection Help"),
                         .helpKeyword = keyword_cifsdcons,
                         .helpTopic = keyword_info});
    return true;
}

// Sends the error body of status, after every record has been released.
int SendErrorBody(void *request, int status) {
    char html[kErrorBodySize];
    const int length = std::snprintf(
        html, sizeof(html), "<HTML><BODY><H1>Http Error Code %d</H1></BODY></HTML>\n", status);
    HttpSendErrorPackageResponse(request, status, html, length);
    return status;
}

void FreeDetails(CIFSConnectionDetails *details) {
    std::free(details);
}

// The page without the error body: 0, or the status to answer with. The records are released
// on return, before any error body is sent.
int ShowConnection(void *request, int allowClear, int acceptZero, const char *component,
                   const char *sortName, const char *volume, const char *sortTypeText,
                   const char *filter) {
    Held<UserInfo_s, FreeUserDetailsNode> info;
    Held<CIFSConnectionDetails, FreeDetails> details;
    unsigned connNumber = 0;
    if (!ReadConnectionId(component, &connNumber)) {
        return kStatusBadId;
    }
    if (connNumber == 0 && acceptZero == 0) {
        return kStatusRefused;
    }
    const int status = Ext_GetConnInfo(connNumber, info.out());
    if (info.get() == nullptr) {
        KEL2CIFS_TRACE(
            debug, "DisplaySpecifiedConnection, Error getting User Details - status = %d", status);
        // A connection the library does not know (or no record with no failure) answers with
        // the error body; any other failure is a page that tells why.
        if (status == CIFSMON_STATUS_OK || status == CIFSMON_STATUS_NOT_FOUND) {
            return kStatusFailed;
        }
        if (!OpenDetailPage(request)) {
            return kStatusFailed;
        }
        WriteFailurePage(request, connNumber, status, sortName, volume, sortTypeText, filter);
        HttpEndDataResponse(request);
        return 0;
    }
    const int built = GetConnInfo(connNumber, info.get(), details.out());
    if (built != 0) {
        return built == kNoConnectionList ? kStatusRefused : kStatusFailed;
    }
    if (!OpenDetailPage(request)) {
        return kStatusFailed;
    }
    WriteConnectionPage(request, allowClear, *info.get(), *details.get(),
                        sortName != nullptr ? sortName : kDefaultConnectionSortName, volume,
                        sortTypeText, filter);
    HttpEndDataResponse(request);
    return 0;
}

}  // namespace

int DisplaySpecifiedConnection(void *request, int allowClear, int authorised, int acceptZero,
                               const char *component, const char *sortName, const char *volume,
                               const char *sortTypeText, const char *filter) {
    KEL2CIFS_TRACE(debug, "DisplaySpecifiedConnection Enter");
    if (authorised == 0) {
        HttpSendErrorResponse(request, kStatusRefused);
        return kStatusRefused;
    }
    const int status = ShowConnection(request, allowClear, acceptZero, component, sortName,
                                      OrEmpty(volume), OrEmpty(sortTypeText), OrEmpty(filter));
    return status == 0 ? 0 : SendErrorBody(request, status);
}

void DisplayLoginStatus(void *request, int *stripeCounter, const CIFSConnectionDetails *details) {
    HttpSendDataSprintf(request, "<tr %s><td align=right>%s</td>", TakeStripe(stripeCounter),
                        lnxMSG("Login Status"));
    const std::string word =
        ShowWord(details->loginStatus, {{"Logged-In", TextToTranslate("Logged-In")},
                                        {"Logging-In", TextToTranslate("Logging-In")},
                                        {"Not-Logged In", TextToTranslate("Not-Logged-In")},
                                        {"New", TextToTranslate("New")}});
    HttpSendDataSprintf(request, "<td>%s</td></tr>", word.c_str());
}

void DisplayConnectionPrivileges(void *request, int *stripeCounter,
                                 const CIFSConnectionDetails *details) {
    HttpSendDataSprintf(request, "<tr %s><td align=right>%s</td><td>%s</td></tr>",
                        TakeStripe(stripeCounter), lnxMSG("Login time"),
                        HtmlText(details->loginTimeText).c_str());
    HttpSendDataSprintf(request, "<tr %s><td align=right>%s</td>", TakeStripe(stripeCounter),
                        lnxMSG("Privileges"));
    const std::string word =
        ShowWord(details->privileges, {{"Supervisor", TextToTranslate("Supervisor")},
                                       {"Non-Supervisor", TextToTranslate("Non-Supervisor")}});
    HttpSendDataSprintf(request, "<td>%s</td></tr>", word.c_str());
}

void DisplayConnectionType(void *request, int *stripeCounter,
                           const CIFSConnectionDetails *details) {
    HttpSendDataSprintf(request, "<tr %s><td align=right>%s</td>", TakeStripe(stripeCounter),
                        lnxMSG("Connection Type"));
    const std::string word =
        ShowWord(details->connType, {{"Active Directory", TextToTranslate("Active Directory")},
                                     {"Ravelin", TextToTranslate("Ravelin")}});
    HttpSendDataSprintf(request, "<td>%s</td></tr>", word.c_str());
}

void DisplayNetAddress(void *request, int *stripeCounter, const CIFSConnectionDetails *details) {
    HttpSendDataSprintf(request, "<tr %s><td align=right>%s</TD><td>%s</td></tr>",
                        TakeStripe(stripeCounter), lnxMSG("Network Address"),
                        HtmlText(details->netAddress).c_str());
}

void DisplaySecEquiList(void *request, int *stripeCounter, const UserInfo_s *info) {
    const char *label = lnxMSG("Security Equivalence List");
    char **names = info->sevDNs;
    if (names == nullptr) {
        KEL2CIFS_TRACE(debug, "sevDNs pointer is null");
        HttpSendDataSprintf(request, "\n<tr %s><td align=right>%s</TD><td></td></TR>",
                            TakeStripe(stripeCounter), label);
        return;
    }
    const uint32_t count = info->secEquivCount;
    KEL2CIFS_TRACE(debug, "Security equivalence count: %d\n", static_cast<int>(count));
    HttpSendDataSprintf(request, "\n<tr %s><td align=right>%s</td><TD>%s</td></TR>",
                        TakeStripe(stripeCounter), label, HtmlText(names[0]).c_str());
    if (names[0] == nullptr) {
        return;
    }
    for (uint32_t i = 1; i < count && names[i] != nullptr; ++i) {
        HttpSendDataSprintf(request, "\n<tr %s><td align=right>%s</td><TD>%s</td></TR>",
                            TakeStripe(stripeCounter), "", HtmlText(names[i]).c_str());
    }
}

void DisplayOpenFiles(void *request, int *stripeCounter, int /*ignoredFlag*/,
                      const UserInfo_s *info, unsigned long connNumber, const char *volume,
                      const char *sortTypeText, const char *filter) {
    const char *label = lnxMSG("Open Files");
    const uint16_t count = info->openFileCount;
    char **files = info->openFileNames;
    if (count == 0 || files == nullptr || files[0] == nullptr) {
        HttpSendDataSprintf(request, "<tr %s><td align=right>%s<td align=left></td></tr>",
                            TakeStripe(stripeCounter), label);
        return;
    }
    volume = OrEmpty(volume);
    HtmlText volumeText(volume);
    HtmlText sortTypeValue(OrEmpty(sortTypeText));
    HtmlText filterText(OrEmpty(filter));
    const char *closeLabel = lnxMSG("Close File");
    const unsigned number = static_cast<unsigned>(connNumber & 0xFFFFu);

    HttpSendDataSprintf(request, "<tr %s><td align=right>%s</td>", TakeStripe(stripeCounter),
                        label);
    for (uint16_t i = 0; i < count && files[i] != nullptr; ++i) {
        // A name longer than the close call takes is shown and carried cut to fit, ending with
        // the cut mark; the close call resolves it.
        std::string fitted;
        const char *name = files[i];
        if (!IsClosableName(name)) {
            fitted = FittedName(name);
            name = fitted.c_str();
        }
        NameText path(name);
        CloseNameValue value(name);
        HttpSendDataSprintf(request,
                            "<FORM method=\"post\" action=\"/%s/%s/%08x\" "
                            "onsubmit=\"javascript:return closeThisFile();\">",
                            keyword_cifsdcons, kCloseFilesAction, number);
        if (i == 0) {
            HttpSendDataSprintf(request,
                                "<INPUT TYPE=\"hidden\" NAME=\"FILENAME\" "
                                "VALUE=\"<filename>%s</filename>\" ><td>%s",
                                value.c_str(), path.c_str());
        } else {
            HttpSendDataSprintf(request,
                                "<INPUT TYPE=\"hidden\" NAME=\"FILENAME\" "
                                "VALUE=\"<filename>%s</filename>\" ><tr %s><td ></td><td>%s",
                                value.c_str(), TakeStripe(stripeCounter), path.c_str());
        }
        if (volume[0] != '\0') {
            HttpSendDataSprintf(request, "<INPUT TYPE=\"hidden\" NAME=\"volume\" VALUE=\"%s\" >",
                                volumeText.c_str());
            HttpSendDataSprintf(request, "<INPUT TYPE=\"hidden\" NAME=\"sorttype\" VALUE=\"%s\" >",
                                sortTypeValue.c_str());
            HttpSendDataSprintf(request, "<input name=\"%s\" type=\"hidden\" value=\"%s\" >",
                                "FILTER", filterText.c_str());
        }
        HttpSendDataSprintf(request,
                            "</td><td><input type=\"submit\" value=\"%s\"></td></tr></form>\n",
                            closeLabel);
    }
}

void DisplaySendMessageBox(void *request, int *stripeCounter, const char * /*ignoredText*/,
                           unsigned long connNumber, const CIFSConnectionDetails * /*details*/) {
    HttpSendDataSprintf(request,
                        "\n<tr %s><td valign=TOP align=right>%s<td><table boder=0><FORM "
                        "METHOD=POST ACTION=/%s/SendTo/%08X>",
                        TakeStripe(stripeCounter), "Send Message", keyword_cifsdcons,
                        static_cast<unsigned>(connNumber & 0xFFFFu));
    HttpSendDataSprintf(request,
                        "<TEXTAREA NAME=MSG ROWS=2 COLS=40 WRAP></TEXTAREA><br><center><INPUT "
                        "TYPE=submit VALUE=%s><INPUT TYPE=reset "
                        "VALUE=%s></center></FORM></table>\n",
                        "Send", "Reset");
}

int SendRedirect(void *request, const char *location) {
    location = OrEmpty(location);
    int result = HttpOpenResponseHeaderTag(request, 302);
    if (result == 0) {
        result = HttpAddResponseHeaderTags(request, location,
                                           static_cast<int>(strnlen(location, 65535)));
    }
    if (result == 0) {
        result = HttpSendResponseHeader(request);
    }
    if (result == 0) {
        result = HttpEndDataResponse(request);
    }
    if (result == 0) {
        std::printf("Redirecting page");
    } else {
        std::printf("error %d sending redirect\n", result);
    }
    return 302;
}
