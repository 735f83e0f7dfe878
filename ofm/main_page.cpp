#include "ofm/main_page.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "cifsmonitoring/monitoring.h"
#include "kel/host.h"
#include "ofm/close_files.h"
#include "ofm/open_files.h"
#include "ofm/sort.h"
#include "plugin/html.h"
#include "plugin/monitoring_report.h"
#include "plugin/pages.h"
#include "plugin/records.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// Capacity of a volume name taken from a path component: a length byte counts at most 255.
constexpr std::size_t kVolumeNameSize = 256;

// The filter form's label and input of the page without a volume, up to "</form>".
void WriteFilterInput(void *request) {
    HttpSendDataSprintf(request,
                        "<label>%s : </label></td><td><input name=\"%s\" id=\"filter\" "
                        "type=\"text\" title=\"%s\" placeholder=\"%s\" style=\"width: 147px; \" "
                        "/><input type='submit' value=\"%s\" /> </form>",
                        lnxMSG("Filter"), "FILTER", lnxMSG("eg: *.doc"), lnxMSG("eg: *.doc"),
                        lnxMSG("Apply"));
}

void WriteEmptyRow(void *request) {
    HttpSendDataSprintf(
        request, "<tr><td align=left colspan=4 style=\"font-size:13px;color:black;\">%s</td></tr>",
        lnxMSG("No items."));
}

// After sorting, list order is not memory order: every row starts with cache misses on a node
// far from the last. Asking for the next row's node while this row is formatted hides them.
void PrefetchRow(const OpenFileInfo *file) {
    if (file != nullptr) {
        __builtin_prefetch(file->userName);
        __builtin_prefetch(file->fileName);
        __builtin_prefetch(file->fileName + 64);
        __builtin_prefetch(&file->next);
    }
}

// A cut name (ending with the cut mark) is offered like any other: the close call resolves it.
void WriteRow(void *request, const OpenFileInfo &file, const char *stripe) {
    NameText path(file.fileName);
    HttpSendDataSprintf(request,
                        "<TR %s><TD align=center><input type=\"checkbox\" NAME=\"FILENAME\" "
                        "VALUE=\"<filename>%s</filename>\" id=cb1></TD><td class=\"tablecol\" "
                        "align=center>%d</td><td class=\"tablecol\" align=center><a "
                        "href=\"/%s/ConnectionNumber/%08X\" onclick=\"return "
                        "connectionFormSubmit(this);\" >%s</a></td><td class=\"tablecol\" "
                        "align=left>%s</td></TR>",
                        stripe, CloseNameValue(file.fileName).c_str(), file.connNumber,
                        keyword_cifsdcons, static_cast<unsigned>(file.connNumber),
                        HtmlText(file.userName).c_str(), path.c_str());
}

// Opening and closing lines of each script element.
void OpenScript(void *request) {
    HttpSendDataSprintf(request, "<SCRIPT type=\"text/javascript\">\n");
    HttpSendDataSprintf(request, "<!--\n");
}

void CloseScript(void *request) {
    HttpSendDataSprintf(request, "//-->");
    HttpSendDataSprintf(request, "</SCRIPT>\n");
}

}  // namespace

bool kel2cifs::OpenOfmPage(void *request, const char *englishTitle) {
    if (!OpenPage(request)) {
        return false;
    }
    WriteFrame(request, {.title = lnxMSG(englishTitle),
                         .titleSize = kOfmTitleSize,
                         .script = AddJavaScriptOFMCode,
                         .helpText = lnxMSG("CIFS Volume List"),
                         .helpKeyword = keyword_cifsofm});
    return true;
}

