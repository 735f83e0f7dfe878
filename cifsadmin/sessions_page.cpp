// Sessions (/cifssessions): every session of the server with its details, its data outputs, and
// ending a session after a confirmation.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cifsadmin/calls.h"
#include "cifsadmin/methods.h"
#include "cifsadmin/model.h"
#include "cifsadmin/page.h"
#include "cifsadmin/results.h"
#include "cifsadmin/text.h"
#include "kel/host.h"
#include "kel2cifs/text_marker.h"

namespace kel2cifs::admin {
namespace {

struct SessionState {
    std::string filter;
    ListView view;
};

SessionState ReadState(const Fields &fields) {
    SessionState state;
    state.filter = FieldValue(fields, "filter");
    const std::string sort = FieldValue(fields, "sort", "connection");
    state.view = ReadListView(
        fields, std::string(kSessionColumnNames[static_cast<int>(SessionColumnNamed(sort))]));
    return state;
}

std::string StateQuery(const SessionState &state, bool withSort, bool withPage) {
    std::string query;
    if (!state.filter.empty()) {
        query += "filter=" + UrlComponent(state.filter) + "&";
    }
    AppendViewQuery(&query, state.view, withSort, withPage);
    return query;
}

std::string ListUrl(const SessionState &state) {
    return PageUrl(kSessionsKeyword, StateQuery(state, true, true));
}

std::string HiddenState(const SessionState &state) {
    return "<input type=\"hidden\" name=\"filter\" value=\"" + Html(state.filter) + "\">\n" +
           ViewHiddenFields(state.view);
}

const char *Title() {
    return Tr("Sessions");
}

std::string JsonItem(const SessionRow &row) {
    std::string out =
        "{\"connection\": " + std::to_string(row.connection) + ", \"user\": " + Json(row.user) +
        ", \"client\": " + Json(row.client) + ", \"machine\": " + Json(row.machine) +
        ", \"dialect\": " + Json(row.dialect) + ", \"signing\": " + Json(row.signing) +
        ", \"encryption\": " + Json(row.encryption) +
        ", \"openFiles\": " + std::to_string(row.openFiles) + ", \"connectedSince\": " +
        (row.connectedSince == 0 ? std::string("null") : Json(IsoTime(row.connectedSince))) +
        ", \"idleSeconds\": " +
        (row.idleSeconds == UINT64_MAX ? std::string("null") : std::to_string(row.idleSeconds)) +
        ", \"bytesIn\": " + std::to_string(row.bytesIn) +
        ", \"bytesOut\": " + std::to_string(row.bytesOut);
    if (row.node != CIFSMON_NO_NODE) {
        out += ", \"node\": " + std::to_string(row.node);
    }
    return out + "}";
}

// The window's rows; with `nodes`, a last column "node" (empty for a row without one).
std::string CsvList(const std::vector<SessionRow> &rows, const PageWindow &window, bool nodes) {
    std::string out =
        "connection,user,client,machine,dialect,signing,encryption,openFiles,connectedSince,"
        "idleSeconds,bytesIn,bytesOut";
    out += nodes ? ",node\r\n" : "\r\n";
    for (std::size_t i = window.first; i < window.end; ++i) {
        const SessionRow &row = rows[i];
        out += std::to_string(row.connection) + "," + CsvCell(row.user) + "," +
               CsvCell(row.client) + "," + CsvCell(row.machine) + "," + CsvCell(row.dialect) + "," +
               CsvCell(row.signing) + "," + CsvCell(row.encryption) + "," +
               std::to_string(row.openFiles) + "," + CsvCell(IsoTime(row.connectedSince)) + "," +
               (row.idleSeconds == UINT64_MAX ? std::string() : std::to_string(row.idleSeconds)) +
               "," + std::to_string(row.bytesIn) + "," + std::to_string(row.bytesOut);
        if (nodes) {
            out += "," + NodeText(row.node);
        }
        out += "\r\n";
    }
    return out;
}

struct Heading {
    const char *label;
    SessionColumn column;
};
// The columns of every table of sessions; the node's only where the list has nodes.
constexpr Heading kHeadings[] = {
    {TextToTranslate("Connection"), SessionColumn::kConnection},
    {TextToTranslate("User"), SessionColumn::kUser},
    {TextToTranslate("Client address"), SessionColumn::kClient},
    {TextToTranslate("Node"), SessionColumn::kNode},
    {TextToTranslate("Machine"), SessionColumn::kMachine},
    {TextToTranslate("Dialect"), SessionColumn::kDialect},
    {TextToTranslate("Signing"), SessionColumn::kSigning},
    {TextToTranslate("Encryption"), SessionColumn::kEncryption},
    {TextToTranslate("Open files"), SessionColumn::kOpenFiles},
    {TextToTranslate("Connected since"), SessionColumn::kConnectedSince},
    {TextToTranslate("Idle"), SessionColumn::kIdle},
    {TextToTranslate("Bytes in"), SessionColumn::kBytesIn},
    {TextToTranslate("Bytes out"), SessionColumn::kBytesOut},
};

std::string Known(const std::string &text) {
    return text.empty() ? Html(Tr("unknown")) : Html(text);
}

// A row's cells in the order of kHeadings, the node's with `nodes` only.
std::string Cells(const SessionRow &row, bool nodes) {
    return "<td>" + std::to_string(row.connection) + "</td><td>" + Html(row.user) + "</td><td>" +
           Html(row.client) + "</td>" +
           (nodes ? "<td>" + NodeText(row.node) + "</td>" : std::string()) + "<td>" +
           Html(row.machine) + "</td><td>" + Known(row.dialect) + "</td><td>" + Known(row.signing) +
           "</td><td>" + Known(row.encryption) + "</td><td>" + std::to_string(row.openFiles) +
           "</td><td>" + Html(PageTime(row.connectedSince)) + "</td><td>" +
           (row.idleSeconds == UINT64_MAX ? Html(Tr("unknown"))
                                          : Html(HumanDuration(row.idleSeconds))) +
           "</td><td>" + Html(HumanBytes(row.bytesIn, DecimalFormat())) + "</td><td>" +
           Html(HumanBytes(row.bytesOut, DecimalFormat())) + "</td>";
}

int ServeList(void *request, const Fields &query, Output output, const std::string &account) {
    SessionState state = ReadState(query);
    std::vector<SessionRow> rows;
    std::string notice;
    const int status = ListSessions(&rows, &notice);
    if (status != CIFSMON_STATUS_OK && output != Output::kHtml) {
        return SendJsonError(request, 502, FailureText(status));
    }
    // Decided by everything listed, so that the columns stay the same on every page and
    // whatever the filter lets through.
    const bool nodes = AnyNode(rows);
    rows = FilterSessions(std::move(rows), state.filter);
    SortSessions(rows, SessionColumnNamed(state.view.sort), state.view.ascending);
    const PageWindow window = ShowWindow(&state.view, rows.size());
    if (output != Output::kHtml) {
        const auto csv = [nodes](const std::vector<SessionRow> &shown, const PageWindow &at) {
            return CsvList(shown, at, nodes);
        };
        return SendListData(request, output, rows, window, state.view.size, JsonItem, csv, notice);
    }

    if (!BeginPage(request, Title(), state.view.refresh)) {
        return 500;
    }
    std::string out = QueryResultBanner(query, account);
    if (status != CIFSMON_STATUS_OK) {
        out += ListingFailure(Tr("The sessions could not be listed: %s"), status);
    }
    out += ListingNotice(notice);
    out += "<form method=\"get\" action=\"/" + std::string(kSessionsKeyword) +
           "\" class=\"adm-filters\" role=\"search\" aria-label=\"" + Html(Tr("Filter sessions")) +
           "\">\n<label for=\"adm-filter\">" + Html(Tr("User, client or machine")) +
           "<input id=\"adm-filter\" name=\"filter\" type=\"search\" value=\"" +
           Html(state.filter) + "\"></label>\n" + ViewFormControls(state.view) + "</form>\n";
    out += LastUpdated(state.view.refresh);

    const std::string sortBase =
        "/" + std::string(kSessionsKeyword) + "?" + StateQuery(state, false, false);
    const std::string pageBase =
        "/" + std::string(kSessionsKeyword) + "?" + StateQuery(state, true, false);
    char caption[256];
    if (rows.empty()) {
        std::snprintf(caption, sizeof caption, "%s", Tr("Sessions: none found"));
    } else {
        std::snprintf(caption, sizeof caption, Tr("Sessions: %zu found, rows %zu to %zu"),
                      rows.size(), window.first + 1, window.end);
    }
    out += OpenListTable(caption);
    for (const Heading &heading : kHeadings) {
        if (heading.column == SessionColumn::kNode && !nodes) {
            continue;
        }
        out += SortHeading(Tr(heading.label), kSessionColumnNames[static_cast<int>(heading.column)],
                           state.view.sort, state.view.ascending, sortBase);
    }
    out += "<th scope=\"col\">" + Html(Tr("Action")) + "</th>\n</tr></thead>\n<tbody>\n";
    int stripe = 0;
    for (std::size_t i = window.first; i < window.end; ++i) {
        const SessionRow &row = rows[i];
        char label[512];
        std::snprintf(label, sizeof label, Tr("End session %u of %s"), row.connection,
                      row.user.c_str());
        out += "<tr " + std::string((stripe++ % 2 == 0) ? pzSTRIPE_LIGHT : pzSTRIPE_DARK) + ">" +
               Cells(row, nodes) + "<td><form method=\"post\" action=\"/" + kSessionsKeyword +
               "\">" + HiddenState(state) + "<button type=\"submit\" name=\"end\" value=\"" +
               std::to_string(row.connection) + "\" aria-label=\"" + Html(label) + "\">" +
               Html(Tr("End")) + "</button></form></td></tr>\n";
    }
    out += "</tbody>\n</table>\n</div>\n";
    out += Pager(window.page, window.pages, pageBase);
    out += DataLinks("/" + std::string(kSessionsKeyword) + "?" + StateQuery(state, true, true));
    Write(request, out);
    return EndPage(request);
}

// The connection numbers of the form's end fields, each once.
std::vector<unsigned> ReadEnds(const Fields &form) {
    std::vector<unsigned> ends;
    for (const std::string &value : FieldValues(form, "end")) {
        if (value.empty() || value.size() > 5 ||
            value.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const unsigned number = static_cast<unsigned>(std::stoul(value));
        if (number <= 0xFFFF && std::find(ends.begin(), ends.end(), number) == ends.end()) {
            ends.push_back(number);
        }
    }
    return ends;
}

// The user of a session now, "" when it is not listed.
std::string UserOf(const std::vector<SessionRow> &rows, unsigned connection) {
    for (const SessionRow &row : rows) {
        if (row.connection == connection) {
            return row.user;
        }
    }
    return std::string();
}

ResultLine EndOne(void *request, unsigned connection, const std::string &user) {
    const Calls &calls = Use();
    int status = 0;
    std::string report;
    {
        const OwnAction own;
        status = calls.endSession(connection);
        report = LastReport();
    }
    ResultLine line;
    line.target = std::to_string(connection);
    line.user = user;
    std::string audit;
    if (status == CIFSMON_STATUS_OK) {
        line.kind = ResultLine::kEnded;
        line.reason = report;
        audit = report.empty() ? "ended" : "ended; " + report;
    } else {
        line.kind = ResultLine::kEndFailed;
        line.reason = report.empty() ? "status " + std::to_string(status) : report;
        audit = "failed: " + line.reason;
    }
    if (calls.auditTarget != nullptr) {
        const std::string target =
            "connection " + std::to_string(connection) + (user.empty() ? "" : " (" + user + ")");
        calls.auditTarget(request, "end session", target.c_str(), audit.c_str());
    }
    return line;
}

int ServeConfirmation(void *request, const SessionState &state, unsigned connection,
                      const std::vector<SessionRow> &rows) {
    if (!BeginPage(request, Title())) {
        return 500;
    }
    const auto found = std::find_if(rows.begin(), rows.end(), [&](const SessionRow &row) {
        return row.connection == connection;
    });
    std::string out;
    if (found == rows.end()) {
        char text[256];
        std::snprintf(text, sizeof text, Tr("Session %u is not listed any more."), connection);
        out += "<p class=\"adm-banner\" role=\"status\">" + Html(text) + "</p>\n<p><a href=\"" +
               Html(ListUrl(state)) + "\">" + Html(Tr("Back to the list")) + "</a></p>\n";
        Write(request, out);
        return EndPage(request);
    }
    char heading[512];
    std::snprintf(heading, sizeof heading, Tr("End session %u of %s?"), connection,
                  found->user.c_str());
    out += "<h2>" + Html(heading) + "</h2>\n<p>" +
           Html(Tr("The client is disconnected and every file it holds open closes.")) +
           "</p>\n<div class=\"adm-scroll\" role=\"region\" tabindex=\"0\" "
           "aria-labelledby=\"adm-end-caption\">\n<table class=\"adm-table\">\n<caption "
           "id=\"adm-end-caption\">" +
           Html(Tr("The session")) + "</caption>\n<thead><tr>\n";
    for (const Heading &h : kHeadings) {
        if (h.column != SessionColumn::kNode) {
            out += "<th scope=\"col\">" + Html(Tr(h.label)) + "</th>\n";
        }
    }
    out += "</tr></thead>\n<tbody>\n<tr " + std::string(pzSTRIPE_LIGHT) + ">" +
           Cells(*found, false) + "</tr>\n</tbody>\n</table>\n</div>\n";
    out += "<form method=\"post\" action=\"/" + std::string(kSessionsKeyword) + "\">\n" +
           HiddenState(state) + "<input type=\"hidden\" name=\"end\" value=\"" +
           std::to_string(connection) +
           "\">\n<div class=\"adm-actions\"><button type=\"submit\" name=\"step\" "
           "value=\"confirm\">" +
           Html(Tr("Confirm: end the session")) + "</button> <a href=\"" + Html(ListUrl(state)) +
           "\">" + Html(Tr("Cancel")) + "</a></div>\n</form>\n";
    Write(request, out);
    return EndPage(request);
}

}  // namespace

int SessionsMethod(void *request, int /*reserved1*/, int /*reserved2*/, unsigned int access) {
    if (Declines(access)) {
        return 0;
    }
    Posted posted;
    if (!ReadPosted(request, &posted)) {
        HttpSendErrorResponse(request, 400);
        return 400;
    }
    const Fields query = ParseForm(QueryOf(request));
    const Output output = OutputOf(query, posted.form);
    if (!MayView(access) || (posted.isPost && !MayChange(access))) {
        return SendForbidden(request, output);
    }
    if (!SessionsAvailable()) {
        return SendNotAvailable(request, output, Title());
    }
    const std::string account = AccountOf(request);
    if (!posted.isPost) {
        return ServeList(request, query, output, account);
    }
    if (FieldValues(posted.form, "end").size() > kMaxTargets) {
        return SendTooManyTargets(request, output, "end");
    }
    const SessionState state = ReadState(posted.form);
    const std::vector<unsigned> ends = ReadEnds(posted.form);
    std::vector<SessionRow> rows;
    ListSessions(&rows);
    if (output != Output::kHtml) {
        if (ends.empty()) {
            return SendJsonError(request, 400, "no end field with a connection number");
        }
        std::string out = "{\"results\": [";
        bool first = true;
        for (const unsigned connection : ends) {
            const ResultLine line = EndOne(request, connection, UserOf(rows, connection));
            out += std::string(first ? "\n" : ",\n") +
                   "{\"connection\": " + std::to_string(connection) +
                   ", \"user\": " + Json(line.user) + ", \"status\": " +
                   (line.kind == ResultLine::kEnded ? "\"ended\"" : "\"failed\"") +
                   ", \"report\": " + Json(line.reason) + "}";
            first = false;
        }
        out += "\n]}\n";
        return SendData(request, 200, "application/json", out);
    }
    if (ends.empty()) {
        return SendRedirect(request, ListUrl(state));
    }
    if (FieldValue(posted.form, "step") != "confirm") {
        return ServeConfirmation(request, state, ends.front(), rows);
    }
    ActionResult result;
    result.account = account;
    result.lines.push_back(EndOne(request, ends.front(), UserOf(rows, ends.front())));
    const std::string id = KeepResult(std::move(result));
    const std::string url = ListUrl(state);
    return SendRedirect(request,
                        url + (url.find('?') == std::string::npos ? "?" : "&") + "result=" + id);
}

}  // namespace kel2cifs::admin
