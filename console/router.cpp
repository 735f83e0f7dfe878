// router.cpp: Router.
#include "console/router.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "console/ascii.h"
#include "console/assets.h"
#include "console/audit_page.h"
#include "console/file_viewer.h"
#include "console/html.h"
#include "console/language.h"
#include "console/registry.h"
#include "kel/host.h"
#include "kel/host_ext.h"

namespace kel::console {
namespace {

// The host name of a Host header, without its port and lower-cased ("[::1]:8080" gives "::1").
std::string HostName(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        return close == std::string_view::npos ? std::string()
                                               : LowerAscii(host.substr(1, close - 1));
    }
    const std::size_t colon = host.find(':');
    if (colon != std::string_view::npos && host.find(':', colon + 1) == std::string_view::npos) {
        host = host.substr(0, colon);
    }
    return LowerAscii(host);
}

// The decoded value of form field `name`, or empty.
std::string FormValue(const std::string &form, const char *name) {
    std::vector<char> raw(form.size() + 1);
    int length = static_cast<int>(raw.size());
    if (HttpFindNameAndValue(form.c_str(), name, raw.data(), &length) != 0 || length <= 0) {
        return {};
    }
    std::vector<char> decoded(static_cast<std::size_t>(length) + 1);
    const int size = HttpUnConvertName(raw.data(), decoded.data(), length);
    return std::string(decoded.data(), static_cast<std::size_t>(size));
}

bool IsPost(const Incoming &incoming) {
    return incoming.method == "POST";
}

// The first component of a decoded path ("/cifsofm/VOL1" gives "cifsofm").
std::string_view FirstComponent(std::string_view path) {
    path.remove_prefix(1);
    return path.substr(0, path.find('/'));
}

// The token of an "Authorization: Bearer TOKEN" header (empty when none follows the scheme), or
// none for another scheme or no header.
std::optional<std::string_view> BearerToken(std::string_view authorization) {
    constexpr std::string_view kScheme = "bearer";
    if (authorization.size() < kScheme.size() ||
        !EqualsIgnoringCase(authorization.substr(0, kScheme.size()), kScheme) ||
        (authorization.size() > kScheme.size() && authorization[kScheme.size()] != ' ')) {
        return std::nullopt;
    }
    authorization.remove_prefix(kScheme.size());
    while (!authorization.empty() && authorization.front() == ' ') {
        authorization.remove_prefix(1);
    }
    while (!authorization.empty() && authorization.back() == ' ') {
        authorization.remove_suffix(1);
    }
    return authorization;
}

// The decoded text of one field's name or value.
std::string DecodedField(std::string_view text) {
    const std::string raw(text);
    std::vector<char> decoded(raw.size() + 1);
    const int size = HttpUnConvertName(raw.c_str(), decoded.data(), static_cast<int>(raw.size()));
    return std::string(decoded.data(), static_cast<std::size_t>(size));
}

// The format a token request asks for: the value of every query field named "format", when
// there is one and all agree; empty otherwise, and empty when a name only decodes to "format":
// a page may look up names as they are or decoded ("form%61t" is "format" to one, not to the
// other), and both must find the format checked here.
std::string RequestedFormat(std::string_view query) {
    std::string format;
    bool seen = false;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view field = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t equals = field.find('=');
        const std::string_view name = field.substr(0, equals);
        if (DecodedField(name) != "format") {
            continue;
        }
        if (name != "format") {
            return {};
        }
        const std::string value = equals == std::string_view::npos
                                      ? std::string()
                                      : DecodedField(field.substr(equals + 1));
        if (seen && value != format) {
            return {};
        }
        format = value;
        seen = true;
    }
    return format;
}

// A short plain-text answer, for scripts.
void PlainAnswer(Request &request, int status, std::string_view text) {
    request.Complete(status, kTextContentType, std::string(text) + "\n");
}

bool IsAuditPath(std::string_view path) {
    return path == kAuditUrl;
}

}  // namespace

Router::Router(RouterSettings settings, const Registry &registry, AccountStore &accounts,
               SessionStore &sessions, LoginThrottle &throttle, AuditStore &audit,
               TokenStore &tokens)
    : settings_(std::move(settings)),
      registry_(registry),
      accounts_(accounts),
      sessions_(sessions),
      throttle_(throttle),
      audit_(audit),
      tokens_(tokens) {}

