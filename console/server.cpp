// server.cpp: the HTTP server on libmicrohttpd.
//
// The daemon hands the console the request target exactly as sent (its own unescaping is
// switched off), so that the path is decoded once, by the console's rules, and a %00 is seen.
// Each request gets an Exchange, made when the request line arrives and freed when the request
// is done; the access log line is written then.
//
// Each connection also gets a Link, from its start to its close, that records when the head of
// its next request is due. A watchdog thread shuts down the socket of a connection whose head is
// late; the daemon then sees the socket end and closes the connection. The daemon's own timeout
// restarts with every byte, so a head sent a byte at a time would pass it.
#include "console/server.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "console/access_log.h"
#include "console/account_store.h"
#include "console/ascii.h"
#include "console/audit.h"
#include "console/html.h"
#include "console/language.h"
#include "console/registry.h"
#include "console/router.h"

namespace kel::console {
namespace {

// An oversized chunked body is read to its end so that 413 can be answered (the daemon cannot
// answer in the middle of a body); past this many times the limit the connection is dropped.
constexpr std::uint64_t kDiscardFactor = 16;

constexpr char kContentSecurityPolicy[] =
    "default-src 'self'; script-src 'self' 'unsafe-inline'; style-src 'self' 'unsafe-inline'; "
    "img-src 'self' data:; object-src 'none'; base-uri 'none'; frame-ancestors 'none'; "
    "form-action 'self'";

struct Exchange {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::time_t when = std::time(nullptr);
    std::string target;  // as received
    Incoming incoming;
    Request request;
    Outcome outcome;
    bool started = false;  // the handler has seen the headers
    bool queued = false;   // a response is queued
    bool tooLarge = false;
    std::uint64_t discarded = 0;
    int status = 0;
    std::uint64_t bytes = 0;
};

// One connection, from the daemon's start notice to its close notice (which comes before the
// socket is closed, so that `fd` stays the connection's own while the Link is in the set).
struct Link {
    MHD_socket fd = MHD_INVALID_SOCKET;
    std::chrono::steady_clock::time_point headDue;
    bool awaitingHead = true;  // false once the head arrived, or the socket was shut down
};

// The DNS names a PEM certificate is issued for (its subject alternative names, or else its common
// name), without wildcard names.
bool CertificateNames(const std::string &pem, std::vector<std::string> *names, std::string *error) {
    gnutls_x509_crt_t certificate = nullptr;
    if (gnutls_x509_crt_init(&certificate) < 0) {
        *error = "cannot read the TLS certificate";
        return false;
    }
    gnutls_datum_t data{reinterpret_cast<unsigned char *>(const_cast<char *>(pem.data())),
                        static_cast<unsigned int>(pem.size())};
    if (gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_PEM) < 0) {
        gnutls_x509_crt_deinit(certificate);
        *error = "the TLS certificate is not a PEM certificate";
        return false;
    }
    std::vector<std::string> found;
    char name[256];
    for (unsigned int index = 0;; ++index) {
        std::size_t size = sizeof(name);
        unsigned int critical = 0;
        const int type =
            gnutls_x509_crt_get_subject_alt_name(certificate, index, name, &size, &critical);
        if (type == GNUTLS_E_SHORT_MEMORY_BUFFER) {
            continue;  // longer than any host name
        }
        if (type < 0) {
            break;
        }
        if (type == GNUTLS_SAN_DNSNAME) {
            found.emplace_back(name, std::min(size, sizeof(name)));
        }
    }
    if (found.empty()) {
        std::size_t size = sizeof(name);
        if (gnutls_x509_crt_get_dn_by_oid(certificate, GNUTLS_OID_X520_COMMON_NAME, 0, 0, name,
                                          &size) == 0) {
            found.emplace_back(name, std::min(size, sizeof(name)));
        }
    }
    gnutls_x509_crt_deinit(certificate);
    for (const std::string &each : found) {
        if (!each.empty() && each.find('*') == std::string::npos &&
            each.find('\0') == std::string::npos) {
            names->push_back(each);
        }
    }
    return true;
}

struct Address {
    sockaddr_storage storage{};
    bool v6 = false;
    std::string text;  // without brackets
};

bool ParseAddress(std::string_view text, std::uint16_t port, Address *out) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    const std::string plain(text);
    auto *v4 = reinterpret_cast<sockaddr_in *>(&out->storage);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&out->storage);
    if (inet_pton(AF_INET, plain.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        out->v6 = false;
    } else if (inet_pton(AF_INET6, plain.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        out->v6 = true;
    } else {
        return false;
    }
    out->text = plain;
    return true;
}

bool IsWildcard(const Address &address) {
    if (address.v6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&address.storage);
        return IN6_IS_ADDR_UNSPECIFIED(&v6->sin6_addr);
    }
    const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address.storage);
    return v4->sin_addr.s_addr == htonl(INADDR_ANY);
}