int generate_main_ofm_page(void *request) {
    if (!OpenOfmPage(request, "CIFS Open File Management")) {
        return 500;
    }
    const int volumesStatus = FillVolumes(request, nullptr);
    HttpSendDataSprintf(request, "<tr><td>");
    HttpSendDataSprintf(request, "<FORM method=\"post\" action=\"/%s\" id=\"filterForm\">",
                        keyword_cifsofm);
    WriteFilterInput(request);
    HttpSendDataSprintf(request, "<td></tr>\n");
    WriteCloseNotes(request);
    HttpSendDataSprintf(request, "<FORM><table border=0 style=\"width: 850px;\" >");
    HttpSendDataSprintf(request, "<tr class=tablehead><TD align=center colspan=4>%s</TD></tr>",
                        lnxMSG("List of Open Files"));
    HttpSendDataSprintf(
        request,
        "<TR class=tablesubhead NOWRAP><TD align=center><input type=\"checkbox\" NAME=K_1_ "
        "id=noid onchange='checkAndUncheckAll(this)'></TD><TD align=center>%s<A "
        "HREF=/cifsofm><img border=0 alt='%s' src='/opt/zantio/kel/sortdown.png'></a></TD><TD "
        "align=center>%s <A HREF=/cifsofm><img border=0 alt='%s'   "
        "src='/opt/zantio/kel/sortdown.png'></a></TD><TD align=center>%s <A "
        "HREF=/cifsofm/><img border=0 alt='%s' "
        "src='/opt/zantio/kel/sortdown.png'></a></TD></TR>",
        lnxMSG("Connection"), lnxMSG("Sort By Connection"), lnxMSG("Username"),
        lnxMSG("Sort By Username"), lnxMSG("File Path"), lnxMSG("Sort By File Path"));
    if (volumesStatus != 0) {
        WriteFailureRow(request, volumesStatus);
    }
    HttpSendDataSprintf(request, "</table></FORM>");
    HttpSendDataSprintf(request, "</BODY></HTML>\n");
    HttpEndDataResponse(request);
    return 200;
}

int generate_main_ofm_page(void *request, const char *volumeComponent, cifsSortType sortType,
                           const char *filter) {
    char volume[kVolumeNameSize] = "";
    if (volumeComponent != nullptr) {
        std::size_t length =
            strnlen(volumeComponent + 1, static_cast<unsigned char>(volumeComponent[0]));
        std::memcpy(volume, volumeComponent + 1, length);
        volume[length] = '\0';
    }
    if (filter == nullptr) {
        filter = "";
    }
    KEL2CIFS_TRACE(debug, "volume name: %s", volume);
    if (filter[0] != '\0') {
        KEL2CIFS_TRACE(debug, "filter string: %s", filter);
    }

    if (!OpenOfmPage(request, "CIFS Open File Management")) {
        return 500;
    }
    // After a failed volume listing the table says why instead of listing the volume.
    const int volumesStatus = FillVolumes(request, volume);
    WriteOpenFilesTable(request, volume, sortType, filter, volumesStatus);
    HttpEndDataResponse(request);
    return 200;
}

int FillVolumes(void *request, const char *selected) {
    Held<VolumeDetailsNode, FreeVolsDetailsNode> volumes;
    int count = 0;
    int status = Ext_ListVolumeDetails(&count, volumes.out());
    if (status != 0) {
        count = 0;
        KEL2CIFS_TRACE(error,
                       "Unable to get list of Volumes because Ext_ListVolumeDetails failed with "
                       "Error : %d\n",
                       status);
    }

    HttpSendDataSprintf(request, "<table><tr><td>");
    HttpSendDataSprintf(request,
                        "<form><DIV CLASS=NORMAL><label>%s : </label></td><td><select "
                        "id=\"volumes\" style=\"width: 147px; \" "
                        "onchange=\"volumeChanged(document.getElementById('volumes'));\"><option>%"
                        "s</option>",
                        lnxMSG("CIFS Volume"), lnxMSG("Select a volume"));
    const VolumeDetailsNode *node = volumes.get();
    for (int i = 0; i < count && node != nullptr; ++i, node = node->next) {
        std::string_view name = FieldText(node->volumeName);
        HtmlText shown(name);
        if (selected != nullptr && name == std::string_view(selected)) {
            HttpSendDataSprintf(request, "<option selected value=\"%s\" >%s</option>",
                                shown.c_str(), shown.c_str());
        } else {
            HttpSendDataSprintf(request, "<option value=\"%s\">%s</option>", shown.c_str(),
                                shown.c_str());
        }
    }
    HttpSendDataSprintf(request, "</select></div></form></tr></td>\n");
    return status;
}

int GetOpenFilesInVolume(void *request, const char *volumeName, cifsSortType sortType,
                         const char *filter) {
    return WriteOpenFilesTable(request, volumeName, sortType, filter, 0);
}

