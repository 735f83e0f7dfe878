// audit_page.cpp: the Audit Trail page and its JSON and CSV.
#include "console/audit_page.h"

#include <cstdio>
#include <ctime>

#include "console/html.h"
#include "console/language.h"
#include "console/url.h"
#include "kel/host.h"

namespace kel::console {
namespace {

constexpr char kJsonContentType[] = "application/json";
constexpr char kCsvContentType[] = "text/csv; charset=utf-8";

// The decoded value of query field `name`, or empty.
std::string QueryValue(std::string_view query, const char *name) {
    const std::string form(query);
    std::vector<char> raw(form.size() + 1);
    int length = static_cast<int>(raw.size());
    if (HttpFindNameAndValue(form.c_str(), name, raw.data(), &length) != 0 || length <= 0) {
        return {};
    }
    std::vector<char> decoded(static_cast<std::size_t>(length) + 1);
    const int size = HttpUnConvertName(raw.data(), decoded.data(), length);
    return std::string(decoded.data(), static_cast<std::size_t>(size));
}

// "YYYY-MM-DD" as the local midnight starting that day (or, with `next`, the day after).
bool ParseDate(const std::string &text, bool next, std::int64_t *out) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return false;
    }
    int parts[3] = {0, 0, 0};
    const std::size_t starts[3] = {0, 5, 8};
    const std::size_t lengths[3] = {4, 2, 2};
    for (int i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < lengths[i]; ++j) {
            const char c = text[starts[i] + j];
            if (c < '0' || c > '9') {
                return false;
            }
            parts[i] = parts[i] * 10 + (c - '0');
        }
    }
    if (parts[0] < 1970 || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > 31) {
        return false;
    }
    std::tm day{};
    day.tm_year = parts[0] - 1900;
    day.tm_mon = parts[1] - 1;
    day.tm_mday = parts[2] + (next ? 1 : 0);
    day.tm_isdst = -1;
    const std::time_t when = std::mktime(&day);
    if (when == static_cast<std::time_t>(-1)) {
        return false;
    }
    *out = static_cast<std::int64_t>(when) == 0 ? 1 : static_cast<std::int64_t>(when);
    return true;
}

bool ParseCount(const std::string &text, std::size_t maximum, std::size_t *out) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    if (value == 0 || value > maximum) {
        return false;
    }
    *out = value;
    return true;
}

std::string IsoTime(std::int64_t seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm utc{};
    char text[32] = "";
    if (gmtime_r(&when, &utc) != nullptr) {
        std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    return text;
}

// The time as the page's language writes a date and time.
std::string LocalTime(std::int64_t seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[128] = "";
    if (localtime_r(&when, &local) != nullptr &&
        std::strftime(text, sizeof(text), "%c", &local) == 0) {
        text[0] = '\0';
    }
    return text;
}

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one.
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    std::size_t length = 0;
    unsigned int code = 0;
    if (first < 0x80) {
        return 1;
    } else if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        code = first & 0x1F;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        code = first & 0x0F;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        code = first & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
        return 0;
    }
    return length;
}

// An href to the page with the filters of `query` and the given page and format.
std::string PageLink(const AuditQuery &query, std::size_t page, std::string_view format) {
    std::string link = kAuditUrl;
    char separator = '?';
    const auto add = [&](const char *name, const std::string &value) {
        if (!value.empty()) {
            link += separator;
            link += name;
            link += '=';
            link += PercentEncode(value);
            separator = '&';
        }
    };
    add("from", query.from);
    add("to", query.to);
    add("account", query.filter.account);
    add("action", query.filter.action);
    if (query.filter.limit != kAuditPageSize) {
        add("size", std::to_string(query.filter.limit));
    }
    if (page > 1) {
        add("page", std::to_string(page));
    }
    add("format", std::string(format));
    return link;
}

std::string StatusText(int status) {
    return status == 0 ? std::string(Translate("unfinished")) : std::to_string(status);
}

void AppendField(std::string &out, const char *id, const char *name, const char *type,
                 const char *label, const std::string &value) {
    out += "<div><label for=\"";
    out += id;
    out += "\">";
    out += EscapeHtml(label);
    out += "</label><input id=\"";
    out += id;
    out += "\" name=\"";
    out += name;
    out += "\" type=\"";
    out += type;
    out += "\" value=\"";
    out += EscapeHtml(value);
    out += "\"></div>\n";
}