// The 413 page's sentence: the limit in MiB or KiB when it is a whole number of them, else in
// bytes.
std::string TooLargeMessage(std::size_t limit) {
    constexpr std::size_t kKiB = 1024;
    constexpr std::size_t kMiB = 1024 * kKiB;
    char size[64];
    if (limit != 0 && limit % kMiB == 0) {
        std::snprintf(size, sizeof(size), "%zu MiB", limit / kMiB);
    } else if (limit != 0 && limit % kKiB == 0) {
        std::snprintf(size, sizeof(size), "%zu KiB", limit / kKiB);
    } else {
        std::snprintf(size, sizeof(size),
                      TranslatePlural("%zu byte", "%zu bytes", static_cast<unsigned long>(limit)),
                      limit);
    }
    char message[256];
    std::snprintf(message, sizeof(message), Translate("The request body is larger than %s."), size);
    return message;
}

bool ReadWholeFile(const std::string &path, std::string *text, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    *text = content.str();
    return true;
}

std::string HeaderValue(MHD_Connection *connection, MHD_ValueKind kind, const char *name) {
    const char *value = MHD_lookup_connection_value(connection, kind, name);
    return value != nullptr ? std::string(value) : std::string();
}

// The values of the cookies named `name`, in the order the request sends them; at most 16 are
// kept, so that a request cannot make the router try thousands.
std::vector<std::string> CookieValues(MHD_Connection *connection, const char *name) {
    struct Collected {
        const char *name;
        std::vector<std::string> values;
    } collected{name, {}};
    MHD_get_connection_values(
        connection, MHD_COOKIE_KIND,
        [](void *cls, MHD_ValueKind, const char *key, const char *value) -> MHD_Result {
            auto *into = static_cast<Collected *>(cls);
            if (key != nullptr && std::strcmp(key, into->name) == 0 && into->values.size() < 16) {
                into->values.emplace_back(value != nullptr ? value : "");
            }
            return MHD_YES;
        },
        &collected);
    return std::move(collected.values);
}

std::string ClientAddress(MHD_Connection *connection) {
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = "";
    const sockaddr *address = info->client_addr;
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text,
                  sizeof(text));
    } else if (address->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, text,
                  sizeof(text));
    }
    return text;
}

// The daemon's own unescaping, switched off: the target stays as it was sent.
size_t KeepEscapes(void * /*cls*/, MHD_Connection * /*connection*/, char *text) {
    return std::strlen(text);
}

void LogDaemonMessage(void * /*cls*/, const char *format, va_list args) {
    char message[1024];
    if (std::vsnprintf(message, sizeof(message), format, args) < 0) {
        return;
    }
    std::string_view text(message);
    while (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    const std::string line = "kelconsole: http: " + Printable(text) + "\n";
    [[maybe_unused]] ssize_t ignored = write(2, line.data(), line.size());
}

}  // namespace

bool IsLoopbackAddress(std::string_view text) {
    Address address;
    if (!ParseAddress(text, 0, &address)) {
        return false;
    }
    if (!address.v6) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address.storage);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&address.storage);
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) {
        return true;
    }
    return IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) && v6->sin6_addr.s6_addr[12] == 127;
}

class Server::Impl {
  public:
    Impl(const ServerOptions &opts, RouterSettings settings, std::unique_ptr<AuditStore> trail)
        : options(opts),
          accounts(opts.accountFile),
          sessions(opts.sessionIdle, opts.maxSessions, opts.clock, opts.maxSessionsPerAccount,
                   opts.sessionLifetime),
          throttle(opts.loginDelay, opts.longestLoginDelay, opts.clock),
          audit(std::move(trail)),
          tokens(TokenFileFor(opts.accountFile)),
          router(std::move(settings), Registry::Global(), accounts, sessions, throttle, *audit,
                 tokens) {}