int kel2cifs::WriteOpenFilesTable(void *request, const char *volumeName, cifsSortType sortType,
                                  const char *filter, int volumesStatus) {
    if (volumeName == nullptr) {
        volumeName = "";
    }
    if (filter == nullptr) {
        filter = "";
    }
    HtmlText volumeText(volumeName);
    UrlPathText volumeUrl(volumeName);
    HtmlText filterText(filter);

    HttpSendDataSprintf(request, "<tr><td>");
    HttpSendDataSprintf(request, "<FORM method=\"post\" action=\"\" id=\"connectionForm\">");
    HttpSendDataSprintf(request, "<input name=\"%s\" id=\"filter\" type=hidden value=\"%s\"/>",
                        "FILTER", filterText.c_str());
    HttpSendDataSprintf(request, "<input name=\"volume\" id=\"volume\" type=hidden value=\"%s\"/>",
                        volumeText.c_str());
    HttpSendDataSprintf(request,
                        "<input name=\"sorttype\" id=\"sorttype\" type=hidden value=\"%s\"/>",
                        getSortTypeString(sortType));
    HttpSendDataSprintf(request, "</form>");

    HttpSendDataSprintf(request, "<FORM method=\"post\" action=\"/%s/%s\" id=\"filterForm\">",
                        keyword_cifsofm, volumeUrl.c_str());
    HttpSendDataSprintf(request,
                        "<label>%s : </label></td><td><input name=\"%s\" id=\"filter\" "
                        "type=\"text\" title=\"%s\" placeholder=\"%s\" value=\"%s\" "
                        "style=\"width: 147px; \" /><input type='submit' value=\"%s\" /> "
                        "</form></td></tr></table>\n",
                        lnxMSG("Filter"), "FILTER", lnxMSG("eg: *.doc"), lnxMSG("eg: *.doc"),
                        filterText.c_str(), lnxMSG("Apply"));
    WriteCloseNotes(request);

    HttpSendDataSprintf(request,
                        "<FORM METHOD=POST action=\"/cifsofm/CIFSCloseFiles/%s\"  "
                        "onsubmit=\"javascript:return closeFiles(this)\"><table border=0 "
                        "style=\"width: 850px;\" >",
                        volumeUrl.c_str());
    HttpSendDataSprintf(request, "<tr class=tablehead><TD align=center colspan=4>%s</TD></tr>",
                        lnxMSG("List of Open Files"));

    Held<OpenFileInfo, FreeOpenFileList> files;
    int listingStatus = volumesStatus;
    int status = -1;
    if (volumesStatus == 0) {
        status = ListOpenFiles(volumeName, files.out(), filter, &listingStatus);
    }
    if (status != 0 || files.get() == nullptr) {
        HttpSendDataSprintf(request,
                            "<TR class=tablesubhead NOWRAP><TD align=center><input "
                            "type=\"checkbox\" NAME=K_1_ id=noid></TD>");
        setSortImage(request, sortType, volumeName);
        if (listingStatus != 0) {
            WriteFailureRow(request, listingStatus);
        } else {
            WriteEmptyRow(request);
        }
    } else {
        if (SortOpenFilesTable(files.out(), sortType) == nullptr) {
            KEL2CIFS_TRACE(debug, "Error: SortOpenFilesTable failed");
        }
        HttpSendDataSprintf(request,
                            "<TR class=tablesubhead NOWRAP><TD align=center><input "
                            "type=\"checkbox\" NAME=K_1_ id=noid "
                            "onclick='checkAndUncheckAll(this)'></TD>");
        setSortImage(request, sortType, volumeName);
        if (files.get() == nullptr) {
            WriteEmptyRow(request);
        }
        int row = 0;
        for (const OpenFileInfo *file = files.get(); file != nullptr; file = file->next) {
            PrefetchRow(file->next);
            WriteRow(request, *file, TakeStripe(&row));
        }
    }

    HttpSendDataSprintf(request, "</table>");
    HttpSendDataSprintf(request,
                        "<table><tr><td align=left><input type=\"button\" value=\"%s\" "
                        "onclick=\"filterFormSubmit()\"></td><td align=left><input "
                        "type=\"submit\" value=\"%s\"></td></tr></table>",
                        lnxMSG("Refresh"), lnxMSG("Close Files"));
    HttpSendDataSprintf(request, "</FORM></BODY></HTML>\n");
    return status;
}

