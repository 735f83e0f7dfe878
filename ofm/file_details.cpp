#include "ofm/file_details.h"

#include "kel/host.h"
#include "ofm/main_page.h"
#include "plugin/pages.h"

using namespace kel2cifs;

int FillCIFSFileDetails(const char * /*path*/) {
    return 0;
}

int displayCIFSFileDetails(void *request, const char *path) {
    if (!OpenOfmPage(request, "CIFS Open File Management")) {
        return 500;
    }
    FillCIFSFileDetails(path);
    FillVolumes(request, nullptr);
    HttpSendDataSprintf(request, "<tr><td>");
    HttpSendDataSprintf(request, "<FORM method=\"post\" action=\"/%s\" id=\"filterForm\">",
                        keyword_cifsofm);
    HttpSendDataSprintf(request,
                        "<label>%s : </label></td><td><input name=\"%s\" id=\"filter\" "
                        "type=\"text\" title=\"%s\" placeholder=\"%s\" style=\"width: 147px; \" "
                        "/><input type='submit' value=\"%s\" /> </form></td></tr></table>\n",
                        lnxMSG("Filter"), "FILTER", lnxMSG("eg: *.doc"), lnxMSG("eg: *.doc"),
                        lnxMSG("Apply"));
    HttpSendDataSprintf(request, "<FORM><table border=0 style=\"width: 850px;\" >");
    HttpSendDataSprintf(
        request, "<tr class=tablehead><TD align=center colspan=4>List of Open Files</TD></tr>");
    HttpSendDataSprintf(
        request,
        "<TR class=tablesubhead NOWRAP><TD align=center><input type=\"checkbox\" NAME=K_1_ "
        "id=noid onchange='checkAndUncheckAll(this)'></TD><TD align=center>Connection<A "
        "HREF=/cifsofm><img border=0 alt='%s' src='/opt/zantio/kel/sortdown.png'></a></TD><TD "
        "align=center>Username <A HREF=/cifsofm><img border=0 alt='%s'   "
        "src='/opt/zantio/kel/sortdown.png'></a></TD><TD align=center>File Path <A "
        "HREF=/cifsofm/><img border=0 alt='%s' "
        "src='/opt/zantio/kel/sortdown.png'></a></TD></TR>",
        lnxMSG("Sort By Connection"), lnxMSG("Sort By Username"), lnxMSG("Sort By File Path"));
    HttpSendDataSprintf(request,
                        "<tr><td align=left><input onclick=\"closeFiles(this)\" "
                        "name=\"closeallcheckfiles\" type='button' "
                        "value=\"Close\"></td></tr></table></FORM>");
    HttpSendDataSprintf(request, "</BODY></HTML>\n");
    HttpEndDataResponse(request);
    return 200;
}

int generate_fileinfo_page(void *request, int, int, unsigned long) {
    if (!OpenOfmPage(request, "File Information")) {
        return 500;
    }
    HttpSendDataSprintf(request,
                        "<DIV CLASS=NORMAL><TABLE BORDER=0 CELLPADDING=2 "
                        "bgcolor=#ffffff><tr><td><P><A HREF=/cifsofm>[Back to open file "
                        "management]</A><BR><BR><DL><DT><B>File information</B>\n");
    HttpSendDataSprintf(request,
                        "<DD><TABLE border=0 cellpadding=3><TR bgcolor=#ffffff><TH "
                        "ALIGN=LEFT>Owner</TH><TD>admin.staff.example</TD></TR>");
    HttpSendDataSprintf(request,
                        "<TR bgcolor=#efeee9><TH ALIGN=LEFT>Last modified date and "
                        "time</TH><TD>Wed Oct 10 16:03:54 2012</TD></TR>");
    HttpSendDataSprintf(
        request, "<TR bgcolor=#efeee9><TH ALIGN=LEFT>Effective rights</TH><TD>SRWCEMFA</TD></TR>");
    HttpSendDataSprintf(request,
                        "<TR bgcolor=#ffffff><TH ALIGN=LEFT>Inherited rights "
                        "filter</TH><TD>SRWCEMFA</TD></TR>");
    HttpSendDataSprintf(request,
                        "<TR bgcolor=#efeee9><TH ALIGN=LEFT>Disk space in use</TH><TD>9,337 "
                        "Bytes</TD></TR>\t</TABLE>");
    HttpSendDataSprintf(request,
                        "<DT><FORM METHOD=\"POST\" ACTION=\"/zupdfunction/DELETEFILE_CONFIRM\">");
    HttpSendDataSprintf(request, "<INPUT TYPE=\"submit\" VALUE=\"Close File\"></FORM></DT>");
    HttpSendDataSprintf(request, "</table></dl></BODY></HTML>\n");
    HttpEndDataResponse(request);
    return 200;
}