    ~Impl() { Stop(); }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(guard);
            stopping = true;
        }
        wake.notify_all();
        if (watchdog.joinable()) {
            watchdog.join();
        }
        if (daemon != nullptr) {
            MHD_stop_daemon(daemon);
            daemon = nullptr;
        }
    }

    static void OnConnection(void *cls, MHD_Connection *connection, void **socketContext,
                             MHD_ConnectionNotificationCode code);
    // The connection's Link; null before its start notice.
    static Link *LinkOf(MHD_Connection *connection) {
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info != nullptr ? static_cast<Link *>(info->socket_context) : nullptr;
    }
    // Shuts down the connections whose heads are late; runs until Stop.
    void Watch();
    // Requires `guard`.
    static void Cut(Link *link) {
        link->awaitingHead = false;
        shutdown(link->fd, SHUT_RDWR);
    }

    static void *OnTarget(void *cls, const char *target, MHD_Connection *connection);
    static MHD_Result OnRequest(void *cls, MHD_Connection *connection, const char *url,
                                const char *method, const char *version, const char *upload,
                                size_t *uploadSize, void **context);
    static void OnCompleted(void *cls, MHD_Connection *connection, void **context,
                            MHD_RequestTerminationCode code);

    MHD_Result Queue(MHD_Connection *connection, Exchange &exchange);
    bool Expired(const Exchange &exchange) const {
        return std::chrono::steady_clock::now() - exchange.start > options.requestTimeout;
    }

    ServerOptions options;
    AccountStore accounts;
    SessionStore sessions;
    LoginThrottle throttle;
    std::unique_ptr<AuditStore> audit;
    TokenStore tokens;
    Router router;
    std::string certificate;
    std::string key;
    Address address;
    bool secure = false;
    MHD_Daemon *daemon = nullptr;
    std::uint16_t port = 0;

    std::mutex guard;
    std::condition_variable wake;
    std::set<Link *> links;
    bool stopping = false;
    std::thread watchdog;
};

void Server::Impl::OnConnection(void *cls, MHD_Connection *connection, void **socketContext,
                                MHD_ConnectionNotificationCode code) {
    auto *impl = static_cast<Impl *>(cls);
    std::lock_guard<std::mutex> lock(impl->guard);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        auto *link = static_cast<Link *>(*socketContext);
        impl->links.erase(link);
        delete link;
        *socketContext = nullptr;
        return;
    }
    auto *link = new Link;
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    link->fd = info != nullptr ? info->connect_fd : MHD_INVALID_SOCKET;
    link->headDue = std::chrono::steady_clock::now() + impl->options.headTimeout;
    *socketContext = link;
    impl->links.insert(link);
    if (impl->links.size() <= impl->options.connectionLimit) {
        return;
    }
    // The spare slot is taken: the connection waiting longest for its head gives way (this new
    // one when no other is waiting).
    Link *oldest = nullptr;
    for (Link *each : impl->links) {
        if (each->awaitingHead && (oldest == nullptr || each->headDue < oldest->headDue)) {
            oldest = each;
        }
    }
    Cut(oldest != nullptr ? oldest : link);
}

void Server::Impl::Watch() {
    std::unique_lock<std::mutex> lock(guard);
    while (!stopping) {
        const auto now = std::chrono::steady_clock::now();
        auto next = now + options.headTimeout;
        for (Link *link : links) {
            if (!link->awaitingHead) {
                continue;
            }
            if (link->headDue <= now) {
                Cut(link);
            } else {
                next = std::min(next, link->headDue);
            }
        }
        // A new connection is due no sooner than a head timeout from now, so waking at `next`
        // (or a second from now, whichever is sooner) catches it in time.
        wake.wait_until(lock, std::min(next, now + std::chrono::seconds(1)));
        lock.unlock();
        TrimAfterBigPages(std::chrono::steady_clock::now());
        lock.lock();
    }
}

