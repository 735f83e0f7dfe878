#include "cifsadmin/page.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <libintl.h>

#include "cifsadmin/calls.h"
#include "cifsadmin/methods.h"
#include "kel/host.h"
#include "kel2cifs/locations.h"
#include "kel2cifs/text_marker.h"

namespace {

constinit std::once_flag g_domainOnce;
constinit bool g_domainBound = false;

// The catalogue directory: the first plug-in's, below $KEL2CIFS_ROOT when that is set.
void BindDomain() {
    std::string directory;
    const char *root = std::getenv(kel2cifs_locations::kRootVariable);
    if (root != nullptr) {
        directory = root;
        while (!directory.empty() && directory.back() == '/') {
            directory.pop_back();
        }
    }
    directory += kel2cifs_locations::kLocaleDirectory;
    if (bindtextdomain(kel2cifs::admin::kTextDomain, directory.c_str()) != nullptr) {
        bind_textdomain_codeset(kel2cifs::admin::kTextDomain, "UTF-8");
        g_domainBound = true;
    }
}

// The refresh interval of the page being written on this thread (for its head).
constinit thread_local long t_refreshSeconds = 0;

constexpr char kStyle[] =
    "<style>\n"
    ".adm-filters{display:flex;flex-wrap:wrap;gap:.5rem 1rem;align-items:flex-end;"
    "margin:.5rem 0}\n"
    ".adm-filters label{display:flex;flex-direction:column;font-size:.9rem}\n"
    ".adm-filters input,.adm-filters select{max-width:100%}\n"
    ".adm-scroll{overflow-x:auto;max-width:100%;margin:.5rem 0}\n"
    ".adm-table{border-collapse:collapse;min-width:100%}\n"
    ".adm-table caption{text-align:left;font-weight:bold;padding:.25rem 0}\n"
    ".adm-table th,.adm-table td{padding:.25rem .5rem;text-align:left;vertical-align:top;"
    "white-space:nowrap}\n"
    ".adm-table td.adm-path{white-space:normal;overflow-wrap:anywhere;min-width:12rem}\n"
    ".adm-banner{border:1px solid #888;padding:.5rem;margin:.5rem 0}\n"
    ".adm-banner ul{margin:0;padding-left:1.25rem}\n"
    ".adm-failed{font-weight:bold}\n"
    ".adm-sr{position:absolute;width:1px;height:1px;overflow:hidden;clip:rect(0 0 0 0);"
    "white-space:nowrap}\n"
    ".adm-actions{display:flex;flex-wrap:wrap;gap:.5rem;margin:.5rem 0}\n"
    "@media (max-width:600px){.adm-filters{flex-direction:column;align-items:stretch}}\n"
    "</style>\n";

// Reloads the list after the chosen interval with the same query and the rows checked now.
constexpr char kScript[] =
    "<script>\n"
    "document.addEventListener('DOMContentLoaded',function(){\n"
    "var s=document.getElementById('adm-refresh-state');\n"
    "if(!s)return;\n"
    "var n=parseInt(s.getAttribute('data-seconds'),10);\n"
    "if(!(n>0))return;\n"
    "setTimeout(function(){\n"
    "var u=new URL(window.location.href);\n"
    "u.searchParams.delete('sel');u.searchParams.delete('result');\n"
    "var b=document.querySelectorAll('input[name=\"close\"]:checked');\n"
    "for(var i=0;i<b.length;i++)u.searchParams.append('sel',b[i].value);\n"
    "window.location.replace(u.toString());\n"
    "},n*1000);\n"
    "});\n"
    "</script>\n";

int WriteHead(void *request) {
    HttpSendDataSprintf(request, "%s%s", kStyle, kScript);
    if (t_refreshSeconds > 0) {
        HttpSendDataSprintf(request,
                            "<noscript><meta http-equiv=\"refresh\" content=\"%ld\"></noscript>\n",
                            t_refreshSeconds);
    }
    return 0;
}

}  // namespace

const char *Tr(const char *text) {
    if (text == nullptr) {
        return "";
    }
    if (text[0] == '\0') {
        return text;
    }
    std::call_once(g_domainOnce, BindDomain);
    return g_domainBound ? dgettext(kel2cifs::admin::kTextDomain, text) : text;
}

const char *TrN(const char *singular, const char *plural, unsigned long count) {
    std::call_once(g_domainOnce, BindDomain);
    if (g_domainBound) {
        return dngettext(kel2cifs::admin::kTextDomain, singular, plural, count);
    }
    return count == 1 ? singular : plural;
}