template <typename Serve>
void Router::Audited(const Incoming &incoming, Request &request, std::string_view account,
                     std::string_view action, Serve serve) const {
    const std::int64_t id = audit_.Begin(static_cast<std::int64_t>(std::time(nullptr)), account,
                                         request.viaToken, incoming.client, action);
    if (id == 0) {
        Say(stderr, "the audit trail cannot be written (" + audit_.LastError() + "); refused " +
                        incoming.method + " " + incoming.target.path);
        WriteStatusPage(request, 503,
                        Translate("The audit trail cannot be written, so nothing was done. Try "
                                  "again later."));
        return;
    }
    request.auditing = true;
    request.auditTargets.clear();
    serve();
    request.auditing = false;
    if (!audit_.Finish(id, request.auditTargets, request.status)) {
        // The request has run: its record stays, with status 0 (unfinished).
        Say(stderr, "the audit record " + std::to_string(id) +
                        " could not be completed: " + audit_.LastError());
    }
}

bool Router::IsAllowedHost(std::string_view host) const {
    if (settings_.hostNames.empty() || host.empty()) {
        return true;  // no list, or a client too old to say (it gets no POST through either)
    }
    return settings_.hostNames.count(HostName(host)) != 0;
}

bool Router::IsSameOrigin(const Incoming &incoming) const {
    if (incoming.host.empty()) {
        return false;
    }
    const std::string own =
        std::string(settings_.secure ? "https://" : "http://") + LowerAscii(incoming.host);
    if (!incoming.origin.empty()) {
        return LowerAscii(incoming.origin) == own;
    }
    if (!incoming.referer.empty()) {
        const std::string referer = LowerAscii(incoming.referer);
        return referer == own || referer.starts_with(own + "/") || referer.starts_with(own + "?");
    }
    return false;
}

int Router::Preflight(Incoming &incoming, Request &request) const {
    request.frame.productName = settings_.productName;
    if (incoming.method != "GET" && incoming.method != "HEAD" && incoming.method != "POST") {
        WriteStatusPage(request, 405, Translate("This method is not served here."));
        request.AddHeader("Allow", "GET, HEAD, POST");
        return 405;
    }
    if (!IsAllowedHost(incoming.host)) {
        WriteStatusPage(request, 421, Translate("This console does not answer to that host name."));
        return 421;
    }
    const int decoded = DecodePath(incoming.target.path, &incoming.decodedPath);
    if (decoded == kComponentTooLong) {
        WriteStatusPage(request, 414, Translate("A part of the address is longer than 255 bytes."));
        return 414;
    }
    if (decoded != 0) {
        WriteStatusPage(request, 400, Translate("The address is malformed."));
        return 400;
    }
    return 0;
}

std::string Router::SessionCookie(std::string_view id) const {
    std::string cookie = std::string(cookieName()) + "=" + std::string(id) + "; Path=/";
    if (id.empty()) {
        cookie += "; Max-Age=0";
    }
    cookie += "; HttpOnly; SameSite=Strict";
    if (settings_.secure) {
        cookie += "; Secure";
    }
    return cookie;
}

void Router::Redirect(Request &request, std::string_view location) const {
    request.Complete(
        303, kHtmlContentType,
        "<!DOCTYPE html>\n<html lang=\"" + EscapeHtml(request.frame.language) +
            "\"><head><meta charset=\"utf-8\"><title>" + EscapeHtml(Translate("See Other")) +
            "</title></head><body><p>" + EscapeHtml(Translate("Continue at")) + " <a href=\"" +
            EscapeHtml(location) + "\">" + EscapeHtml(location) + "</a>.</p></body></html>\n");
    request.AddHeader("Location", location);
}