void *Server::Impl::OnTarget(void * /*cls*/, const char *target, MHD_Connection *connection) {
    auto *exchange = new Exchange;
    exchange->target = target != nullptr ? target : "";
    exchange->incoming.client = ClientAddress(connection);
    return exchange;
}

MHD_Result Server::Impl::Queue(MHD_Connection *connection, Exchange &exchange) {
    Request &request = exchange.request;
    MHD_Response *response = nullptr;
    std::uint64_t bytes = 0;
    if (exchange.outcome.fileDescriptor >= 0) {
        bytes = exchange.outcome.fileSize;
        response = MHD_create_response_from_fd64(bytes, exchange.outcome.fileDescriptor);
        if (response == nullptr) {
            close(exchange.outcome.fileDescriptor);
        }
        exchange.outcome.fileDescriptor = -1;  // the response owns it now
    } else {
        std::size_t size = 0;
        char *data = request.content.Release(&size);
        bytes = size;
        if (data != nullptr) {
            response = MHD_create_response_from_buffer_with_free_callback(
                size, data, size >= ResponseBuffer::kBigPageSize ? &FreeBigBody : &std::free);
            if (response == nullptr) {
                std::free(data);
            }
        } else {
            response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        }
    }
    if (response == nullptr) {
        return MHD_NO;
    }
    bool cacheControl = false;
    if (!request.contentType.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                request.contentType.c_str());
    }
    for (const HeaderField &field : request.headers) {
        cacheControl = cacheControl || LowerAscii(field.name) == "cache-control";
        MHD_add_response_header(response, field.name.c_str(), field.value.c_str());
    }
    if (!cacheControl) {
        MHD_add_response_header(response, "Cache-Control", "no-store");
    }
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    MHD_add_response_header(response, "Referrer-Policy", "same-origin");
    if (secure) {
        MHD_add_response_header(response, "Strict-Transport-Security", "max-age=31536000");
    }
    if (request.contentType.starts_with("text/html")) {
        MHD_add_response_header(response, "Content-Security-Policy", kContentSecurityPolicy);
    }
    const int status = IsSendableStatus(request.status) ? request.status : 500;
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(status), response);
    MHD_destroy_response(response);
    exchange.queued = queued == MHD_YES;
    exchange.status = status;
    exchange.bytes = bytes;
    return queued;
}

MHD_Result Server::Impl::OnRequest(void *cls, MHD_Connection *connection, const char *url,
                                   const char *method, const char * /*version*/, const char *upload,
                                   size_t *uploadSize, void **context) {
    auto *impl = static_cast<Impl *>(cls);
    auto *exchange = static_cast<Exchange *>(*context);
    if (exchange == nullptr) {
        exchange = static_cast<Exchange *>(OnTarget(nullptr, url, connection));
        *context = exchange;
    }
    if (exchange->queued) {
        *uploadSize = 0;  // an answered request's body is not read
        return MHD_YES;
    }
    if (!exchange->started) {
        exchange->request.frame.language = NegotiateLanguage(
            HeaderValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT_LANGUAGE),
            LanguageAvailable);
    }
    // Every page this call writes, the console's and the plug-in's, is in the request's language.
    const ScopedLanguage language(exchange->request.frame.language);
    Incoming &incoming = exchange->incoming;
    if (!exchange->started) {
        exchange->started = true;
        if (Link *link = LinkOf(connection); link != nullptr) {
            std::lock_guard<std::mutex> lock(impl->guard);
            link->awaitingHead = false;
        }
        incoming.method = method != nullptr ? method : "";
        incoming.host = HeaderValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
        incoming.origin = HeaderValue(connection, MHD_HEADER_KIND, "Origin");
        incoming.referer = HeaderValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_REFERER);
        incoming.fetchSite = HeaderValue(connection, MHD_HEADER_KIND, "Sec-Fetch-Site");
        incoming.authorization =
            HeaderValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
        incoming.sessionCookies = CookieValues(connection, impl->router.cookieName());
        exchange->request.frame.productName = impl->options.productName;
        if (!SplitTarget(exchange->target, &incoming.target)) {
            WriteStatusPage(exchange->request, 400, Translate("The address is malformed."));
            return impl->Queue(connection, *exchange);
        }
        if (impl->router.Preflight(incoming, exchange->request) != 0) {
            return impl->Queue(connection, *exchange);
        }
        const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length != nullptr) {
            errno = 0;
            char *end = nullptr;
            const unsigned long long declared = std::strtoull(length, &end, 10);
            if (errno == ERANGE || declared > impl->options.maxBodySize) {
                WriteStatusPage(exchange->request, 413, TooLargeMessage(impl->options.maxBodySize));
                return impl->Queue(connection, *exchange);
            }
        }
        return MHD_YES;
    }
    if (impl->Expired(*exchange)) {
        return MHD_NO;  // too slow: the connection is closed
    }
    if (*uploadSize > 0) {
        const std::size_t size = *uploadSize;
        *uploadSize = 0;
        if (!exchange->tooLarge && incoming.body.size() + size <= impl->options.maxBodySize) {
            incoming.body.append(upload, size);
            return MHD_YES;
        }
        exchange->tooLarge = true;
        incoming.body.clear();
        exchange->discarded += size;
        return exchange->discarded > kDiscardFactor * impl->options.maxBodySize ? MHD_NO : MHD_YES;
    }
    if (exchange->tooLarge) {
        WriteStatusPage(exchange->request, 413, TooLargeMessage(impl->options.maxBodySize));
        return impl->Queue(connection, *exchange);
    }
    impl->router.Handle(incoming, exchange->request, exchange->outcome);
    return impl->Queue(connection, *exchange);
}