namespace kel2cifs::admin {

Output OutputOf(const Fields &query, const Fields &form) {
    std::string format = FieldValue(query, "format");
    if (format.empty()) {
        format = FieldValue(form, "format");
    }
    if (format == "json") {
        return Output::kJson;
    }
    if (format == "csv") {
        return Output::kCsv;
    }
    return Output::kHtml;
}

bool ReadPosted(void *request, Posted *posted) {
    int method = KEL_METHOD_GET;
    if (HttpReturnRequestMethod(request, &method) == 0) {
        return false;
    }
    posted->isPost = method == KEL_METHOD_POST;
    if (posted->isPost) {
        char *data = nullptr;
        unsigned long length = 0;
        if (HttpReturnPostDataBuffer(request, &data, &length) == 0 && data != nullptr) {
            posted->form = ParseForm(std::string_view(data, length));
        }
    }
    return true;
}

void Write(void *request, std::string_view text) {
    // Written in pieces: the host formats each call into a buffer of its own.
    constexpr std::size_t kPiece = 1 << 16;
    while (!text.empty()) {
        const std::size_t length = std::min(text.size(), kPiece);
        HttpSendDataSprintf(request, "%.*s", static_cast<int>(length), text.data());
        text.remove_prefix(length);
    }
}

int SendData(void *request, int status, const char *contentType, std::string_view body) {
    const std::string header =
        std::string("Content-Type: ") + contentType + "\r\nCache-Control: no-store\r\n";
    if (HttpOpenResponseHeaderTag(request, status) != 0) {
        return 500;
    }
    HttpAddResponseHeaderTags(request, header.c_str(), static_cast<int>(header.size()));
    HttpSendResponseHeader(request);
    Write(request, body);
    HttpEndDataResponse(request);
    return status;
}

int SendJsonError(void *request, int status, std::string_view text) {
    return SendData(request, status, "application/json", "{\"error\": " + Json(text) + "}\n");
}

int SendRedirect(void *request, const std::string &location) {
    const std::string header = "Location: " + location + "\r\n";
    if (HttpOpenResponseHeaderTag(request, 303) != 0) {
        return 500;
    }
    HttpAddResponseHeaderTags(request, header.c_str(), static_cast<int>(header.size()));
    HttpSendResponseHeader(request);
    HttpEndDataResponse(request);
    return 303;
}

int SendForbidden(void *request, Output output) {
    if (output == Output::kHtml) {
        HttpSendErrorResponse(request, 403);
        return 403;
    }
    return SendJsonError(request, 403, "this account may not do that");
}

int SendTooManyTargets(void *request, Output output, const char *field) {
    if (output == Output::kHtml) {
        HttpSendErrorResponse(request, 400);
        return 400;
    }
    return SendJsonError(request, 400,
                         "at most " + std::to_string(kMaxTargets) + " " + field + " fields");
}

bool BeginPage(void *request, const char *title, long refreshSeconds) {
    if (HttpSendSuccessfulResponse(request, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)) != 0) {
        HttpSendErrorResponse(request, 500);
        return false;
    }
    t_refreshSeconds = refreshSeconds;
    BuildAndSendHeader(request, title, title, 0, 0, KEL_HEADER_OPTION_SCRIPT, WriteHead, nullptr,
                       nullptr);
    t_refreshSeconds = 0;
    HttpSendDataSprintf(request, "<main id=\"adm-main\">\n");
    return true;
}

bool BeginPage(void *request, const char *title) {
    return BeginPage(request, title, 0);
}

int EndPage(void *request) {
    HttpSendDataSprintf(request, "</main>\n</body>\n</html>\n");
    HttpEndDataResponse(request);
    return 200;
}

int SendNotAvailable(void *request, Output output, const char *title) {
    if (output != Output::kHtml) {
        return SendJsonError(request, 501, "not available with the installed libraries");
    }
    if (!BeginPage(request, title)) {
        return 500;
    }
    Write(request, "<p class=\"adm-banner\" role=\"status\">" +
                       Html(Tr("This feature is not available: the console or the monitoring "
                               "library installed does not offer it.")) +
                       "</p>\n");
    return EndPage(request);
}