void Router::Handle(Incoming &incoming, Request &request, Outcome &outcome) {
    request.frame.productName = settings_.productName;
    const std::string &path = incoming.decodedPath;
    incoming.session = ChooseSession(incoming.sessionCookies);

    if (const Asset *asset = FindAsset(path); asset != nullptr && !incoming.target.hasQuery) {
        if (IsPost(incoming)) {
            WriteStatusPage(request, 405, Translate("This address cannot be posted to."));
            request.AddHeader("Allow", "GET, HEAD");
            return;
        }
        request.Complete(200, asset->contentType, asset->bytes);
        request.AddHeader("Cache-Control", "public, max-age=3600");
        return;
    }
    if (const std::optional<std::string_view> token = BearerToken(incoming.authorization)) {
        ServeToken(incoming, *token, request, outcome);
        return;
    }
    if (IsPost(incoming) && !IsSameOrigin(incoming)) {
        WriteStatusPage(request, 403,
                        Translate("A form of another site cannot be posted to this console."));
        return;
    }
    if (path == kLoginUrl) {
        if (!IsPost(incoming)) {
            ServeLogin(incoming, request, outcome);
            return;
        }
        if (LoginThrottled(incoming, request)) {
            return;
        }
        Audited(incoming, request, FormValue(incoming.body, "name"), "login",
                [&] { ServeLogin(incoming, request, outcome); });
        return;
    }
    if (path == kLogoutUrl) {
        // Only the console's own form (a same-origin POST, checked above) ends a session: a link
        // or an image of another page must not.
        if (!IsPost(incoming)) {
            WriteStatusPage(request, 405, Translate("Log out with the console's Log out button."));
            request.AddHeader("Allow", "POST");
            return;
        }
        std::string account;
        if (const std::optional<Session> ending = sessions_.Use(incoming.session)) {
            account = ending->account;
        }
        outcome.account = account;
        Audited(incoming, request, account, "logout", [&] { ServeLogout(incoming, request); });
        return;
    }

    // A request started by another site, even one on this host under another port, carries no
    // session: SameSite=Strict keeps the cookie from cross-site requests, and the browser's
    // Sec-Fetch-Site header (where sent) covers same-site ones as well.
    std::optional<Session> session;
    if (incoming.fetchSite != "cross-site" && incoming.fetchSite != "same-site") {
        session = LiveSession(incoming.session);
    }
    if (!session) {
        if (IsPost(incoming)) {
            Redirect(request, kLoginUrl);
            return;
        }
        std::string target = incoming.target.path;
        if (incoming.target.hasQuery) {
            target += "?" + incoming.target.query;
        }
        Redirect(request, target == "/"
                              ? std::string(kLoginUrl)
                              : std::string(kLoginUrl) + "?next=" + PercentEncode(target));
        return;
    }
    outcome.account = session->account;
    request.frame.account = session->account;
    request.frame.registry = &registry_;
    request.frame.auditPage = session->access != kNoAccess;

    if (incoming.target.hasQuery && incoming.target.query == kViewQuery) {
        ServeFile(incoming, *session, request, outcome);
        return;
    }
    if (path == "/") {
        WriteHomePage(request);
        return;
    }
    if (IsAuditPath(path)) {
        if (session->access == kNoAccess) {
            WriteStatusPage(request, 403, Translate("This account may not view the audit trail."));
            return;
        }
        ServeAudit(incoming, request);
        return;
    }
    ServeMethod(incoming, session->access, request);
}

void Router::ServeToken(Incoming &incoming, std::string_view presented, Request &request,
                        Outcome &outcome) {
    // Failed tokens count as failed logins of their address.
    const auto wait = throttle_.WaitAddress(incoming.client);
    if (wait.count() > 0) {
        PlainAnswer(request, 429, "Too many failed attempts from this address; try again later.");
        request.AddHeader("Retry-After", std::to_string((wait.count() + 999) / 1000));
        return;
    }
    const std::optional<ApiToken> token = tokens_.Find(presented);
    if (!token) {
        throttle_.FailedAddress(incoming.client);
        PlainAnswer(request, 401, "The API token is not valid.");
        request.AddHeader("WWW-Authenticate", "Bearer");
        return;
    }
    throttle_.SucceededAddress(incoming.client);
    outcome.account = token->name;
    request.frame.account = token->name;
    request.viaToken = true;

    const std::string &path = incoming.decodedPath;
    std::optional<ServiceEntry> entry;
    if (!IsAuditPath(path)) {
        entry = registry_.Find(FirstComponent(path));
        if (!entry) {
            PlainAnswer(request, 404, "There is nothing at this address.");
            return;
        }
        if ((entry->flags & KEL_SERVICE_FLAG_DATA) == 0) {
            PlainAnswer(request, 403, "An API token reaches only the console's data.");
            return;
        }
    }
    const std::string format =
        incoming.target.hasQuery ? RequestedFormat(incoming.target.query) : std::string();
    if (format != "json" && format != "csv") {
        PlainAnswer(request, 406, "An API token needs format=json or format=csv in the query.");
        return;
    }
    if (!entry) {
        if (IsPost(incoming)) {
            PlainAnswer(request, 405, "The audit trail cannot be posted to.");
            request.AddHeader("Allow", "GET, HEAD");
            return;
        }
        ServeAudit(incoming, request);
        return;
    }
    ServeMethod(incoming, token->access, request);
}