void Server::Impl::OnCompleted(void *cls, MHD_Connection *connection, void **context,
                               MHD_RequestTerminationCode /*code*/) {
    auto *impl = static_cast<Impl *>(cls);
    auto *exchange = static_cast<Exchange *>(*context);
    if (exchange == nullptr) {
        return;
    }
    *context = nullptr;
    if (Link *link = LinkOf(connection); link != nullptr && exchange->started) {
        std::lock_guard<std::mutex> lock(impl->guard);
        link->awaitingHead = true;  // the next request on the connection
        link->headDue = std::chrono::steady_clock::now() + impl->options.headTimeout;
    }
    if (impl->options.accessLogFd >= 0) {
        AccessRecord record;
        record.when = exchange->when;
        record.client = exchange->incoming.client;
        record.method = exchange->incoming.method;
        record.path =
            exchange->started
                ? std::string_view(exchange->incoming.target.path)
                : std::string_view(exchange->target).substr(0, exchange->target.find('?'));
        record.status = exchange->queued ? exchange->status : 0;
        record.bytes = exchange->queued ? exchange->bytes : 0;
        record.milliseconds =
            static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - exchange->start)
                                           .count());
        record.account = exchange->outcome.account;
        WriteAccessLine(impl->options.accessLogFd, record);
    }
    if (exchange->outcome.fileDescriptor >= 0) {
        close(exchange->outcome.fileDescriptor);
    }
    delete exchange;
}

