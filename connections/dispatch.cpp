#include "connections/dispatch.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "connections/close.h"
#include "connections/connection_list.h"
#include "connections/detail_page.h"
#include "connections/list_page.h"
#include "kel/host.h"
#include "ofm/close_files.h"
#include "plugin/component_path.h"
#include "plugin/monitoring_report.h"
#include "plugin/pages.h"
#include "plugin/request.h"
#include "plugin/service_path.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// The sort keywords in the order they are tried.
constexpr SortKeyword kSortKeywords[] = {
    {"ConnectionNumber", kSortByConnectionNumber},
    {"ConnectionName", kSortByConnectionName},
    {"FSActivity", kSortByFSActivity},
    {"LoginTime", kSortByLoginTime},
    {"ConnectionType", kSortByConnectionType},
    {"ZupRequest", kSortByZupRequest},
};

ServicePathGrammar ConsPaths() {
    return {.keyword = keyword_cifsdcons,
            .sortKeywords = kSortKeywords,
            .help = generate_connections_help,
            .traceCopy = true};
}

// The open-file page's state posted along with a request.
struct PostedFields {
    char volume[kConsFormFieldSize] = {};
    char filter[kConsFormFieldSize] = {};
    char sortType[kConsFormFieldSize] = {};
};

// Looks one field up in the decoded form data (null: no data, so the lookup fails). Returns the
// host's result; a failure leaves the value empty.
int LookUp(const char *form, const char *name, char (&value)[kConsFormFieldSize]) {
    int length = static_cast<int>(kConsFormFieldSize);
    const int result = HttpFindNameAndValue(form != nullptr ? form : "", name, value, &length);
    if (result != 0) {
        value[0] = '\0';
    }
    value[kConsFormFieldSize - 1] = '\0';
    return result;
}

void LookUpFields(const char *form, PostedFields &fields) {
    if (int result = LookUp(form, "FILTER", fields.filter); result != 0) {
        KEL2CIFS_TRACE(debug, "error: failed to get filter  errcode[%d] ", result);
    }
    if (int result = LookUp(form, "volume", fields.volume); result != 0) {
        KEL2CIFS_TRACE(debug, "error: failed to get volume name  errcode[%d] ", result);
    }
    if (int result = LookUp(form, "sorttype", fields.sortType); result != 0) {
        KEL2CIFS_TRACE(debug, "error: failed to get sorttype  errcode[%d] ", result);
    }
}

}  // namespace

int GetComponentCountAndSortType(void *request, int *count, cifsSortType *sortType, char *sortName,
                                 char **component, char **pathCopy) {
    ServicePath path;
    const int status = ParseServicePath(request, ConsPaths(), path, sortName, kSortNameSize);
    path.Release(count, sortType, component, pathCopy);
    return status;
}

int cifsconsMethod(void *request, int, int, unsigned int access) {
    // The notes of this request's closes, for the page that answers it.
    CloseNotesScope closeNotes;
    PostedFields fields;
    char sortName[kSortNameSize];
    std::snprintf(sortName, sizeof(sortName), "%s", kDefaultConnectionSortName);

    if ((access & kAccessManage) == 0 || (access & kAccessConsole) == 0) {
        return generate_error_page(request, kErrorAccessDenied);
    }

    ServicePath path;
    RequestData data;
    if (const int status =
            BeginServiceRequest(request, ConsPaths(), path, sortName, sizeof(sortName), data);
        status != 0) {
        return status;
    }
    const int method = data.method;
    HeapText &decoded = data.decoded;

    // The id a close request names when its path ends before one: a component of length 0.
    static const char kEmptyId[1] = {'\0'};
    const char *component = path.position;
    Component action;
    if (path.count != 0 && path.converted.At(path.position, action)) {
        if (BeginsWith(action, kActionCloseConnections)) {
            // The list holds "/" itself ("</closeconn>"), so it is taken from the path copy.
            const char *list = path.CopyAt(action.after());
            if (*list == '/') {
                ++list;
            }
            KEL2CIFS_TRACE(debug, "connections to be closed = %s", list);
            CIFSCloseSelectedConnections(list);
            path.count = 0;
        } else if (BeginsWith(action, kActionCloseConnectionFiles)) {
            const char *tail = path.CopyAt(action.after());
            Component id;
            if (path.converted.Next(action, id)) {
                tail = path.CopyAt(id.after());
                // Ends the id where the next length byte (or the terminator) was.
                *id.after() = '\0';
                component = id.lengthByte;
            } else {
                component = kEmptyId;
            }
            path.count = 1;
            KEL2CIFS_TRACE(debug, "Set of file names to close url [%s] postdata [%s]", tail,
                           decoded != nullptr ? decoded.get() : "");
            LookUpFields(decoded.get(), fields);
            if (std::strstr(tail, kCloseAllOpenTag) != nullptr ||
                std::strstr(tail, kCloseAllCloseTag) != nullptr) {
                closeCIFSFilesForThisConnection(tail);
            } else {
                parseDataToCloseCIFSFiles(decoded.get());
            }
        } else if (decoded != nullptr) {
            LookUpFields(decoded.get(), fields);
            KEL2CIFS_TRACE(debug, "Post parameters: filter  [%s] volName [%s] sortType [%s]",
                           fields.filter, fields.volume, fields.sortType);
        }
    }
    path.pathCopy.reset();
    decoded.reset();

    if (path.count == 0) {
        if (method == kMethodGet) {
            return generate_main_connections_page(request, 1, 1, access, path.sortType, sortName);
        }
        return generate_error_page(request, kErrorBadRequest);
    }
    if (path.count == 1) {
        const int shown = DisplaySpecifiedConnection(request, 0, 1, 1, component, sortName,
                                                     fields.volume, fields.sortType, fields.filter);
        // The page reports 0 when it was written: the host is told the status it received.
        return shown == 0 ? kStatusOk : shown;
    }
    return generate_error_page(request, kErrorBadRequest);
}
