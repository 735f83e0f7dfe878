// Find Open Files (/cifsfind): one search over the open files of every volume, its data
// outputs, and closing selected files through a preview.
#include <algorithm>
#include <cinttypes>
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

// What the list shows: its filters, view and checked rows.
struct FindState {
    FileFilter filter;
    ListView view;
    std::vector<std::string> selected;  // selection keys (MakeRef)
};

FindState ReadState(const Fields &fields) {
    FindState state;
    state.filter.name = FieldValue(fields, "q");
    state.filter.user = FieldValue(fields, "user");
    state.filter.client = FieldValue(fields, "client");
    state.filter.volume = FieldValue(fields, "volume");
    const std::string sort = FieldValue(fields, "sort", "path");
    state.view = ReadListView(
        fields, std::string(kFileColumnNames[static_cast<int>(FileColumnNamed(sort))]));
    state.selected = FieldValues(fields, "sel");
    return state;
}

// The state as query fields, each "name=value&": filters always, sort and page when asked.
std::string StateQuery(const FindState &state, bool withSort, bool withPage) {
    std::string query;
    const auto add = [&](const char *name, const std::string &value) {
        if (!value.empty()) {
            query += std::string(name) + "=" + UrlComponent(value) + "&";
        }
    };
    add("q", state.filter.name);
    add("user", state.filter.user);
    add("client", state.filter.client);
    add("volume", state.filter.volume);
    AppendViewQuery(&query, state.view, withSort, withPage);
    return query;
}

std::string ListUrl(const FindState &state) {
    return PageUrl(kFindKeyword, StateQuery(state, true, true));
}

// The list's state as hidden fields of a form.
std::string HiddenState(const FindState &state) {
    std::string out;
    const auto hidden = [&](const char *name, const std::string &value) {
        out += "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" + Html(value) +
               "\">\n";
    };
    hidden("q", state.filter.name);
    hidden("user", state.filter.user);
    hidden("client", state.filter.client);
    hidden("volume", state.filter.volume);
    return out + ViewHiddenFields(state.view);
}

const char *Title() {
    return Tr("Find Open Files");
}

std::string Target(unsigned connection, const std::string &path) {
    return "connection " + std::to_string(connection) + ": " + path;
}

// --- Data outputs ----------------------------------------------------------------------------

std::string JsonItem(const OpenFileRow &row) {
    std::string out = "{\"volume\": " + Json(row.volume) + ", \"path\": " + Json(row.path) +
                      ", \"connection\": " + std::to_string(row.connection) +
                      ", \"user\": " + Json(row.user) + ", \"client\": " + Json(row.client) +
                      ", \"openedAt\": " +
                      (row.openedAt == 0 ? std::string("null") : Json(IsoTime(row.openedAt))) +
                      ", \"access\": " + Json(AccessText(row.access)) +
                      ", \"shareMode\": " + Json("deny " + DenyText(row.shareMode)) +
                      ", \"oplock\": " + Json(row.oplock);
    if (row.node != CIFSMON_NO_NODE) {
        out += ", \"node\": " + std::to_string(row.node);
    }
    return out + "}";
}

// The window's rows; with `nodes`, a last column "node" (empty for a row without one).
std::string CsvList(const std::vector<OpenFileRow> &rows, const PageWindow &window, bool nodes) {
    std::string out = "volume,path,connection,user,client,openedAt,access,shareMode,oplock";
    out += nodes ? ",node\r\n" : "\r\n";
    for (std::size_t i = window.first; i < window.end; ++i) {
        const OpenFileRow &row = rows[i];
        out += CsvCell(row.volume) + "," + CsvCell(row.path) + "," +
               std::to_string(row.connection) + "," + CsvCell(row.user) + "," +
               CsvCell(row.client) + "," + CsvCell(IsoTime(row.openedAt)) + "," +
               CsvCell(AccessText(row.access)) + "," + CsvCell("deny " + DenyText(row.shareMode)) +
               "," + CsvCell(row.oplock);
        if (nodes) {
            out += "," + NodeText(row.node);
        }
        out += "\r\n";
    }
    return out;
}

// --- The list ----------------------------------------------------------------------------------

