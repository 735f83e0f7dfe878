// audit_page.h: the Audit Trail page (/audit), the console's own page, and its JSON and CSV.
//
// The query chooses the records: from and to (dates, YYYY-MM-DD, in the console's time zone, both
// days included), account and action (equal to), page (from 1) and size (records a page, 100 by
// default, at most 1000); format=json or format=csv gives the records of the page as JSON
// ({"total": N, "items": [...]}, times in ISO 8601 UTC) or as CSV (RFC 4180, a header line, an
// attachment), else the HTML page: a filter form, the table newest first, and links to the
// neighbouring pages.
#ifndef KEL_CONSOLE_AUDIT_PAGE_H
#define KEL_CONSOLE_AUDIT_PAGE_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "console/audit.h"
#include "console/html.h"
#include "console/request.h"

namespace kel::console {

inline constexpr const char *kAuditUrl = kAuditPageUrl;
inline constexpr std::size_t kAuditPageSize = 100;
inline constexpr std::size_t kMaxAuditPageSize = 1000;

struct AuditQuery {
    AuditFilter filter;
    std::string from;  // as given
    std::string to;
    std::size_t page = 1;
    std::string format;  // "", "json" or "csv"
};

// Reads the query; false with *error (a sentence for the page) when a value is malformed.
bool ParseAuditQuery(std::string_view query, AuditQuery *parsed, std::string *error);

// `text` as a JSON string, quotes included: control characters, quotes, backslashes and "<", ">"
// and "&" escaped, bytes that are not UTF-8 replaced by U+FFFD.
std::string JsonString(std::string_view text);
// `text` as a CSV field (RFC 4180): quoted, inner quotes doubled; a text that starts with = + - @,
// a tab or a CR gets a leading ' so that a spreadsheet does not read a formula (an account name
// comes from anyone's login form).
std::string CsvField(std::string_view text);

std::string AuditJson(const std::vector<AuditRecord> &items, std::size_t total);
// Each target one line (a record without targets one line with empty target fields):
// time,account,via_token,client,action,status,target_action,target,result.
std::string AuditCsv(const std::vector<AuditRecord> &items);

// Answers a GET of the page with `query` into `request`.
void WriteAuditPage(Request &request, AuditStore &audit, std::string_view query);

}  // namespace kel::console

#endif  // KEL_CONSOLE_AUDIT_PAGE_H