void Router::ServeAudit(Incoming &incoming, Request &request) const {
    if (IsPost(incoming)) {
        WriteStatusPage(request, 405, Translate("The audit trail cannot be posted to."));
        request.AddHeader("Allow", "GET, HEAD");
        return;
    }
    request.frame.currentKeyword = "audit";
    WriteAuditPage(request, audit_, incoming.target.hasQuery ? incoming.target.query : "");
    request.AddHeader("Cache-Control", "no-store");
}

bool Router::LoginThrottled(const Incoming &incoming, Request &request) {
    const std::string name = FormValue(incoming.body, "name");
    const auto wait = throttle_.Wait(incoming.client, name);
    if (wait.count() <= 0) {
        return false;
    }
    std::string next = FormValue(incoming.body, "next");
    if (!IsLocalTarget(next)) {
        next.clear();
    }
    const long long seconds = (wait.count() + 999) / 1000;
    char message[256];
    std::snprintf(message, sizeof(message),
                  TranslatePlural("Too many failed logins. Try again in %lld second.",
                                  "Too many failed logins. Try again in %lld seconds.",
                                  static_cast<unsigned long>(seconds)),
                  seconds);
    WriteLoginPage(request, 429, message, name, next);
    request.AddHeader("Retry-After", std::to_string(seconds));
    return true;
}

void Router::ServeLogin(Incoming &incoming, Request &request, Outcome &outcome) {
    if (!IsPost(incoming)) {
        if (LiveSession(incoming.session)) {
            Redirect(request, "/");
            return;
        }
        std::string next;
        if (incoming.target.hasQuery) {
            next = FormValue(incoming.target.query, "next");
        }
        WriteLoginPage(request, 200, {}, {}, IsLocalTarget(next) ? next : std::string());
        return;
    }
    const std::string name = FormValue(incoming.body, "name");
    const std::string password = FormValue(incoming.body, "password");
    std::string next = FormValue(incoming.body, "next");
    if (!IsLocalTarget(next)) {
        next.clear();
    }
    std::optional<Account> account;
    if (IsValidAccountName(name)) {
        account = accounts_.Authenticate(name, password);
    }
    if (!account) {
        throttle_.Failed(incoming.client, name);
        WriteLoginPage(request, 401, Translate("Wrong name or password."), name, next);
        return;
    }
    throttle_.Succeeded(incoming.client, account->name);
    sessions_.Remove(incoming.session);  // a new id for every login
    SessionRefusal refusal = SessionRefusal::kNone;
    const std::string id =
        sessions_.Create(account->name, account->access, &refusal, account->hash);
    if (refusal == SessionRefusal::kStoreFull) {
        WriteLoginPage(request, 503,
                       Translate("The console has as many sessions as it can hold. Try again when "
                                 "some have ended."),
                       name, next);
        return;
    }
    if (id.empty()) {
        WriteStatusPage(request, 503, Translate("No session could be started. Try again."));
        return;
    }
    outcome.account = account->name;
    Redirect(request, next.empty() ? "/" : next);
    request.AddHeader("Set-Cookie", SessionCookie(id));
}

std::optional<Session> Router::LiveSession(std::string_view id) {
    std::optional<Session> session = sessions_.Use(id);
    if (!session) {
        return std::nullopt;
    }
    // The account as it is now: a deleted account, another role or a new password ends every
    // session begun before the change.
    const std::optional<Account> account = accounts_.Find(session->account);
    if (!account || account->access != session->access || account->hash != session->credential) {
        sessions_.EndOutdated(session->account, account.has_value(),
                              account ? account->access : kNoAccess,
                              account ? std::string_view(account->hash) : std::string_view());
        return std::nullopt;
    }
    return session;
}

