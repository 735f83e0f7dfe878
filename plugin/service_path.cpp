#include "plugin/service_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/host.h"
#include "plugin/pages.h"
#include "plugin/request.h"
#include "plugin/trace.h"

namespace kel2cifs {

void ServicePath::Release(int *countOut, cifsSortType *sortTypeOut, char **positionOut,
                          char **pathCopyOut) {
    if (countOut != nullptr) {
        *countOut = count;
    }
    if (sortTypeOut != nullptr) {
        *sortTypeOut = sortType;
    }
    if (positionOut != nullptr) {
        *positionOut = position;
    }
    if (pathCopyOut != nullptr) {
        *pathCopyOut = pathCopy.release();
    }
}

int ParseServicePath(void *request, const ServicePathGrammar &grammar, ServicePath &path,
                     char *sortName, std::size_t sortNameSize) {
    char *url = nullptr;
    if (HttpReturnPathBuffers(request, nullptr, &url, nullptr) != 0 || url == nullptr ||
        url[0] != '/') {
        return kStatusBadRequest;
    }
    KEL2CIFS_TRACE(debug, "URL = %s", url);

    // The leading "/" and the keyword, which the host has matched already.
    const std::size_t skip = 1 + std::strlen(grammar.keyword);
    if (strnlen(url, skip) < skip || url[skip] != '/') {
        path.count = 0;
        return 0;
    }
    char *rest = url + skip;
    const std::size_t restLength = std::strlen(rest);
    path.pathCopy.reset(strndup(rest, restLength));
    if (path.pathCopy == nullptr) {
        KEL2CIFS_TRACE(debug, "memory alloc failed in fun GetComponentCountAndSortType");
        return kStatusBadRequest;
    }
    if (grammar.traceCopy) {
        KEL2CIFS_TRACE(debug, "In fun GetComponentCountAndSortType len of componentPath =  %d",
                       static_cast<int>(restLength));
        KEL2CIFS_TRACE(debug, "In fun GetComponentCountAndSortType len of pPath =  %s", rest);
        KEL2CIFS_TRACE(debug, "In fun GetComponentCountAndSortType val of componentPath =  %s",
                       path.pathCopy.get());
    }

    // A component too long for its length byte leaves the path unconverted.
    const int count = ConvertToComponentPath(rest);
    if (count < 1) {
        return kStatusBadRequest;
    }
    path.count = count;
    path.converted = ConvertedPath{rest, rest + restLength};
    path.position = rest;
    KEL2CIFS_TRACE(debug, "count = %d check for help token", path.count);

    Component first;
    if (!path.converted.At(rest, first)) {
        return kStatusBadRequest;
    }
    if (IsPrefixOf(first, keyword_help)) {
        KEL2CIFS_TRACE(debug, "count = %d FOUND help token", path.count);
        Component second;
        if (path.count > 1 && path.converted.Next(first, second)) {
            return grammar.help(request, path.count - 1, second.text,
                                static_cast<int>(second.length));
        }
        return grammar.help(request, 0, "", 0);
    }

    KEL2CIFS_TRACE(debug, "count = %d look for sort method", path.count);
    for (const SortKeyword &entry : grammar.sortKeywords) {
        if (BeginsWith(first, entry.keyword)) {
            path.sortType = entry.sortType;
            if (sortName != nullptr && sortNameSize > 0) {
                std::snprintf(sortName, sortNameSize, "%s", entry.keyword);
            }
            // The whole component is consumed, also when it continues past the keyword
            // ("UserNameX"), so the next one begins at its own length byte.
            --path.count;
            path.position = first.after();
            break;
        }
    }
    return 0;
}

int BeginServiceRequest(void *request, const ServicePathGrammar &grammar, ServicePath &path,
                        char *sortName, std::size_t sortNameSize, RequestData &data) {
    const int status = ParseServicePath(request, grammar, path, sortName, sortNameSize);
    if (status != 0) {
        path.pathCopy.reset();
        // A help page (or the error page it chose) was served; a page that could not be opened
        // has had its 500 response already.
        if (status == kStatusOk || status == kStatusNotOpened) {
            return status;
        }
        return generate_error_page(request, status);
    }
    return ReadRequestData(request, data);
}

}  // namespace kel2cifs