int AddJavaScriptOFMCode(void *request) {
    OpenScript(request);
    HttpSendDataSprintf(request, "function ConfirmClearConn(ClearURL, ConnNumber)\n{\n");
    HttpSendDataSprintf(request, "    var msg = '%s'\n",
                        lnxMSG("Are you sure you want to clear connection  "));
    HttpSendDataSprintf(request,
                        "    if (confirm(msg + parseInt(ConnNumber)))\n"
                        "        location = ClearURL;\n"
                        "}\n");
    CloseScript(request);

    OpenScript(request);
    HttpSendDataSprintf(request, "function ConfirmClearAll(ClearAllURL)\n{\n");
    HttpSendDataSprintf(request, "    var msg = '%s'\n  \n",
                        lnxMSG("Are you sure you want to clear ALL Not Logged In connections, "
                               "doing so could cause applications errors "));
    HttpSendDataSprintf(request,
                        "    if (confirm(msg))\n"
                        "        location = ClearAllURL;\n"
                        "}\n");
    CloseScript(request);

    OpenScript(request);
    HttpSendDataSprintf(request, "function ConfirmClearMarked(ClearAllURL)\n{\n");
    HttpSendDataSprintf(request, "    var msg = '%s'\n  \n",
                        lnxMSG("Are you sure you want to clear ALL marked connections? Doing so "
                               "could cause applications errors."));
    HttpSendDataSprintf(request,
                        "    if (confirm(msg))\n"
                        "        return true;\n"
                        "    return false;\n"
                        "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request,
                        "function checkAndUncheckAll(cb)\n"
                        "{\n"
                        "    var boxes = document.getElementsByName('FILENAME');\n"
                        "    for (var i = 0; i < boxes.length; i++)\n"
                        "        if (boxes[i].id != 'noid')\n"
                        "            boxes[i].checked = cb.checked;\n"
                        "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request,
                        "function closeFiles(cb)\n"
                        "{\n"
                        "    var boxes = document.getElementsByName('FILENAME');\n"
                        "    for (var i = 0; i < boxes.length; i++)\n"
                        "    {\n"
                        "        if (boxes[i].checked)\n"
                        "        {\n");
    HttpSendDataSprintf(
        request, "            \t\tvar msg = '%s'\n  \n",
        lnxMSG(
            "Closing a file will close the file for all connections. Do you want to continue? "));
    HttpSendDataSprintf(request,
                        "            return confirm(msg);\n"
                        "        }\n"
                        "    }\n");
    HttpSendDataSprintf(
        request, "\t\tvar msg = '%s'\n  \n",
        lnxMSG("No file selected. Please select the file(s), then click Close Files."));
    HttpSendDataSprintf(request,
                        "    alert(msg);\n"
                        "    return false;\n"
                        "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request,
                        "function filterFormSubmit()\n"
                        "{\n"
                        "    document.getElementById('filterForm').submit();\n"
                        "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request,
                        "function connectionFormSubmit(url)\n"
                        "{\n"
                        "    var form = document.getElementById('connectionForm');\n"
                        "    form.action = url.href;\n"
                        "    form.submit();\n"
                        "    return false;\n"
                        "}\n");
    HttpSendDataSprintf(request, "\n");
    HttpSendDataSprintf(request,
                        "function sortedFilterFormSubmit(url)\n"
                        "{\n"
                        "    var form = document.getElementById('filterForm');\n"
                        "    form.action = url.href;\n"
                        "    form.submit();\n"
                        "    return false;\n"
                        "}\n");
    HttpSendDataSprintf(request, "\n");
    // The option text is the volume name as shown; it is encoded so that a name holding "#",
    // "?" or "%" still reaches its own page.
    HttpSendDataSprintf(request,
                        "function volumeChanged(selobj)\n"
                        "{\n"
                        "    location = '/cifsofm/' + "
                        "encodeURIComponent(selobj.options[selobj.selectedIndex].text);\n"
                        "    return true;\n"
                        "}\n");
    CloseScript(request);
    return 0;
}