void WriteHtml(Request &request, int status, const AuditQuery &query, const std::string &problem,
               const std::vector<AuditRecord> &items, std::size_t total) {
    std::string out;
    const char *title = Translate("Audit trail");
    out += "<main class=\"kc-audit\">\n";
    out += "<form class=\"kc-filter\" method=\"get\" action=\"";
    out += kAuditUrl;
    out += "\" role=\"search\" aria-label=\"";
    out += EscapeHtml(Translate("Filter the records"));
    out += "\">\n";
    AppendField(out, "kc-from", "from", "date", Translate("From"), query.from);
    AppendField(out, "kc-to", "to", "date", Translate("To"), query.to);
    AppendField(out, "kc-account", "account", "text", Translate("Account"), query.filter.account);
    AppendField(out, "kc-action", "action", "text", Translate("Action"), query.filter.action);
    AppendField(out, "kc-size", "size", "number", Translate("Records a page"),
                std::to_string(query.filter.limit));
    out += "<div><button type=\"submit\">";
    out += EscapeHtml(Translate("Show"));
    out += "</button></div>\n</form>\n";
    if (!problem.empty()) {
        out += "<p class=\"kc-error\" role=\"alert\">" + EscapeHtml(problem) + "</p>\n";
    }
    char count[160];
    std::snprintf(count, sizeof(count),
                  TranslatePlural("%zu record", "%zu records", static_cast<unsigned long>(total)),
                  total);
    out += "<p class=\"kc-section\">";
    out += EscapeHtml(count);
    out += " \xC2\xB7 <a href=\"" + EscapeHtml(PageLink(query, query.page, "csv")) + "\">";
    out += EscapeHtml(Translate("CSV"));
    out += "</a> \xC2\xB7 <a href=\"" + EscapeHtml(PageLink(query, query.page, "json")) + "\">";
    out += EscapeHtml(Translate("JSON"));
    out += "</a></p>\n";
    if (items.empty()) {
        out += "<p class=\"kc-empty\">";
        out += EscapeHtml(Translate("No record matches."));
        out += "</p>\n";
    } else {
        out += "<div class=\"kc-scroll\">\n<table class=\"kc-records\">\n<caption>";
        out += EscapeHtml(Translate("Audit records, newest first"));
        out += "</caption>\n<thead><tr>";
        for (const char *heading :
             {Translate("Time"), Translate("Account"), Translate("Client"), Translate("Action"),
              Translate("Targets and results"), Translate("Status")}) {
            out += "<th scope=\"col\">";
            out += EscapeHtml(heading);
            out += "</th>";
        }
        out += "</tr></thead>\n<tbody>\n";
        bool light = true;
        for (const AuditRecord &record : items) {
            out += "<tr ";
            out += light ? pzSTRIPE_LIGHT : pzSTRIPE_DARK;
            light = !light;
            // Each cell names its column too: a narrow screen shows a record as a card.
            const auto cell = [&out](const char *column) {
                out += "<td data-label=\"";
                out += EscapeHtml(column);
                out += "\">";
            };
            out += ">";
            cell(Translate("Time"));
            out += "<time datetime=\"" + IsoTime(record.time) + "\">" +
                   EscapeHtml(LocalTime(record.time)) + "</time></td>";
            cell(Translate("Account"));
            out += EscapeHtml(record.account);
            if (record.viaToken) {
                out += " <span class=\"kc-token\">(";
                out += EscapeHtml(Translate("API token"));
                out += ")</span>";
            }
            out += "</td>";
            cell(Translate("Client"));
            out += EscapeHtml(record.client) + "</td>";
            cell(Translate("Action"));
            out += EscapeHtml(record.action) + "</td>";
            cell(Translate("Targets and results"));
            if (record.targets.empty()) {
                out += "\xE2\x80\x94";  // an em dash
            } else {
                out += "<ul>";
                for (const AuditTarget &target : record.targets) {
                    out += "<li>" + EscapeHtml(target.action) + ": " + EscapeHtml(target.target) +
                           " \xE2\x80\x94 " + EscapeHtml(target.result) + "</li>";
                }
                out += "</ul>";
            }
            out += "</td>";
            cell(Translate("Status"));
            out += EscapeHtml(StatusText(record.status)) + "</td></tr>\n";
        }
        out += "</tbody>\n</table>\n</div>\n";
    }
    const std::size_t pages =
        total == 0 ? 1 : (total + query.filter.limit - 1) / query.filter.limit;
    if (pages > 1 || query.page > 1) {
        out += "<nav class=\"kc-pages\" aria-label=\"";
        out += EscapeHtml(Translate("Pages of records"));
        out += "\">\n";
        if (query.page > 1) {
            out +=
                "<a rel=\"prev\" href=\"" + EscapeHtml(PageLink(query, query.page - 1, "")) + "\">";
            out += EscapeHtml(Translate("Newer"));
            out += "</a>\n";
        }
        char where[160];
        std::snprintf(where, sizeof(where), Translate("Page %zu of %zu"), query.page, pages);
        out += "<span>" + EscapeHtml(where) + "</span>\n";
        if (query.page < pages) {
            out +=
                "<a rel=\"next\" href=\"" + EscapeHtml(PageLink(query, query.page + 1, "")) + "\">";
            out += EscapeHtml(Translate("Older"));
            out += "</a>\n";
        }
        out += "</nav>\n";
    }
    out += "</main>\n</body>\n</html>\n";

    request.Complete(status, kHtmlContentType, {});
    request.content.Clear();
    WriteFrameHead(request, title);
    WriteFrameBody(request, title,
                   Translate("Every change made through the console: who, from where, what and "
                             "with which result."),
                   nullptr);
    request.content.AppendBytes(out);
}

}  // namespace