std::string SortHeading(const char *label, std::string_view key, std::string_view currentKey,
                        bool ascending, const std::string &hrefBase) {
    const bool sorted = key == currentKey;
    const bool nextAscending = sorted ? !ascending : true;
    std::string out = "<th scope=\"col\"";
    if (sorted) {
        out += ascending ? " aria-sort=\"ascending\"" : " aria-sort=\"descending\"";
    }
    out += "><a href=\"" +
           Html(hrefBase + "sort=" + UrlComponent(key) +
                (nextAscending ? "&order=asc" : "&order=desc")) +
           "\">" + Html(label);
    if (sorted) {
        out += ascending ? "<span aria-hidden=\"true\"> \xE2\x96\xB2</span>"
                         : "<span aria-hidden=\"true\"> \xE2\x96\xBC</span>";
    }
    out += "</a></th>\n";
    return out;
}

std::string Pager(std::size_t page, std::size_t pages, const std::string &hrefBase) {
    std::string out = "<nav class=\"adm-pager\" aria-label=\"" + Html(Tr("Pages")) + "\"><p>";
    if (page > 1) {
        out += "<a href=\"" + Html(hrefBase + "page=" + std::to_string(page - 1)) +
               "\" rel=\"prev\">" + Html(Tr("Previous page")) + "</a> ";
    }
    char text[128];
    std::snprintf(text, sizeof text, Tr("Page %zu of %zu"), page, pages);
    out += "<span aria-current=\"page\">" + Html(text) + "</span>";
    if (page < pages) {
        out += " <a href=\"" + Html(hrefBase + "page=" + std::to_string(page + 1)) +
               "\" rel=\"next\">" + Html(Tr("Next page")) + "</a>";
    }
    out += "</p></nav>\n";
    return out;
}

std::string RefreshSelect(long seconds) {
    struct Choice {
        long seconds;
        const char *label;
    };
    static constexpr Choice kChoices[] = {{0, TextToTranslate("Off")},
                                          {10, TextToTranslate("Every 10 seconds")},
                                          {30, TextToTranslate("Every 30 seconds")},
                                          {60, TextToTranslate("Every 60 seconds")}};
    std::string out = "<label for=\"adm-refresh\">" + Html(Tr("Auto-refresh")) +
                      "<select id=\"adm-refresh\" name=\"refresh\">";
    for (const Choice &choice : kChoices) {
        out += "<option value=\"" + std::to_string(choice.seconds) + "\"" +
               (choice.seconds == seconds ? " selected" : "") + ">" + Html(Tr(choice.label)) +
               "</option>";
    }
    out += "</select></label>\n";
    return out;
}

std::string LastUpdated(long refreshSeconds) {
    char text[128];
    std::snprintf(text, sizeof text, Tr("Last updated %s UTC"),
                  ClockTime(Use().now(nullptr)).c_str());
    return "<p class=\"adm-updated\" id=\"adm-refresh-state\" data-seconds=\"" +
           std::to_string(refreshSeconds) + "\">" + Html(text) + "</p>\n";
}

std::string ResultBanner(const ActionResult &result) {
    std::string out = "<div class=\"adm-banner\" role=\"status\">\n<ul>\n";
    char text[4096];
    for (const ResultLine &line : result.lines) {
        const char *cls = "";
        switch (line.kind) {
            case ResultLine::kClosed:
                std::snprintf(text, sizeof text, Tr("Closed: %s"), line.target.c_str());
                break;
            case ResultLine::kFailed:
                std::snprintf(text, sizeof text, Tr("Not closed: %s (%s)"), line.target.c_str(),
                              line.reason.c_str());
                cls = " class=\"adm-failed\"";
                break;
            case ResultLine::kAlong:
                std::snprintf(text, sizeof text, Tr("Closed along with %s: %s"),
                              line.target.c_str(), line.reason.c_str());
                break;
            case ResultLine::kEnded:
                std::snprintf(text, sizeof text, Tr("Session %s of %s ended"), line.target.c_str(),
                              line.user.c_str());
                if (!line.reason.empty()) {
                    const std::size_t used = std::strlen(text);
                    std::snprintf(text + used, sizeof text - used, " (%s)", line.reason.c_str());
                }
                break;
            case ResultLine::kEndFailed:
                std::snprintf(text, sizeof text, Tr("Session %s of %s not ended: %s"),
                              line.target.c_str(), line.user.c_str(), line.reason.c_str());
                cls = " class=\"adm-failed\"";
                break;
        }
        out += "<li" + std::string(cls) + ">" + Html(text) + "</li>\n";
    }
    out += "</ul>\n</div>\n";
    return out;
}

const char *DecimalFormat() {
    return Tr("%s.%s %s");
}

