#include "ofm/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <strings.h>

#include "kel/host.h"
#include "ofm/close_files.h"
#include "ofm/file_details.h"
#include "ofm/main_page.h"
#include "ofm/open_files.h"
#include "ofm/sort.h"
#include "plugin/component_path.h"
#include "plugin/config.h"
#include "plugin/help.h"
#include "plugin/monitoring_report.h"
#include "plugin/pages.h"
#include "plugin/request.h"
#include "plugin/service_path.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// The posted field holding the filter, and what precedes its value: "FILTER" and one character
// (normally "=") that is skipped unexamined.
constexpr char kFilterField[] = "FILTER";
constexpr std::size_t kFilterValueOffset = sizeof(kFilterField);

constexpr SortKeyword kSortKeywords[] = {
    {kSortKeywordConnectionNumber, kSortByConnectionNumber},
    {kSortKeywordUserName, kSortByUserName},
    {kSortKeywordFileName, kSortByFileName},
};

ServicePathGrammar OfmPaths() {
    return {.keyword = keyword_cifsofm,
            .sortKeywords = kSortKeywords,
            .help = generate_cifs_ofm_help,
            .traceCopy = false};
}

// The posted filter: the text after "FILTER" and one more character, to the end of the decoded
// data. Empty when the data ends sooner.
const char *PostedFilter(const char *decoded) {
    const char *field = std::strstr(decoded, kFilterField);
    if (field == nullptr) {
        return nullptr;
    }
    const char *value = field + sizeof(kFilterField) - 1;
    return *value == '\0' ? value : field + kFilterValueOffset;
}

}  // namespace

int generate_cifs_ofm_help(void *request, int remaining, const char *next, int nextLength) {
    // Only an empty last component gives the general topic. An empty one with more after it
    // ("/help//x") does not end the text at next, and as the empty prefix of "help" it gives the
    // detail topic.
    if (remaining <= 0 || next == nullptr || next[0] == '\0') {
        return generate_cifs_help_page(request, kHelpOpenFiles,
                                       lnxMSG("CIFS Open File Management"));
    }
    const std::size_t length = nextLength > 0 ? static_cast<std::size_t>(nextLength) : 0;
    if (length <= std::strlen(keyword_help) && strncasecmp(next, keyword_help, length) == 0) {
        return generate_cifs_help_page(request, kHelpOpenFileInfo,
                                       lnxMSG("CIFS Open File Information"));
    }
    return generate_error_page(request, kErrorBadRequest);
}

int GetComponentCountAndSortType(void *request, int *count, cifsSortType *sortType,
                                 char * /*filter*/, char *sortKeyword, char **position,
                                 char **pathCopy) {
    ServicePath path;
    const int status = ParseServicePath(request, OfmPaths(), path, sortKeyword, kSortKeywordSize);
    path.Release(count, sortType, position, pathCopy);
    return status;
}

int GetComponentCount(void *request, int *count) {
    *count = 0;
    char *url = nullptr;
    if (HttpReturnPathBuffers(request, nullptr, &url, nullptr) != 0 || url == nullptr ||
        url[0] != '/') {
        return kStatusBadRequest;
    }
    KEL2CIFS_TRACE(debug, "URL = %s", url);
    const std::size_t skip = 1 + std::strlen(keyword_cifsofm);
    if (strnlen(url, skip) < skip || url[skip] != '/') {
        return 0;
    }
    // Counted on a copy, so that the request's own path stays as the host gave it.
    HeapText copy(strdup(url + skip));
    if (copy == nullptr) {
        KEL2CIFS_TRACE(debug, "memory alloc failed in fun GetComponentCount");
        return kStatusBadRequest;
    }
    int components = ConvertToComponentPath(copy.get());
    if (components < 1) {
        return kStatusBadRequest;
    }
    *count = components;
    KEL2CIFS_TRACE(debug, "count = %d check for help token toke= %s", components, copy.get() + 1);
    return 0;
}

int cifsofmMethod(void *request, int, int, unsigned int access) {
    // The notes of this request's closes, for the page that answers it.
    CloseNotesScope closeNotes;
    if ((access & kAccessManage) == 0 || (access & kAccessConsole) == 0) {
        return generate_error_page(request, kErrorAccessDenied);
    }

    ServicePath path;
    RequestData data;
    if (const int status = BeginServiceRequest(request, OfmPaths(), path, nullptr, 0, data);
        status != 0) {
        return status;
    }
    const int method = data.method;
    HeapText &decoded = data.decoded;

    char filter[kFilterSize] = "";
    Component action;
    if (path.count != 0 && path.converted.At(path.position, action)) {
        if (BeginsWith(action, kActionBrowseFile)) {
            // The converted path and its copy have the same layout, so the "/" that follows the
            // volume in the copy sits where the volume's successor begins in the converted path.
            const char *filePath = "";
            Component volume;
            if (path.converted.Next(action, volume)) {
                filePath = path.CopyAt(volume.after());
            }
            KEL2CIFS_TRACE(debug, "file name = %s", filePath);
            return displayCIFSFileDetails(request, filePath);
        }
        if (BeginsWith(action, kActionCloseFiles)) {
            Component volume;
            if (path.converted.Next(action, volume)) {
                // Ends the volume's text where the next length byte (or the terminator) was.
                *volume.after() = '\0';
                path.position = volume.lengthByte;
                path.count = 1;
            } else {
                // No volume named: the files are closed and the page without a volume follows.
                path.position = nullptr;
                path.count = 0;
            }
            KEL2CIFS_TRACE(debug, "Set of file names to close = %s",
                           decoded != nullptr ? decoded.get() : "");
            if (decoded != nullptr) {
                parseDataToCloseCIFSFiles(decoded.get());
            }
        } else if (decoded != nullptr) {
            const char *value = PostedFilter(decoded.get());
            if (value != nullptr) {
                std::size_t length = std::strlen(value);
                KEL2CIFS_TRACE(debug, "filter string len[%d] string [%s]", static_cast<int>(length),
                               value);
                if (length == 0 || length > kFilterSize - 1) {
                    KEL2CIFS_TRACE(debug, "filter value len is greater than 255 or equal to zero");
                } else {
                    std::memcpy(filter, value, length + 1);
                }
            }
        }
    }
    path.pathCopy.reset();
    decoded.reset();

    if (data.rawLength != 0) {
        KEL2CIFS_TRACE(error, "post count = %d content=%s", static_cast<int>(data.rawLength),
                       data.raw);
    }
    KEL2CIFS_TRACE(debug, "Connection clearing power is = %d",
                   (access & kAccessClearConnLimited) == 0 || AllowClearConn == 1 ? 1 : 0);
    if (path.position != nullptr) {
        const char *after = path.position < path.converted.end ? path.position + 1 : "";
        KEL2CIFS_TRACE(error, "Component count = %d path=%s %s", path.count, path.position, after);
    } else {
        KEL2CIFS_TRACE(error, "Component count = %d path=null", path.count);
    }

    if (path.count == 0) {
        return generate_main_ofm_page(request);
    }
    if (path.count == 1) {
        return generate_main_ofm_page(request, path.position, path.sortType, filter);
    }
    if (method == kMethodGet) {
        return generate_main_ofm_page(request);
    }
    return generate_error_page(request, kErrorBadRequest);
}