bool ParseAuditQuery(std::string_view query, AuditQuery *parsed, std::string *error) {
    parsed->from = QueryValue(query, "from");
    parsed->to = QueryValue(query, "to");
    parsed->filter.account = QueryValue(query, "account");
    parsed->filter.action = QueryValue(query, "action");
    parsed->format = QueryValue(query, "format");
    parsed->filter.limit = kAuditPageSize;
    parsed->page = 1;
    if (!parsed->format.empty() && parsed->format != "json" && parsed->format != "csv") {
        *error = Translate("The format is json or csv.");
        parsed->format.clear();
        return false;
    }
    if (!parsed->from.empty() && !ParseDate(parsed->from, false, &parsed->filter.from)) {
        *error = Translate("From is not a date of the form YYYY-MM-DD.");
        return false;
    }
    if (!parsed->to.empty() && !ParseDate(parsed->to, true, &parsed->filter.to)) {
        *error = Translate("To is not a date of the form YYYY-MM-DD.");
        return false;
    }
    const std::string size = QueryValue(query, "size");
    if (!size.empty() && !ParseCount(size, kMaxAuditPageSize, &parsed->filter.limit)) {
        *error = Translate("Records a page is a number from 1 to 1000.");
        return false;
    }
    const std::string page = QueryValue(query, "page");
    if (!page.empty() && !ParseCount(page, 100000000, &parsed->page)) {
        *error = Translate("The page is a number from 1.");
        return false;
    }
    parsed->filter.offset = (parsed->page - 1) * parsed->filter.limit;
    return true;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const std::size_t length = Utf8Length(text);
        if (length == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[0]);
        if (length > 1) {
            out.append(text.substr(0, length));
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&') {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
        text.remove_prefix(length);
    }
    out += '"';
    return out;
}

std::string CsvField(std::string_view text) {
    std::string out = "\"";
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r')) {
        out += '\'';
    }
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
    return out;
}

std::string AuditJson(const std::vector<AuditRecord> &items, std::size_t total) {
    std::string out = "{\"total\": " + std::to_string(total) + ", \"items\": [";
    bool firstItem = true;
    for (const AuditRecord &record : items) {
        out += firstItem ? "\n" : ",\n";
        firstItem = false;
        out += "{\"time\": " + JsonString(IsoTime(record.time)) +
               ", \"account\": " + JsonString(record.account) +
               ", \"viaToken\": " + (record.viaToken ? "true" : "false") +
               ", \"client\": " + JsonString(record.client) +
               ", \"action\": " + JsonString(record.action) +
               ", \"status\": " + std::to_string(record.status) + ", \"targets\": [";
        bool firstTarget = true;
        for (const AuditTarget &target : record.targets) {
            out += firstTarget ? "" : ", ";
            firstTarget = false;
            out += "{\"action\": " + JsonString(target.action) +
                   ", \"target\": " + JsonString(target.target) +
                   ", \"result\": " + JsonString(target.result) + "}";
        }
        out += "]}";
    }
    out += "]}\n";
    return out;
}

std::string AuditCsv(const std::vector<AuditRecord> &items) {
    std::string out = "time,account,via_token,client,action,status,target_action,target,result\r\n";
    for (const AuditRecord &record : items) {
        const std::string common = IsoTime(record.time) + "," + CsvField(record.account) + "," +
                                   (record.viaToken ? "yes" : "no") + "," +
                                   CsvField(record.client) + "," + CsvField(record.action) + "," +
                                   std::to_string(record.status) + ",";
        if (record.targets.empty()) {
            out += common + "\"\",\"\",\"\"\r\n";
        }
        for (const AuditTarget &target : record.targets) {
            out += common + CsvField(target.action) + "," + CsvField(target.target) + "," +
                   CsvField(target.result) + "\r\n";
        }
    }
    return out;
}

void WriteAuditPage(Request &request, AuditStore &audit, std::string_view query) {
    AuditQuery parsed;
    std::string problem;
    const bool valid = ParseAuditQuery(query, &parsed, &problem);
    if (!valid && !parsed.format.empty()) {
        request.Complete(400, "text/plain; charset=utf-8", problem + "\n");
        return;
    }
    std::vector<AuditRecord> items;
    std::size_t total = 0;
    if (valid && !audit.Query(parsed.filter, &items, &total)) {
        if (!parsed.format.empty()) {
            request.Complete(503, "text/plain; charset=utf-8", "The audit trail cannot be read.\n");
            return;
        }
        WriteHtml(request, 503, parsed, Translate("The audit trail cannot be read."), {}, 0);
        return;
    }
    if (parsed.format == "json") {
        request.Complete(200, kJsonContentType, AuditJson(items, total));
        return;
    }
    if (parsed.format == "csv") {
        request.Complete(200, kCsvContentType, AuditCsv(items));
        request.AddHeader("Content-Disposition", "attachment; filename=\"audit.csv\"");
        return;
    }
    WriteHtml(request, valid ? 200 : 400, parsed, problem, items, total);
}

}  // namespace kel::console