struct Heading {
    const char *label;
    FileColumn column;
};
// The columns of every table of open files; the node's only where the list has nodes.
constexpr Heading kHeadings[] = {
    {TextToTranslate("Volume"), FileColumn::kVolume},
    {TextToTranslate("Path"), FileColumn::kPath},
    {TextToTranslate("Connection"), FileColumn::kConnection},
    {TextToTranslate("User"), FileColumn::kUser},
    {TextToTranslate("Client address"), FileColumn::kClient},
    {TextToTranslate("Node"), FileColumn::kNode},
    {TextToTranslate("Opened at"), FileColumn::kOpenedAt},
    {TextToTranslate("Access"), FileColumn::kAccess},
    {TextToTranslate("Denied to others"), FileColumn::kShareMode},
    {TextToTranslate("Oplock or lease"), FileColumn::kOplock},
};

// The words of AccessText and DenyText in the request's language.
std::string Localised(const std::string &words) {
    static constexpr const char *kWords[] = {TextToTranslate("read"), TextToTranslate("write"),
                                             TextToTranslate("delete"), TextToTranslate("none")};
    std::string out;
    std::size_t at = 0;
    while (at <= words.size()) {
        const std::size_t slash = std::min(words.find('/', at), words.size());
        const std::string word = words.substr(at, slash - at);
        const char *shown = word.c_str();
        for (const char *known : kWords) {
            if (word == known) {
                shown = Tr(known);
            }
        }
        out += (at == 0 ? "" : "/") + std::string(shown);
        at = slash + 1;
    }
    return out;
}

// A row's cells in the order of kHeadings, the node's with `nodes` only.
std::string Cells(const OpenFileRow &row, bool nodes) {
    return "<td>" + Html(row.volume) + "</td><td class=\"adm-path\">" + Html(row.path) +
           "</td><td>" + std::to_string(row.connection) + "</td><td>" + Html(row.user) +
           "</td><td>" + Html(row.client) + "</td>" +
           (nodes ? "<td>" + NodeText(row.node) + "</td>" : std::string()) + "<td>" +
           Html(PageTime(row.openedAt)) + "</td><td>" + Html(Localised(AccessText(row.access))) +
           "</td><td>" + Html(Localised(DenyText(row.shareMode))) + "</td><td>" + Html(row.oplock) +
           "</td>";
}

std::string FilterForm(const FindState &state) {
    std::string out = "<form method=\"get\" action=\"/" + std::string(kFindKeyword) +
                      "\" class=\"adm-filters\" role=\"search\" aria-label=\"" +
                      Html(Tr("Search open files")) + "\">\n";
    const auto field = [&](const char *id, const char *name, const char *label,
                           const std::string &value) {
        out += "<label for=\"" + std::string(id) + "\">" + Html(label) + "<input id=\"" + id +
               "\" name=\"" + name + "\" type=\"search\" value=\"" + Html(value) + "\"></label>\n";
    };
    field("adm-q", "q", Tr("File name (text or pattern with * ? [ ])"), state.filter.name);
    field("adm-user", "user", Tr("User"), state.filter.user);
    field("adm-client", "client", Tr("Client address"), state.filter.client);
    field("adm-volume", "volume", Tr("Volume"), state.filter.volume);
    out += ViewFormControls(state.view) + "</form>\n";
    return out;
}

