// router.h: what the console answers to a request: its own pages, the login, the sessions, the
// file viewer and the service methods of the plug-ins.
//
// The server hands every request over twice. Preflight sees the request line and headers before
// any body is read and refuses what must never reach a page (a method the console does not serve,
// a host name that is not the console's, a path holding a NUL byte or an over-long component).
// Handle then answers the complete request:
//   - "/console/..." and the image prefix: the console's own static files, without login;
//   - a request with an API token (Authorization: Bearer, tokens.h) is served as the token's
//     name and role, without a session and without the Origin check, and only at the Audit
//     Trail and the methods registered with KEL_SERVICE_FLAG_DATA, with format=json or
//     format=csv in the query (else 406); a wrong token gets 401 and counts as a failed login of
//     its address; a token of the reader role posts nothing (403);
//   - "/login", "/logout";
//   - anything else needs a live session of an account unchanged since the login (else a
//     redirect to the login page), and every POST
//     must come from a page of the console itself (its Origin, or else its Referer);
//   - "/": the home page; a path followed by "?VIEW": the file viewer; "/audit": the Audit Trail
//     (audit_page.h), for accounts with any access;
//   - "/" + keyword, followed by the end or "/": that keyword's service method, with the access
//     word of the session's account. A method that declines (0 and no response) gets 404.
// Every POST to a method, every login and logout is recorded in the audit trail (audit.h) before
// its answer is sent; one whose record cannot be written is refused with 503 before it runs.
#ifndef KEL_CONSOLE_ROUTER_H
#define KEL_CONSOLE_ROUTER_H

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "console/account_store.h"
#include "console/audit.h"
#include "console/request.h"
#include "console/sessions.h"
#include "console/tokens.h"
#include "console/url.h"

namespace kel::console {

class Registry;

// The session cookie; under TLS its name carries the "__Host-" prefix, which browsers accept
// only from a secure origin, for the whole host and without a Domain.
inline constexpr char kSessionCookie[] = "kelsession";
inline constexpr char kSecureSessionCookie[] = "__Host-kelsession";

// What a request brings, as the server read it.
struct Incoming {
    std::string method;  // as sent: "GET", "POST", ...
    Target target;
    std::string decodedPath;  // set by Preflight
    std::string host;         // the Host header
    std::string origin;       // the Origin header
    std::string referer;      // the Referer header
    // Every value the request carries for the session cookie, in the order sent: another port of
    // the same host can plant a cookie of the same name that comes before the console's own.
    std::vector<std::string> sessionCookies;
    std::string session;        // the live session among them (set by Handle), else the first
    std::string fetchSite;      // the Sec-Fetch-Site header
    std::string authorization;  // the Authorization header
    std::string client;         // the client's address
    std::string body;
};

// What the server needs besides the Request to send the answer and to log it.
struct Outcome {
    int fileDescriptor = -1;  // the file viewer's file, sent as the body; the server closes it
    std::uint64_t fileSize = 0;
    std::string account;  // the account the request ran as, for the access log
};

struct RouterSettings {
    std::string productName;
    std::string logDirectory;
    bool secure = false;  // served over TLS
    // Host names (without port) the console answers to; empty: any.
    std::set<std::string> hostNames;
};

class Router {
  public:
    Router(RouterSettings settings, const Registry &registry, AccountStore &accounts,
           SessionStore &sessions, LoginThrottle &throttle, AuditStore &audit, TokenStore &tokens);

    // 0 when the request may go on; otherwise the request holds the complete refusal.
    int Preflight(Incoming &incoming, Request &request) const;
    // Answers the complete request into `request` (and `outcome`).
    void Handle(Incoming &incoming, Request &request, Outcome &outcome);

    const char *cookieName() const {
        return settings_.secure ? kSecureSessionCookie : kSessionCookie;
    }

  private:
    bool IsAllowedHost(std::string_view host) const;
    bool IsSameOrigin(const Incoming &incoming) const;
    void ServeLogin(Incoming &incoming, Request &request, Outcome &outcome);
    // True when the login's address or name has to wait: then `request` holds the refusal (429),
    // which checks nothing and is not recorded.
    bool LoginThrottled(const Incoming &incoming, Request &request);
    void ServeLogout(Incoming &incoming, Request &request);
    // The session of `id` when it is live and its account unchanged since it began; a session
    // of a changed account is ended.
    std::optional<Session> LiveSession(std::string_view id);
    // The first candidate that is a live session (its use counts), else the first one.
    std::string ChooseSession(const std::vector<std::string> &candidates);
    void ServeFile(Incoming &incoming, const Session &session, Request &request,
                   Outcome &outcome) const;
    // The service method of the path's keyword, for an account with `access`.
    void ServeMethod(Incoming &incoming, unsigned int access, Request &request) const;
    // A request with an API token (Authorization: Bearer).
    void ServeToken(Incoming &incoming, std::string_view presented, Request &request,
                    Outcome &outcome);
    // The Audit Trail page, or its JSON or CSV.
    void ServeAudit(Incoming &incoming, Request &request) const;
    // Serves a state-changing request through `serve`, recorded in the audit trail as `action`
    // of the request's account: the record is written first (else the request is refused with
    // 503 and `serve` does not run), the targets and the status once `serve` has answered.
    template <typename Serve>
    void Audited(const Incoming &incoming, Request &request, std::string_view account,
                 std::string_view action, Serve serve) const;
    void Redirect(Request &request, std::string_view location) const;
    std::string SessionCookie(std::string_view id) const;

    RouterSettings settings_;
    const Registry &registry_;
    AccountStore &accounts_;
    SessionStore &sessions_;
    LoginThrottle &throttle_;
    AuditStore &audit_;
    TokenStore &tokens_;
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_ROUTER_H
