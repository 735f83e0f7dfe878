#include "connections/dispatch.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "connections/close.h"
#include "connections/connection_list.h"
#include "connections/detail_page.h"
#include "connections/list_page.h"
#include "kel/host.h"
#include "ofm/close_files.h"
#include "ofm/post_data.h"
#include "ofm/trace.h"
#include "plugin/component_path.h"
#include "plugin/pages.h"

using namespace kel2cifs;

namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusNotOpened = 500;
constexpr int kStatusBadPath = 400;
constexpr int kMethodGet = 0;
constexpr int kMethodPost = 2;

// State of one request's path as the parser leaves it.
struct ConsPath {
    int count = 0;
    cifsSortType sortType = kSortByConnectionNumber;
    char *component = nullptr;
    ConvertedPath converted;
    HeapText pathCopy;

    // The text of the path copy from where `at` stands in the converted path: both have the same
    // layout, a "/" of the copy standing where the converted path has a length byte.
    const char *CopyAt(const char *at) const { return pathCopy.get() + (at - converted.base); }
};

// The sort keywords in the order they are tried.
constexpr struct {
    const char *keyword;
    cifsSortType sortType;
} kSortKeywords[] = {
    {"ConnectionNumber", kSortByConnectionNumber},
    {"ConnectionName", kSortByConnectionName},
    {"FSActivity", kSortByFSActivity},
    {"LoginTime", kSortByLoginTime},
    {"ConnectionType", kSortByConnectionType},
    {"ZupRequest", kSortByZupRequest},
};

int ParseConsPath(void *request, ConsPath &path, char *sortName) {
    char *url = nullptr;
    if (HttpReturnPathBuffers(request, nullptr, &url, nullptr) != 0 || url == nullptr ||
        url[0] != '/') {
        return kStatusBadPath;
    }
    KEL2CIFS_TRACE(debug, "URL = %s", url);

    // The leading "/" and the keyword, which the host has matched already.
    const std::size_t skip = 1 + std::strlen(keyword_cifsdcons);
    if (strnlen(url, skip) < skip || url[skip] != '/') {
        path.count = 0;
        return 0;
    }
    char *rest = url + skip;
    const std::size_t restLength = std::strlen(rest);
    path.pathCopy.reset(static_cast<char *>(std::malloc(restLength + 1)));
    if (path.pathCopy == nullptr) {
        KEL2CIFS_TRACE(debug, "memory alloc failed in fun GetComponentCountAndSortType");
        return kStatusBadPath;
    }
    KEL2CIFS_TRACE(debug, "In fun GetComponentCountAndSortType len of componentPath =  %d",
                   static_cast<int>(restLength));
    KEL2CIFS_TRACE(debug, "In fun GetComponentCountAndSortType len of pPath =  %s", rest);
    std::memcpy(path.pathCopy.get(), rest, restLength + 1);
    KEL2CIFS_TRACE(debug, "In fun GetComponentCountAndSortType val of componentPath =  %s",
                   path.pathCopy.get());

    // A component too long for its length byte leaves the path unconverted.
    const int count = ConvertToComponentPath(rest);
    if (count < 1) {
        return kStatusBadPath;
    }
    path.count = count;
    path.converted = ConvertedPath{rest, rest + restLength};
    path.component = rest;
    KEL2CIFS_TRACE(debug, "count = %d check for help token", path.count);

    Component first;
    if (!path.converted.At(rest, first)) {
        return kStatusBadPath;
    }
    if (IsPrefixOf(first, keyword_help)) {
        KEL2CIFS_TRACE(debug, "count = %d FOUND help token", path.count);
        Component second;
        if (path.count > 1 && path.converted.Next(first, second)) {
            return generate_connections_help(request, path.count - 1, second.text,
                                             static_cast<int>(second.length));
        }
        return generate_connections_help(request, 0, "", 0);
    }

    KEL2CIFS_TRACE(debug, "count = %d look for sort method", path.count);
    for (const auto &entry : kSortKeywords) {
        if (BeginsWith(first, entry.keyword)) {
            path.sortType = entry.sortType;
            if (sortName != nullptr) {
                std::snprintf(sortName, kSortNameSize, "%s", entry.keyword);
            }
            --path.count;
            path.component = first.after();
            break;
        }
    }
    return 0;
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
    ConsPath path;
    const int status = ParseConsPath(request, path, sortName);
    if (count != nullptr) {
        *count = path.count;
    }
    if (sortType != nullptr) {
        *sortType = path.sortType;
    }
    if (component != nullptr) {
        *component = path.component;
    }
    if (pathCopy != nullptr) {
        *pathCopy = path.pathCopy.release();
    }
    return status;
}

int cifsconsMethod(void *request, int, int, unsigned int access) {
    PostedFields fields;
    char sortName[kSortNameSize];
    std::snprintf(sortName, sizeof(sortName), "%s", kDefaultConnectionSortName);

    if ((access & kConsAccessAny) == 0 || (access & kConsAccessPage) == 0) {
        return generate_error_page(request, kErrorAccessDenied);
    }

    ConsPath path;
    const int status = ParseConsPath(request, path, sortName);
    if (status != 0) {
        path.pathCopy.reset();
        // A help page (or the error page it chose) was served; a page that could not be opened
        // has had its 500 response already.
        if (status == kStatusOk || status == kStatusNotOpened) {
            return status;
        }
        return generate_error_page(request, status);
    }

    int method = 0;
    if (HttpReturnRequestMethod(request, &method) == 0) {
        return generate_error_page(request, kErrorMissingData);
    }
    if (method != kMethodGet && method != kMethodPost) {
        return generate_error_page(request, kErrorBadRequest);
    }

    HeapText decoded;
    if (method == kMethodPost) {
        char *data = nullptr;
        unsigned long length = 0;
        if (HttpReturnPostDataBuffer(request, &data, &length) == 0 && data != nullptr) {
            data[length] = '\0';
            char *text = nullptr;
            const int decodeStatus = decodePostDataString(data, length, &text);
            decoded.reset(text);
            if (decodeStatus != 0) {
                return generate_error_page(request, kErrorOutOfResources);
            }
        }
    }

    // The id a close request names when its path ends before one: a component of length 0.
    static const char kEmptyId[1] = {'\0'};
    const char *component = path.component;
    Component action;
    if (path.count != 0 && path.converted.At(path.component, action)) {
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