int ServeList(void *request, const Fields &query, Output output, const std::string &account) {
    FindState state = ReadState(query);
    std::vector<OpenFileRow> rows;
    std::string notice;
    const int status = ListOpenFiles(&rows, &notice);
    if (status != CIFSMON_STATUS_OK && output != Output::kHtml) {
        return SendJsonError(request, 502, FailureText(status));
    }
    // Decided by everything listed, so that the columns stay the same on every page and
    // whatever the filter lets through.
    const bool nodes = AnyNode(rows);
    rows = FilterOpenFiles(std::move(rows), state.filter);
    SortOpenFiles(rows, FileColumnNamed(state.view.sort), state.view.ascending);
    const PageWindow window = ShowWindow(&state.view, rows.size());
    if (output != Output::kHtml) {
        const auto csv = [nodes](const std::vector<OpenFileRow> &shown, const PageWindow &at) {
            return CsvList(shown, at, nodes);
        };
        return SendListData(request, output, rows, window, state.view.size, JsonItem, csv, notice);
    }

    if (!BeginPage(request, Title(), state.view.refresh)) {
        return 500;
    }
    std::string out = QueryResultBanner(query, account);
    if (status != CIFSMON_STATUS_OK) {
        out += ListingFailure(Tr("The open files could not be listed: %s"), status);
    }
    out += ListingNotice(notice);
    out += FilterForm(state);
    out += LastUpdated(state.view.refresh);

    const std::string sortBase =
        "/" + std::string(kFindKeyword) + "?" + StateQuery(state, false, false);
    const std::string pageBase =
        "/" + std::string(kFindKeyword) + "?" + StateQuery(state, true, false);
    out += "<form method=\"post\" action=\"/" + std::string(kFindKeyword) + "\">\n";
    out += HiddenState(state);
    char caption[256];
    if (rows.empty()) {
        std::snprintf(caption, sizeof caption, "%s", Tr("Open files: none found"));
    } else {
        std::snprintf(caption, sizeof caption, Tr("Open files: %zu found, rows %zu to %zu"),
                      rows.size(), window.first + 1, window.end);
    }
    out += OpenListTable(caption) + "<th scope=\"col\"><span class=\"adm-sr\">" +
           Html(Tr("Select")) + "</span></th>\n";
    for (const Heading &heading : kHeadings) {
        if (heading.column == FileColumn::kNode && !nodes) {
            continue;
        }
        out += SortHeading(Tr(heading.label), kFileColumnNames[static_cast<int>(heading.column)],
                           state.view.sort, state.view.ascending, sortBase);
    }
    out += "</tr></thead>\n<tbody>\n";
    int stripe = 0;
    for (std::size_t i = window.first; i < window.end; ++i) {
        const OpenFileRow &row = rows[i];
        const std::string ref = MakeRef(row.connection, row.path);
        const bool checked =
            std::find(state.selected.begin(), state.selected.end(), ref) != state.selected.end();
        char label[64];
        std::snprintf(label, sizeof label, Tr("Select row %zu"), i + 1);
        out += "<tr " + std::string((stripe++ % 2 == 0) ? pzSTRIPE_LIGHT : pzSTRIPE_DARK) +
               "><td><input type=\"checkbox\" id=\"adm-c" + std::to_string(i + 1) +
               "\" name=\"close\" value=\"" + Html(ref) + "\"" + (checked ? " checked" : "") +
               "><label class=\"adm-sr\" for=\"adm-c" + std::to_string(i + 1) + "\">" +
               Html(label) + ": " + Html(row.path) + "</label></td>" + Cells(row, nodes) +
               "</tr>\n";
    }
    out += "</tbody>\n</table>\n</div>\n";
    if (!rows.empty()) {
        out +=
            "<div class=\"adm-actions\"><button type=\"submit\" name=\"step\" "
            "value=\"preview\">" +
            Html(Tr("Close selected files")) + "</button></div>\n";
    }
    out += "</form>\n";
    out += Pager(window.page, window.pages, pageBase);
    out += DataLinks("/" + std::string(kFindKeyword) + "?" + StateQuery(state, true, true));
    Write(request, out);
    return EndPage(request);
}

// --- Closing -----------------------------------------------------------------------------------

struct Ref {
    unsigned connection = 0;
    std::string path;
};

std::vector<Ref> ReadRefs(const Fields &form) {
    std::vector<Ref> refs;
    for (const std::string &value : FieldValues(form, "close")) {
        Ref ref;
        if (ParseRef(value, &ref.connection, &ref.path) &&
            std::none_of(refs.begin(), refs.end(), [&](const Ref &r) {
                return r.connection == ref.connection && r.path == ref.path;
            })) {
            refs.push_back(std::move(ref));
        }
    }
    return refs;
}

