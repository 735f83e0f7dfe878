#include "connections/close.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "cifsmonitoring/monitoring.h"
#include "plugin/help.h"
#include "plugin/monitoring_report.h"
#include "plugin/pages.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

constexpr long kHighestConnectionNumber = 65535;

// The number text between the close-all tags, copied into text; false when the tags are missing,
// out of order, or hold more than kCloseAllNumberLimit characters.
bool FindNumberText(const char *closeAllText, char (&text)[kCloseAllNumberLimit + 1]) {
    if (closeAllText == nullptr) {
        return false;
    }
    const char *open = std::strstr(closeAllText, kCloseAllOpenTag);
    if (open == nullptr) {
        return false;
    }
    const char *number = open + sizeof(kCloseAllOpenTag) - 1;
    const char *close = std::strstr(number, kCloseAllCloseTag);
    if (close == nullptr) {
        return false;
    }
    const std::size_t length = static_cast<std::size_t>(close - number);
    if (length > kCloseAllNumberLimit) {
        return false;
    }
    std::memcpy(text, number, length);
    text[length] = '\0';
    return true;
}

}  // namespace

int CIFSCloseSelectedConnections(const char * /*clearList*/) {
    return 0;
}

int closeCIFSFilesForThisConnection(const char *closeAllText) {
    char text[kCloseAllNumberLimit + 1];
    if (!FindNumberText(closeAllText, text)) {
        KEL2CIFS_TRACE(debug, "Clear all files: no connection named in [%s]",
                       closeAllText != nullptr ? closeAllText : "");
        return 0;
    }
    char *end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text) {
        KEL2CIFS_TRACE(debug, "Clear all files: no connection named in [%s]", text);
        return 0;
    }
    KEL2CIFS_TRACE(debug, "Clear all files called for connection#:%d", static_cast<int>(number));
    // A number beyond 16 bits would close the files of the connection its low bits name.
    if (number < 0 || number > kHighestConnectionNumber) {
        KEL2CIFS_TRACE(debug, "Clear all files: %ld is no connection number, nothing closed",
                       number);
        return 0;
    }
    const int result = Ext_CloseFileByID(static_cast<unsigned>(number));
    const std::string name = std::string(lnxMSG("Connection")) + " " + std::to_string(number);
    NoteCloseResult(name, result);
    if (result != 0) {
        KEL2CIFS_TRACE(debug, "Clear all files called for Connection Failed:%d", result);
    }
    return 0;
}

int generate_connections_help(void *request, int remaining, const char *next, int nextLength) {
    if (remaining <= 0 || next == nullptr || nextLength <= 0) {
        return generate_cifs_help_page(request, kHelpConnections, lnxMSG("CIFS Connections"));
    }
    if (static_cast<std::size_t>(nextLength) <= std::strlen(keyword_info) &&
        strncasecmp(next, keyword_info, static_cast<std::size_t>(nextLength)) == 0) {
        return generate_cifs_help_page(request, kHelpConnectionInfo,
                                       lnxMSG("CIFS Connection Information"));
    }
    return generate_error_page(request, kErrorBadRequest);
}