ListView ReadListView(const Fields &fields, std::string sort) {
    ListView view;
    view.sort = std::move(sort);
    view.ascending = FieldValue(fields, "order") != "desc";
    view.page = FieldNumber(fields, "page", 1, 1, 1000000);
    view.size = FieldNumber(fields, "size", kDefaultPageSize, 1, kMaxPageSize);
    const long refresh = FieldNumber(fields, "refresh", 0, 0, 60);
    view.refresh = refresh == 10 || refresh == 30 || refresh == 60 ? refresh : 0;
    return view;
}

void AppendViewQuery(std::string *query, const ListView &view, bool withSort, bool withPage) {
    if (view.size != kDefaultPageSize) {
        *query += "size=" + std::to_string(view.size) + "&";
    }
    if (view.refresh != 0) {
        *query += "refresh=" + std::to_string(view.refresh) + "&";
    }
    if (withSort) {
        *query +=
            "sort=" + UrlComponent(view.sort) + "&order=" + (view.ascending ? "asc" : "desc") + "&";
    }
    if (withPage && view.page != 1) {
        *query += "page=" + std::to_string(view.page) + "&";
    }
}

std::string ViewHiddenFields(const ListView &view) {
    std::string out;
    const auto hidden = [&](const char *name, const std::string &value) {
        out += "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" + Html(value) +
               "\">\n";
    };
    hidden("sort", view.sort);
    hidden("order", view.ascending ? "asc" : "desc");
    hidden("page", std::to_string(view.page));
    hidden("size", std::to_string(view.size));
    hidden("refresh", std::to_string(view.refresh));
    return out;
}

std::string ViewFormControls(const ListView &view) {
    return "<label for=\"adm-size\">" + Html(Tr("Rows per page")) +
           "<input id=\"adm-size\" name=\"size\" type=\"number\" min=\"1\" max=\"" +
           std::to_string(kMaxPageSize) + "\" value=\"" + std::to_string(view.size) +
           "\"></label>\n" + RefreshSelect(view.refresh) +
           "<input type=\"hidden\" name=\"sort\" value=\"" + Html(view.sort) + "\">\n" +
           "<input type=\"hidden\" name=\"order\" value=\"" + (view.ascending ? "asc" : "desc") +
           "\">\n<button type=\"submit\">" + Html(Tr("Apply")) + "</button>\n";
}

std::string PageUrl(std::string_view keyword, std::string query) {
    if (!query.empty() && query.back() == '&') {
        query.pop_back();
    }
    return "/" + std::string(keyword) + (query.empty() ? "" : "?" + query);
}

std::string FailureText(int status) {
    const std::string report = LastReport();
    return report.empty() ? "status " + std::to_string(status) : report;
}

std::string ListingFailure(const char *format, int status) {
    char text[2048];
    std::snprintf(text, sizeof text, format, FailureText(status).c_str());
    return "<p class=\"adm-banner adm-failed\" role=\"status\">" + Html(text) + "</p>\n";
}

std::string ListingNotice(const std::string &notice) {
    if (notice.empty()) {
        return std::string();
    }
    return "<p class=\"adm-banner\" role=\"status\">" + Html(notice) + "</p>\n";
}

std::string OpenListTable(const char *caption) {
    return "<div class=\"adm-scroll\" role=\"region\" tabindex=\"0\" "
           "aria-labelledby=\"adm-caption\">\n<table class=\"adm-table\">\n<caption "
           "id=\"adm-caption\">" +
           Html(caption) + "</caption>\n<thead><tr>\n";
}

std::string DataLinks(const std::string &hrefBase) {
    return "<p class=\"adm-data\">" + Html(Tr("This page as data:")) + " <a href=\"" +
           Html(hrefBase + "format=json") + "\">JSON</a> <a href=\"" +
           Html(hrefBase + "format=csv") + "\">CSV</a></p>\n";
}

PageWindow ShowWindow(ListView *view, std::size_t total) {
    const PageWindow window =
        WindowOf(total, static_cast<std::size_t>(view->page), static_cast<std::size_t>(view->size));
    view->page = static_cast<long>(window.page);
    return window;
}

std::string QueryResultBanner(const Fields &query, const std::string &account) {
    const std::string id = FieldValue(query, "result");
    if (!id.empty()) {
        if (const auto result = FindResult(id, account)) {
            return ResultBanner(*result);
        }
    }
    return std::string();
}

}  // namespace kel2cifs::admin