Server::Server(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Server::~Server() {
    Stop();
}

void Server::Stop() {
    impl_->Stop();
}

std::uint16_t Server::port() const {
    return impl_->port;
}

std::string Server::url() const {
    std::string host = impl_->address.v6 ? "[" + impl_->address.text + "]" : impl_->address.text;
    return std::string(impl_->secure ? "https://" : "http://") + host + ":" +
           std::to_string(impl_->port);
}

bool ResolveServerNames(const ServerOptions &options, std::vector<std::string> *names,
                        std::string *error) {
    *names = options.serverNames;
    Address address;
    if (!names->empty() || !ParseAddress(options.address, 0, &address) || !IsWildcard(address)) {
        return true;
    }
    if (!options.certificateFile.empty()) {
        std::string pem;
        if (!ReadWholeFile(options.certificateFile, &pem, error) ||
            !CertificateNames(pem, names, error)) {
            return false;
        }
    }
    if (names->empty()) {
        *error = "listening on the wildcard address " + options.address +
                 " needs the host names to answer to: give --server-name=NAME" +
                 (options.certificateFile.empty() ? "" : " (the certificate names no host)");
        return false;
    }
    return true;
}

std::unique_ptr<Server> Server::Start(const ServerOptions &options, std::string *error) {
    Address address;
    if (!ParseAddress(options.address, options.port, &address)) {
        *error = "not an IP address: " + options.address;
        return nullptr;
    }
    if (options.accountFile.empty()) {
        *error = "no account file";
        return nullptr;
    }
    if (options.certificateFile.empty() != options.keyFile.empty()) {
        *error = "TLS needs both a certificate and a key";
        return nullptr;
    }
    const bool secure = !options.certificateFile.empty();
    const bool loopback = IsLoopbackAddress(options.address);
    if (!secure && !loopback && !options.allowInsecureRemote) {
        *error = "refusing to listen on " + options.address +
                 " without TLS: give a certificate and a key, or allow it explicitly";
        return nullptr;
    }

    RouterSettings settings;
    settings.productName = options.productName;
    settings.logDirectory = options.logDirectory;
    settings.secure = secure;
    std::vector<std::string> names;
    if (!ResolveServerNames(options, &names, error)) {
        return nullptr;
    }
    settings.hostNames.insert(LowerAscii(address.text));
    if (loopback) {
        settings.hostNames.insert("localhost");
    }
    for (const std::string &name : names) {
        settings.hostNames.insert(LowerAscii(name));
    }

    std::unique_ptr<AuditStore> audit = AuditStore::Open(options.stateDirectory, error);
    if (audit == nullptr) {
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(options, std::move(settings), std::move(audit));
    impl->address = address;
    impl->secure = secure;
    if (!impl->accounts.Load(error)) {
        return nullptr;
    }
    if (secure) {
        if (!ReadWholeFile(options.certificateFile, &impl->certificate, error) ||
            !ReadWholeFile(options.keyFile, &impl->key, error)) {
            return nullptr;
        }
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            *error = "the HTTP library was built without TLS";
            return nullptr;
        }
    }

    unsigned int flags = MHD_USE_AUTO | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
    if (address.v6) {
        flags |= MHD_USE_IPv6;
    }
    if (secure) {
        flags |= MHD_USE_TLS;
    }
    const unsigned int threads = options.threads > 0 ? options.threads : 1;
    // One slot more than the limit: a connection taking it ends one still waiting for its head.
    impl->options.connectionLimit = std::max(options.connectionLimit, 1u);
    const unsigned int limit = impl->options.connectionLimit + 1;
    const unsigned int perAddress = std::max(options.connectionsPerAddress, 1u);
    const auto idle = static_cast<unsigned int>(options.idleTimeout.count());

    MHD_OptionItem tls[] = {
        {secure ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0,
         const_cast<char *>(impl->certificate.c_str())},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char *>(impl->key.c_str())},
        {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char *>(kTlsPriorities)},
        {MHD_OPTION_END, 0, nullptr},
    };
    impl->daemon = MHD_start_daemon(
        flags, options.port, nullptr, nullptr, &Impl::OnRequest, impl.get(),
        MHD_OPTION_EXTERNAL_LOGGER, &LogDaemonMessage, nullptr, MHD_OPTION_SOCK_ADDR,
        reinterpret_cast<sockaddr *>(&address.storage), MHD_OPTION_THREAD_POOL_SIZE, threads,
        MHD_OPTION_CONNECTION_LIMIT, limit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, perAddress,
        MHD_OPTION_NOTIFY_CONNECTION, &Impl::OnConnection, impl.get(),
        MHD_OPTION_CONNECTION_TIMEOUT, idle, MHD_OPTION_UNESCAPE_CALLBACK, &KeepEscapes, nullptr,
        MHD_OPTION_URI_LOG_CALLBACK, &Impl::OnTarget, impl.get(), MHD_OPTION_NOTIFY_COMPLETED,
        &Impl::OnCompleted, impl.get(), MHD_OPTION_ARRAY, tls, MHD_OPTION_END);
    if (impl->daemon == nullptr) {
        *error = "cannot listen on " + options.address + " port " + std::to_string(options.port);
        return nullptr;
    }
    impl->watchdog = std::thread([raw = impl.get()] { raw->Watch(); });
    const MHD_DaemonInfo *info = MHD_get_daemon_info(impl->daemon, MHD_DAEMON_INFO_BIND_PORT);
    impl->port = info != nullptr && info->port != 0 ? info->port : options.port;
    return std::unique_ptr<Server>(new Server(std::move(impl)));
}

}  // namespace kel::console
