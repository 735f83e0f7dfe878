#include "plugin/pages.h"

#include <libintl.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "kel/host.h"
#include "logger/logger.h"
#include "plugin/html.h"
#include "plugin/paths.h"
#include "plugin/request.h"
#include "plugin/trace.h"

using namespace kel2cifs;

extern "C" {
char icon_folder[kIconFolderSize] = "/opt/zantio/kel";
// The column-heading row: a shade darker than the dark stripe, so headings stand apart from it.
const char *lpzheader = "bgcolor=#dcdad5";
const char *lpzdark = "bgcolor=#efeee9";
const char *lpzlight = "bgcolor=#ffffff";

const char *estr_page_access_denied = "Unauthorized access denied";
const char *estr_page_bad_method = "Bad Http method";
const char *estr_page_missing_http_data = "Http request missing data";
const char *estr_bad_http_request = "Bad Http request";
const char *estr_out_of_resources = "Internal Resource failure";
const char *estr_modify_server_parameter_failed = "Unable to change selected server parameter";

const char *keyword_cifsofm = "cifsofm";
const char *keyword_cifsdlogs = "cifslogs";
const char *keyword_cifsdcons = "cifscons";
const char *keyword_help = "help";
const char *keyword_info = "_info_";
}

namespace {

constexpr char kMessageDomain[] = "libkel2cifs";
// The pages are sent as UTF-8 whatever the host process's locale.
constexpr char kCatalogueCodeset[] = "UTF-8";

// Constant-initialised: a request may reach lnxMSG before the library's constructors have run.
constinit std::once_flag g_domainOnce;
// Written only inside the call_once, read only after it returned.
constinit bool g_domainBound = false;

void BindMessageDomain() {
    const char *directory = LocaleDirectoryPath();
    KEL2CIFS_TRACE(debug, "setup localization filename=%s path=%s", kMessageDomain, directory);
    // An empty directory means the root override left no room for it; binding "" would search
    // below the file-system root, outside the override.
    int rc = ENAMETOOLONG;
    if (directory[0] != '\0') {
        if (bindtextdomain(kMessageDomain, directory) != nullptr) {
            bind_textdomain_codeset(kMessageDomain, kCatalogueCodeset);
            g_domainBound = true;
            return;
        }
        rc = errno;
    }
    KEL2CIFS_TRACE(debug, "setup localization failed rc=%d", rc);
}

// Cuts a trailing character reference left incomplete when an escaped text was cut to fit. The
// messages' own words hold no '&', so every '&' in a message starts a reference.
void DropPartialReference(char *message) {
    char *amp = std::strrchr(message, '&');
    if (amp != nullptr && std::strchr(amp, ';') == nullptr) {
        *amp = '\0';
    }
}

// Formats a message of caller texts into message (kPageTitleSize bytes), cut to fit.
KEL2CIFS_PRINTF(2, 3) void FormatMessage(char (&message)[kPageTitleSize], const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    if (length < 0) {
        message[0] = '\0';
    } else if (static_cast<std::size_t>(length) >= sizeof(message)) {
        DropPartialReference(message);
    }
}

// Reads the still-encoded value of name into scratch, offering the host capacity bytes of it.
// True when the field was found with a non-empty value; scratch then holds it, terminated, and
// *length its length (below capacity).
bool FindFormValue(const char *formData, const char *name, char (&scratch)[kFormScratchSize],
                   int capacity, int *length) {
    scratch[0] = '\0';
    if (formData == nullptr || name == nullptr || capacity <= 0) {
        return false;
    }
    capacity = std::min(capacity, kFormScratchSize);
    int found = capacity;
    if (HttpFindNameAndValue(formData, name, scratch, &found) != 0) {
        scratch[0] = '\0';
        return false;
    }
    if (found <= 0 || found >= capacity) {
        scratch[0] = '\0';
        return false;
    }
    scratch[found] = '\0';
    *length = found;
    return true;
}

}  // namespace

const char *lnxMSG(const char *text) {
    if (text == nullptr) {
        return "";
    }
    // The empty text is the catalogue's key of its own header.
    if (text[0] == '\0') {
        return text;
    }
    std::call_once(g_domainOnce, BindMessageDomain);
    if (!g_domainBound) {
        return text;
    }
    return dgettext(kMessageDomain, text);
}

bool kel2cifs::OpenResponse(void *request) {
    return HttpSendSuccessfulResponse(request, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)) == 0;
}

