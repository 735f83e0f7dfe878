// service_path.h: reading the path of a request to a list page (/cifsofm, /cifscons): a help
// topic, an optional sort keyword, then the page's own components.
#ifndef KEL2CIFS_PLUGIN_SERVICE_PATH_H
#define KEL2CIFS_PLUGIN_SERVICE_PATH_H

#include <cstddef>
#include <span>

#include "plugin/component_path.h"
#include "plugin/heap_text.h"
#include "plugin/request.h"
#include "plugin/sort_type.h"

namespace kel2cifs {

// A sort keyword of a page's URL and the order it selects.
struct SortKeyword {
    const char *keyword;
    cifsSortType sortType;
};

// What one page's paths look like.
struct ServicePathGrammar {
    const char *keyword;  // the page's URL keyword, which the console has matched already
    // Tried in this order against the first component; the first that it begins with (without
    // regard to case) wins.
    std::span<const SortKeyword> sortKeywords;
    // Serves "/<keyword>/<prefix of help>[/<next>]": the number of components after the help
    // component, the next one's text and length ("" and 0 when there is none).
    int (*help)(void *request, int remaining, const char *next, int nextLength);
    // Whether the page's trace shows the length and text of the path before and after copying.
    bool traceCopy;
};

// One request's path as the parser leaves it.
struct ServicePath {
    int count = 0;  // components left for the page (0: the page without any)
    cifsSortType sortType = kSortByConnectionNumber;
    char *position = nullptr;  // the length byte of the first component left
    ConvertedPath converted;   // the converted path after the keyword
    HeapText pathCopy;         // the path after the keyword as it was before the conversion

    // The text of the path copy from where `at` stands in the converted path: both have the same
    // layout, a "/" of the copy standing where the converted path has a length byte.
    char *CopyAt(const char *at) const { return pathCopy.get() + (at - converted.base); }

    // Hands the state to the out-parameters that are not null; the copy passes to the caller,
    // who frees it with free().
    void Release(int *countOut, cifsSortType *sortTypeOut, char **positionOut, char **pathCopyOut);
};

// Converts the request's path in place (the console's buffer) after "/<keyword>", serves a help
// path, and consumes a leading sort keyword, copying the keyword's text into sortName (cut to
// sortNameSize - 1 characters) when sortName is not null. Returns 0 when the page is to be
// chosen from `path`; the status of the help page when one was served; 400 when the path cannot
// be read, converted or copied.
[[nodiscard]] int ParseServicePath(void *request, const ServicePathGrammar &grammar,
                                   ServicePath &path, char *sortName, std::size_t sortNameSize);

// How a list page's service method begins: ParseServicePath, with the error page for a path it
// cannot read, then ReadRequestData. Returns 0 when the page is to be chosen from `path` and
// `data`; otherwise the status to return, the response having been written (a help page, an
// error page, or the 500 of a response that could not be opened).
[[nodiscard]] int BeginServiceRequest(void *request, const ServicePathGrammar &grammar,
                                      ServicePath &path, char *sortName, std::size_t sortNameSize,
                                      RequestData &data);

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_SERVICE_PATH_H
