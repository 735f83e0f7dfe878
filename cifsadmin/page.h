// page.h: what both administration pages share: their texts' translation, the access rules, the
// three outputs (HTML, JSON, CSV), hand-built responses (data, 303, 403), the page frame with its
// style and refresh script, and the pieces of a list page (sortable headings, pager, refresh
// control, result banner).
#ifndef KEL2CIFS_CIFSADMIN_PAGE_H
#define KEL2CIFS_CIFSADMIN_PAGE_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cifsadmin/methods.h"
#include "cifsadmin/model.h"
#include "cifsadmin/results.h"
#include "cifsadmin/text.h"

// The translation of an English text in the message domain "libkel2cifs_admin", or the text
// itself. Binds the domain on the first call.
const char *Tr(const char *text);
// The form of a text with a number for `count`, in the request's language.
const char *TrN(const char *singular, const char *plural, unsigned long count);

namespace kel2cifs::admin {

inline constexpr char kTextDomain[] = "libkel2cifs_admin";

// Access bits of the word the console passes.
inline constexpr unsigned kAccessRead = 0x1u;
inline constexpr unsigned kAccessChange = 0x2u;
inline constexpr unsigned kAccessConsole = 0x8u;
inline constexpr unsigned kAccessDeclined = 0x80000000u | 0x40000000u;
// A word with a declined bit is not served at all; the pages need the console bit and reading
// or changing; closing and ending need changing.
inline bool Declines(unsigned access) {
    return (access & kAccessDeclined) != 0;
}
inline bool MayView(unsigned access) {
    return (access & kAccessConsole) != 0 && (access & (kAccessRead | kAccessChange)) != 0;
}
inline bool MayChange(unsigned access) {
    return MayView(access) && (access & kAccessChange) != 0;
}

enum class Output { kHtml, kJson, kCsv };
// format=json or format=csv of the query (or of a posted form); HTML otherwise.
Output OutputOf(const Fields &query, const Fields &form);

// The request's method and, for a POST, its form. False when the method cannot be read.
struct Posted {
    bool isPost = false;
    Fields form;
};
bool ReadPosted(void *request, Posted *posted);

// Writes text to the open response.
void Write(void *request, std::string_view text);
// A whole response: status, content type and body. Returns the status.
int SendData(void *request, int status, const char *contentType, std::string_view body);
// JSON {"error": text} with the status.
int SendJsonError(void *request, int status, std::string_view text);
// 303 See Other to location (a path and query of this console).
int SendRedirect(void *request, const std::string &location);
// 403 for a request that may not do what it asks, in its output.
int SendForbidden(void *request, Output output);

// Opens the 200 HTML response and writes the console's frame and "<main>"; false (with a 500
// sent) when the host refused.
bool BeginPage(void *request, const char *title);
// The same for a list page that reloads itself every refreshSeconds (0: never) without script.
bool BeginPage(void *request, const char *title, long refreshSeconds);
// Writes "</main></body></html>" and ends the response. Returns 200.
int EndPage(void *request);

// 400 for a form with more than kMaxTargets `field` fields, in its output.
int SendTooManyTargets(void *request, Output output, const char *field);

// A notice that the feature is not available with the libraries installed.
int SendNotAvailable(void *request, Output output, const char *title);

// Sortable column heading: a link that sorts by `key` (the other way when it is the current
// key), with aria-sort on the sorted one. `hrefBase` is the page's URL with everything but sort,
// order and page, ending in '?' or '&'.
std::string SortHeading(const char *label, std::string_view key, std::string_view currentKey,
                        bool ascending, const std::string &hrefBase);

// "Page x of y" with previous and next links; `hrefBase` as above (holds sort and order).
std::string Pager(std::size_t page, std::size_t pages, const std::string &hrefBase);

// The refresh control's select (inside the filter form) and the "Last updated" line.
std::string RefreshSelect(long seconds);
std::string LastUpdated(long refreshSeconds);

// The banner of a kept result: role="status", one line per target.
std::string ResultBanner(const ActionResult &result);

// How a list is shown: its sort column (by URL name), order, page, page size and refresh
// interval. Both list pages read it from the query or the posted form and carry it along.
struct ListView {
    std::string sort;
    bool ascending = true;
    long page = 1;
    long size = kDefaultPageSize;
    long refresh = 0;  // seconds: 0, 10, 30 or 60
};
// The view of `fields` ("order", "page", "size", "refresh"), sorted by `sort`, a column name the
// page has checked.
ListView ReadListView(const Fields &fields, std::string sort);
// Appends the view as query fields "name=value&": size and refresh when not the defaults, sort
// and order when withSort, the page when withPage and not the first.
void AppendViewQuery(std::string *query, const ListView &view, bool withSort, bool withPage);
// The view as the hidden fields of a form.
std::string ViewHiddenFields(const ListView &view);
// The filter form's rows-per-page field and refresh select, the view's sort and order, and the
// form's Apply button (which ends the form's controls; the caller closes the form).
std::string ViewFormControls(const ListView &view);
// "/keyword", followed by "?" and `query` (fields "name=value&") when it holds any.
std::string PageUrl(std::string_view keyword, std::string query);

// What the library said about a listing or action that failed, or "status N".
std::string FailureText(int status);
// The banner of a listing that failed: `format` holds one %s for FailureText(status).
std::string ListingFailure(const char *format, int status);
// The banner of what a listing that succeeded came with ("" for none): a node that did not
// answer.
std::string ListingNotice(const std::string &notice);
// The list's scrolling box, its table and caption, up to the opened heading row.
std::string OpenListTable(const char *caption);
// "This page as data: JSON CSV" for the page at `hrefBase` (ending in '?' or '&').
std::string DataLinks(const std::string &hrefBase);

// A list's JSON answer: {"total", "page", "pages", "size", "items"} with the rows of the window
// written by item(row), and "notice" before "items" when the listing came with one.
template <typename Row, typename Item>
std::string JsonList(const std::vector<Row> &rows, const PageWindow &window, long size, Item item,
                     std::string_view notice = {}) {
    std::string out = "{\"total\": " + std::to_string(rows.size()) +
                      ", \"page\": " + std::to_string(window.page) +
                      ", \"pages\": " + std::to_string(window.pages) +
                      ", \"size\": " + std::to_string(size);
    if (!notice.empty()) {
        out += ", \"notice\": " + Json(notice);
    }
    out += ", \"items\": [";
    for (std::size_t i = window.first; i < window.end; ++i) {
        out += (i == window.first ? "\n" : ",\n") + item(rows[i]);
    }
    return out + (window.first < window.end ? "\n]}\n" : "]}\n");
}

// The window of `total` rows the view shows; the view's page becomes the page shown.
PageWindow ShowWindow(ListView *view, std::size_t total);
// The banner of the kept result the query names (result=ID) when it is the account's, else "".
std::string QueryResultBanner(const Fields &query, const std::string &account);

// A list as data: its window as JSON (item(row) each, with the listing's notice) or as CSV
// (csv(rows, window); CSV has no place for the notice). Returns the status sent, or 0 without
// sending anything when the output is HTML.
template <typename Row, typename Item, typename Csv>
int SendListData(void *request, Output output, const std::vector<Row> &rows,
                 const PageWindow &window, long size, Item item, Csv csv,
                 std::string_view notice = {}) {
    if (output == Output::kJson) {
        return SendData(request, 200, "application/json",
                        JsonList(rows, window, size, item, notice));
    }
    if (output == Output::kCsv) {
        return SendData(request, 200, "text/csv; charset=utf-8", csv(rows, window));
    }
    return 0;
}

// The decimal format of sizes in the request's language.
const char *DecimalFormat();

}  // namespace kel2cifs::admin

#endif  // KEL2CIFS_CIFSADMIN_PAGE_H