bool kel2cifs::OpenPage(void *request) {
    if (!OpenResponse(request)) {
        HttpSendErrorResponse(request, kStatusNotOpened);
        return false;
    }
    return true;
}

void kel2cifs::WriteFrame(void *request, const PageFrame &frame) {
    char title[kPageTitleSize];
    const std::size_t titleSize = std::min(frame.titleSize, sizeof(title));
    std::snprintf(title, titleSize, "%s", frame.title != nullptr ? frame.title : "");
    // "/<keyword>/help/<topic>" with every part a short fixed word.
    char helpUrl[kHelpUrlSize] = "";
    const char *help = nullptr;
    if (frame.helpKeyword != nullptr) {
        if (frame.helpTopic != nullptr) {
            std::snprintf(helpUrl, sizeof(helpUrl), "/%s/%s/%s", frame.helpKeyword, keyword_help,
                          frame.helpTopic);
        } else {
            std::snprintf(helpUrl, sizeof(helpUrl), "/%s/%s", frame.helpKeyword, keyword_help);
        }
        help = helpUrl;
    }
    BuildAndSendHeader(request, title, title, 0, 0,
                       frame.script != nullptr ? KEL_HEADER_OPTION_SCRIPT : 0u, frame.script,
                       frame.helpText, help);
}

const char *kel2cifs::TakeStripe(int *rowCounter, const char *light, const char *dark) {
    return (*rowCounter)++ % 2 == 0 ? light : dark;
}

const char *kel2cifs::TakeStripe(int *rowCounter) {
    return TakeStripe(rowCounter, pzSTRIPE_LIGHT, pzSTRIPE_DARK);
}

const char *kel2cifs::StripeAfter(const char *current, const char *light, const char *dark) {
    return current != nullptr && std::strcmp(current, dark) == 0 ? light : dark;
}

int kel2cifs::ClosePage(void *request) {
    HttpSendDataSprintf(request, "</BODY></HTML>");
    HttpEndDataResponse(request);
    return 200;
}

int generate_error_page(void *request, int code, ...) {
    if (!OpenPage(request)) {
        return 500;
    }

    char title[kPageTitleSize];
    std::snprintf(title, sizeof(title), "%s", lnxMSG("HTTP Failure"));
    // Caller texts are data (volume names, paths): they are escaped before they are placed, and
    // a null one reads as "".
    char formatted[kPageTitleSize] = "";
    const char *message = estr_bad_http_request;

    va_list args;
    va_start(args, code);
    switch (code) {
        case 0:
            message = estr_page_access_denied;
            break;
        case 1:
            message = estr_page_bad_method;
            break;
        case 2:
            message = estr_page_missing_http_data;
            break;
        case 4:
            message = estr_out_of_resources;
            break;
        case 5: {
            std::snprintf(title, sizeof(title), "%s", "Missing information");
            HtmlText what(va_arg(args, const char *));
            FormatMessage(formatted, "%s %s", what.c_str(), "is not mounted or does not exist");
            message = formatted;
            break;
        }
        case 6:
            std::snprintf(title, sizeof(title), "%s", "Wizard Failure");
            message = "Share name is missing";
            break;
        case 7:
            std::snprintf(title, sizeof(title), "%s", lnxMSG("Wizard Failure"));
            message = "Share path is missing or does not exist";
            break;
        case 8:
            std::snprintf(title, sizeof(title), "%s", lnxMSG("Wizard Failure"));
            message = "Share name already exists";
            break;
        case 9: {
            std::snprintf(title, sizeof(title), "%s", "Create share (volume) failed");
            const int error = va_arg(args, int);
            HtmlText share(va_arg(args, const char *));
            HtmlText location(va_arg(args, const char *));
            FormatMessage(formatted,
                          "The error code %d was returned when trying to create \"%s\" at "
                          "location \"%s\"",
                          error, share.c_str(), location.c_str());
            message = formatted;
            break;
        }
        case 10:
        case 22: {
            std::snprintf(title, sizeof(title), "%s",
                          code == 10 ? "Remove share (volume) failed"
                                     : "Remove share (volume) cannot remove Tarvo backed volumes");
            const int error = va_arg(args, int);
            HtmlText share(va_arg(args, const char *));
            FormatMessage(formatted, "The error code %d was returned when trying to remove \"%s\"",
                          error, share.c_str());
            message = formatted;
            break;
        }
        case 28:
            message = estr_modify_server_parameter_failed;
            break;
        case 31:
            message = "Shadow volume already exists";
            break;
        case 32:
            message = "Unable to create shadow volume";
            break;
        case 34: {
            std::snprintf(title, sizeof(title), "%s", "Missing information");
            HtmlText what(va_arg(args, const char *));
            HtmlText path(va_arg(args, const char *));
            FormatMessage(formatted, "%s %s \"%s\"", what.c_str(), "Path does not exist",
                          path.c_str());
            message = formatted;
            break;
        }
        case 37:
            message = "Shadow volume path is invalid or is contained within volume mount path";
            break;
        case 38:
            message = "Volume path is invalid or could not be created";
            break;
        default:
            break;
    }
    va_end(args);

    WriteFrame(request, {.title = title});
    HttpSendDataSprintf(request, "<table width=100%% border=0 cellspacing=0 cellpadding=0>\n");
    HttpSendDataSprintf(request, "<tr bgcolor=#efeee9><td>\n");
    HttpSendDataSprintf(request, "<IMG src=\"%s/GRPstatus_critical.png\" align=absMiddle border=0>",
                        icon_folder);
    HttpSendDataSprintf(request, "&nbsp;<b>%s :</b>  %s</td></tr></table>\n", lnxMSG("Error"),
                        message);
    HttpSendDataSprintf(request, "<p><form method=POST action=\"/\">\n");
    HttpSendDataSprintf(request,
                        "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;<input type=\"submit\" NAME=\"button\" "
                        "value=\"OK\">\n");
    HttpSendDataSprintf(request, "</form></p>\n");
    return ClosePage(request);
}