// Closes each target, recording it in the audit trail; the lines of the banner.
std::vector<ResultLine> CloseTargets(void *request, const std::vector<Ref> &refs) {
    const Calls &calls = Use();
    std::vector<ResultLine> lines;
    for (const Ref &ref : refs) {
        int status = 0;
        std::string report;
        {
            const OwnAction own;
            status = calls.closeOpenFile(ref.connection, ref.path.c_str());
            report = LastReport();
        }
        const std::string target = Target(ref.connection, ref.path);
        std::string audit;
        if (status == CIFSMON_STATUS_OK) {
            lines.push_back({ResultLine::kClosed, target, "", ""});
            if (!report.empty()) {
                lines.push_back({ResultLine::kAlong, target, "", report});
            }
            audit = report.empty() ? "closed" : "closed; " + report;
        } else {
            const std::string why = report.empty() ? "status " + std::to_string(status) : report;
            lines.push_back({ResultLine::kFailed, target, "", why});
            audit = "failed: " + why;
        }
        if (calls.auditTarget != nullptr) {
            calls.auditTarget(request, "close file", target.c_str(), audit.c_str());
        }
    }
    return lines;
}

int ServeJsonClose(void *request, const Fields &form) {
    const std::vector<Ref> refs = ReadRefs(form);
    if (refs.empty()) {
        return SendJsonError(request, 400, "no close field of the form connection:path");
    }
    const std::vector<ResultLine> lines = CloseTargets(request, refs);
    std::string out = "{\"results\": [";
    std::size_t at = 0;
    for (const Ref &ref : refs) {
        const ResultLine &line = lines[at];
        const bool along = line.kind == ResultLine::kClosed && at + 1 < lines.size() &&
                           lines[at + 1].kind == ResultLine::kAlong;
        out += std::string(at == 0 ? "\n" : ",\n") +
               "{\"connection\": " + std::to_string(ref.connection) +
               ", \"path\": " + Json(ref.path) +
               ", \"status\": " + (line.kind == ResultLine::kClosed ? "\"closed\"" : "\"failed\"") +
               ", \"report\": " + Json(along ? lines[at + 1].reason : line.reason) + "}";
        at += along ? 2 : 1;
    }
    out += "\n]}\n";
    return SendData(request, 200, "application/json", out);
}