std::string Router::ChooseSession(const std::vector<std::string> &candidates) {
    for (const std::string &id : candidates) {
        if (LiveSession(id)) {
            return id;
        }
    }
    return candidates.empty() ? std::string() : candidates.front();
}

void Router::ServeLogout(Incoming &incoming, Request &request) {
    sessions_.Remove(incoming.session);
    Redirect(request, kLoginUrl);
    request.AddHeader("Set-Cookie", SessionCookie({}));
}

void Router::ServeFile(Incoming &incoming, const Session &session, Request &request,
                       Outcome &outcome) const {
    if (IsPost(incoming)) {
        WriteStatusPage(request, 405, Translate("Files cannot be posted to."));
        request.AddHeader("Allow", "GET, HEAD");
        return;
    }
    if (session.access == kNoAccess) {
        WriteStatusPage(request, 403, Translate("This account may not view files."));
        return;
    }
    std::uint64_t size = 0;
    const int fd = OpenViewableFile(settings_.logDirectory, incoming.decodedPath, &size);
    if (fd < 0) {
        WriteStatusPage(request, 404, Translate("There is no such file to view."));
        return;
    }
    request.Complete(200, kTextContentType, {});
    outcome.fileDescriptor = fd;
    outcome.fileSize = size;
}

void Router::ServeMethod(Incoming &incoming, unsigned int access, Request &request) const {
    const std::string_view keyword = FirstComponent(incoming.decodedPath);
    std::optional<ServiceEntry> entry = registry_.Find(keyword);
    if (!entry) {
        WriteStatusPage(request, 404, Translate("There is no page at this address."));
        return;
    }
    request.frame.currentKeyword = entry->keyword;
    request.methodCode = IsPost(incoming) ? kMethodPost : kMethodGet;
    request.SetPath(incoming.decodedPath);
    request.SetBody(incoming.body);
    request.query = incoming.target.hasQuery ? incoming.target.query : std::string();
    const auto run = [&] {
        if (request.viaToken && IsPost(incoming) && (access & kChangeAccess) == 0) {
            PlainAnswer(request, 403, "This API token may only read.");
            return;
        }
        int result = 0;
        try {
            const ServingScope serving(request);
            result = entry->method(request.handle(), 0, 0, access);
        } catch (...) {
            request.state = ResponseState::kNone;  // whatever it wrote is incomplete
            request.content.Clear();
            request.headers.clear();
            result = 500;
        }
        switch (request.state) {
            case ResponseState::kNone:
                if (result == 0) {
                    WriteStatusPage(request, 404, Translate("There is no page at this address."));
                } else {
                    WriteStatusPage(request, 500,
                                    Translate("The page failed to produce a response."));
                }
                return;
            case ResponseState::kOpen:
            case ResponseState::kHandBuiltOpen:
            case ResponseState::kHandBuiltSent:
                // Not ended by the page: sent as it stands, which is all the page wrote.
                request.state = ResponseState::kEnded;
                break;
            case ResponseState::kEnded:
            case ResponseState::kComplete:
                break;
        }
        request.AddHeader("Cache-Control", "no-store");
    };
    if (!IsPost(incoming)) {
        // A page may change something through a link (a GET), as the connections page closes
        // connections; what it reports (itself or through the monitoring library's action
        // observer) is recorded once it has run, since nothing told the console beforehand.
        request.auditing = true;
        request.auditTargets.clear();
        run();
        request.auditing = false;
        if (!request.auditTargets.empty()) {
            const std::int64_t id =
                audit_.Begin(static_cast<std::int64_t>(std::time(nullptr)), request.frame.account,
                             request.viaToken, incoming.client, incoming.decodedPath);
            if (id == 0 || !audit_.Finish(id, request.auditTargets, request.status)) {
                Say(stderr, "the audit record of " + incoming.method + " " + incoming.target.path +
                                " could not be written: " + audit_.LastError());
            }
        }
        return;
    }
    Audited(incoming, request, request.frame.account, incoming.decodedPath, run);
}

}  // namespace kel::console