int POST_GET_STRING(const char *formData, const char *name, char *output, int capacity) {
    if (output == nullptr || capacity <= 0) {
        return 0;
    }
    output[0] = '\0';
    char scratch[kFormScratchSize];
    int length = 0;
    if (!FindFormValue(formData, name, scratch, capacity, &length)) {
        return 0;
    }
    // Decoding never lengthens a value, so output needs at most length + 1 <= capacity bytes.
    int decoded = HttpUnConvertName(scratch, output, length);
    decoded = std::clamp(decoded, 0, length);
    output[decoded] = '\0';
    return decoded;
}

int POST_GET_URL(const char *formData, const char *name, char *output) {
    return POST_GET_STRING(formData, name, output, kFormUrlCapacity);
}

int POST_GET_INT(const char *formData, const char *name, int *value, int defaultValue) {
    if (value == nullptr) {
        return 0;
    }
    *value = defaultValue;
    char scratch[kFormScratchSize];
    int length = 0;
    if (FindFormValue(formData, name, scratch, kFormFieldCapacity, &length)) {
        const long number = std::strtol(scratch, nullptr, 10);
        *value = static_cast<int>(std::clamp<long>(number, INT_MIN, INT_MAX));
    }
    return 0;
}

int POST_CHECKBOX(const char *formData, const char *name, const char *compare, int *checked,
                  int defaultValue) {
    const char *compareText = compare != nullptr ? compare : "";
    KEL2CIFS_TRACE(debug, "[%s] enter kw=%s chkstr=%s", "POST_CHECKBOX",
                   name != nullptr ? name : "", compareText);
    if (checked == nullptr) {
        return 0;
    }
    *checked = defaultValue;
    char scratch[kFormScratchSize];
    int length = 0;
    if (FindFormValue(formData, name, scratch, kFormFieldCapacity, &length)) {
        *checked = strcasecmp(scratch, compareText) == 0 ? 1 : 0;
    }
    return 0;
}

int POST_RADIOBUTTON(const char *formData, const char *name, int *on) {
    KEL2CIFS_TRACE(debug, "[%s] enter button=%s", "POST_RADIOBUTTON", name != nullptr ? name : "");
    if (on == nullptr) {
        return 2;
    }
    *on = 1;
    char scratch[kFormScratchSize];
    int length = 0;
    if (!FindFormValue(formData, name, scratch, kFormFieldCapacity, &length)) {
        return 2;
    }
    if (strcasecmp(scratch, "on") == 0) {
        return 0;
    }
    if (strcasecmp(scratch, "off") == 0) {
        *on = 0;
        return 0;
    }
    return 2;
}

int compressURI(char *output, const char *input) {
    if (output == nullptr) {
        return 0;
    }
    std::size_t written = 0;
    if (input != nullptr) {
        // Writing never runs ahead of reading, so output may be input itself.
        for (const char *read = input; *read != '\0'; ++read) {
            if (*read == '/' && written > 0 && output[written - 1] == '/') {
                continue;
            }
            output[written++] = *read;
        }
    }
    output[written] = '\0';
    return 0;
}