int ServePreview(void *request, const FindState &state, const std::vector<Ref> &refs) {
    const Calls &calls = Use();
    std::vector<CifsOpenRef> targets;
    targets.reserve(refs.size());
    for (const Ref &ref : refs) {
        targets.push_back(CifsOpenRef{static_cast<uint16_t>(ref.connection), ref.path.c_str()});
    }
    CifsOpenFile *list = nullptr;
    std::size_t count = 0;
    const int status = calls.planClose(targets.data(), targets.size(), &list, &count);
    std::vector<OpenFileRow> plan;
    if (list != nullptr) {
        if (status == CIFSMON_STATUS_OK) {
            plan = CopyOpenFiles(list, count);
        }
        calls.freeOpenFiles(&list);
    }
    FindState back = state;
    for (const Ref &ref : refs) {
        back.selected.push_back(MakeRef(ref.connection, ref.path));
    }
    std::string cancel = ListUrl(state);
    for (const std::string &selected : back.selected) {
        cancel +=
            (cancel.find('?') == std::string::npos ? "?sel=" : "&sel=") + UrlComponent(selected);
    }

    if (!BeginPage(request, Title())) {
        return 500;
    }
    std::string out = "<h2>" + Html(Tr("Close these files?")) + "</h2>\n";
    if (status != CIFSMON_STATUS_OK) {
        char text[2048];
        std::snprintf(text, sizeof text, Tr("What the close would take could not be found: %s"),
                      FailureText(status).c_str());
        out += "<p class=\"adm-banner adm-failed\" role=\"status\">" + Html(text) + "</p>\n";
        out += "<p><a href=\"" + Html(cancel) + "\">" + Html(Tr("Back to the list")) + "</a></p>\n";
        Write(request, out);
        return EndPage(request);
    }
    const auto isTarget = [&](const OpenFileRow &row) {
        return std::any_of(refs.begin(), refs.end(), [&](const Ref &ref) {
            return ref.connection == row.connection && ref.path == row.path;
        });
    };
    std::size_t along = 0;
    for (const OpenFileRow &row : plan) {
        along += isTarget(row) ? 0 : 1;
    }
    if (along > 0) {
        out += "<p class=\"adm-banner\" role=\"status\">" +
               Html(Tr("This server can only close these files together with others: the files "
                       "marked as taken along close too.")) +
               "</p>\n";
    }
    out +=
        "<div class=\"adm-scroll\" role=\"region\" tabindex=\"0\" "
        "aria-labelledby=\"adm-plan-caption\">\n<table class=\"adm-table\">\n<caption "
        "id=\"adm-plan-caption\">" +
        Html(Tr("Files the close takes")) + "</caption>\n<thead><tr>\n";
    for (const Heading &heading : kHeadings) {
        if (heading.column != FileColumn::kNode) {
            out += "<th scope=\"col\">" + Html(Tr(heading.label)) + "</th>\n";
        }
    }
    out += "<th scope=\"col\">" + Html(Tr("Why")) + "</th>\n</tr></thead>\n<tbody>\n";
    int stripe = 0;
    for (const OpenFileRow &row : plan) {
        out += "<tr " + std::string((stripe++ % 2 == 0) ? pzSTRIPE_LIGHT : pzSTRIPE_DARK) + ">" +
               Cells(row, false) + "<td>" +
               (isTarget(row) ? Html(Tr("selected"))
                              : "<strong>" + Html(Tr("taken along")) + "</strong>") +
               "</td></tr>\n";
    }
    out += "</tbody>\n</table>\n</div>\n";
    std::vector<const Ref *> gone;
    for (const Ref &ref : refs) {
        if (std::none_of(plan.begin(), plan.end(), [&](const OpenFileRow &row) {
                return ref.connection == row.connection && ref.path == row.path;
            })) {
            gone.push_back(&ref);
        }
    }
    if (!gone.empty()) {
        out += "<p>" + Html(Tr("No longer open, nothing to close:")) + "</p>\n<ul>\n";
        for (const Ref *ref : gone) {
            out += "<li>" + Html(Target(ref->connection, ref->path)) + "</li>\n";
        }
        out += "</ul>\n";
    }
    out += "<form method=\"post\" action=\"/" + std::string(kFindKeyword) + "\">\n" +
           HiddenState(state);
    std::size_t closing = 0;
    for (const OpenFileRow &row : plan) {
        if (isTarget(row)) {
            out += "<input type=\"hidden\" name=\"close\" value=\"" +
                   Html(MakeRef(row.connection, row.path)) + "\">\n";
            ++closing;
        }
    }
    out += "<div class=\"adm-actions\">";
    if (closing > 0) {
        char label[128];
        std::snprintf(label, sizeof label,
                      TrN("Confirm: close %zu file", "Confirm: close %zu files", plan.size()),
                      plan.size());
        out +=
            "<button type=\"submit\" name=\"step\" value=\"confirm\">" + Html(label) + "</button> ";
    }
    out += "<a href=\"" + Html(cancel) + "\">" + Html(Tr("Cancel")) + "</a></div>\n</form>\n";
    Write(request, out);
    return EndPage(request);
}

}  // namespace

int FindMethod(void *request, int /*reserved1*/, int /*reserved2*/, unsigned int access) {
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
    if (!OpenFilesAvailable()) {
        return SendNotAvailable(request, output, Title());
    }
    const std::string account = AccountOf(request);
    if (!posted.isPost) {
        return ServeList(request, query, output, account);
    }
    if (FieldValues(posted.form, "close").size() > kMaxTargets) {
        return SendTooManyTargets(request, output, "close");
    }
    if (output != Output::kHtml) {
        return ServeJsonClose(request, posted.form);
    }
    const FindState state = ReadState(posted.form);
    const std::vector<Ref> refs = ReadRefs(posted.form);
    if (refs.empty()) {
        return SendRedirect(request, ListUrl(state));
    }
    if (FieldValue(posted.form, "step") != "confirm") {
        return ServePreview(request, state, refs);
    }
    ActionResult result;
    result.account = account;
    result.lines = CloseTargets(request, refs);
    const std::string id = KeepResult(std::move(result));
    const std::string url = ListUrl(state);
    return SendRedirect(request,
                        url + (url.find('?') == std::string::npos ? "?" : "&") + "result=" + id);
}

}  // namespace kel2cifs::admin
