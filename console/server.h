// server.h: the console's HTTP server, the C++ interface kelconsole runs it with.
//
// The server listens on one address, serves requests on a pool of threads (service methods run
// concurrently on them) and answers each request through the Router once its body is complete.
// Limits that never let a request reach a page: a body over `maxBodySize` (413), a path component
// over 255 bytes (414), a decoded path holding a NUL byte (400), `connectionLimit` connections at
// once (`connectionsPerAddress` from one client address), `headTimeout` for the head of a request
// to arrive, `idleTimeout` without traffic on a connection, `requestTimeout` for reading a whole
// request. When every connection slot is taken, a new connection ends the oldest one still
// waiting for its head, so that connections trickling their heads cannot shut others out. Every
// request is logged as one line (access_log.h) on `accessLogFd`.
//
// Under TLS only TLS 1.2 and 1.3 with forward-secret AEAD suites are offered (kTlsPriorities), and
// every answer carries Strict-Transport-Security.
#ifndef KEL_CONSOLE_SERVER_H
#define KEL_CONSOLE_SERVER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/sessions.h"

namespace kel::console {

inline constexpr char kDefaultAddress[] = "127.0.0.1";
inline constexpr std::uint16_t kDefaultPort = 8080;
inline constexpr char kDefaultProductName[] = "Kel Console";
inline constexpr std::size_t kMaxBodySize = 1024 * 1024;
// The TLS versions and suites offered, as a GnuTLS priority string: TLS 1.2 and 1.3, ECDHE key
// exchange (in TLS 1.3 every exchange is ephemeral), AES-GCM and ChaCha20-Poly1305 only.
inline constexpr char kTlsPriorities[] =
    "NONE:+VERS-TLS1.3:+VERS-TLS1.2:+ECDHE-ECDSA:+ECDHE-RSA:+AES-256-GCM:+AES-128-GCM:"
    "+CHACHA20-POLY1305:+AEAD:+SIGN-ALL:+GROUP-ALL:+COMP-NULL:+CTYPE-X509:%SERVER_PRECEDENCE";

struct ServerOptions {
    std::string address = kDefaultAddress;  // an IPv4 or IPv6 address ("::1" or "[::1]")
    std::uint16_t port = kDefaultPort;      // 0: any free port (see Server::port)
    // TLS: both PEM files, or neither.
    std::string certificateFile;
    std::string keyFile;
    // Without TLS the server listens only on a loopback address, unless this is set.
    bool allowInsecureRemote = false;
    // Host names, besides the listening address (and "localhost" on a loopback address), that
    // the console answers to. A wildcard address (0.0.0.0, ::) needs at least one, here or as a
    // DNS name (or else the common name) of the TLS certificate; other names get 421.
    std::vector<std::string> serverNames;

    std::string accountFile;  // required; its API tokens lie beside it (tokens.h)
    // The console's own state: the audit trail (audit.h). Empty: an audit trail in memory, which
    // ends with the server (for tests).
    std::string stateDirectory;
    std::string logDirectory;  // the file viewer's directory
    std::string productName = kDefaultProductName;

    unsigned threads = 4;
    unsigned connectionLimit = 64;
    unsigned connectionsPerAddress = 16;
    std::chrono::seconds headTimeout{10};  // from the connection, or the end of its last request
    std::chrono::seconds idleTimeout{60};
    std::chrono::seconds requestTimeout{120};
    std::size_t maxBodySize = kMaxBodySize;

    std::chrono::seconds sessionIdle{30 * 60};
    std::chrono::seconds sessionLifetime = kDefaultSessionLifetime;  // however much it is used
    std::size_t maxSessions = 1000;
    std::size_t maxSessionsPerAccount = kDefaultSessionsPerAccount;
    // After the first failed login in a row, of an address or at a name (sessions.h).
    std::chrono::milliseconds loginDelay{1000};
    std::chrono::milliseconds longestLoginDelay{60 * 1000};
    Clock clock;  // null: the steady clock

    int accessLogFd = 2;  // -1: no access log
};

// True for 127.0.0.0/8, ::1 and IPv4-mapped 127.x addresses (brackets allowed around IPv6).
bool IsLoopbackAddress(std::string_view address);

// The host names the console answers to besides its address: `serverNames`, or on a wildcard
// address without any the DNS names of the certificate. False with *error when a wildcard address
// is left with none, or the certificate cannot be read.
bool ResolveServerNames(const ServerOptions &options, std::vector<std::string> *names,
                        std::string *error);

class Server {
  public:
    // Starts listening; null with *error set when the options are refused or the socket cannot
    // be opened.
    static std::unique_ptr<Server> Start(const ServerOptions &options, std::string *error);
    ~Server();  // stops
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Stops accepting, ends open connections and waits for every request thread.
    void Stop();
    std::uint16_t port() const;
    // "http://ADDRESS:PORT" (https under TLS), IPv6 addresses in brackets.
    std::string url() const;

    class Impl;

  private:
    explicit Server(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_SERVER_H
