// Tests of the console server's defences on the wire: heads that never finish, many connections
// from one address, the TLS versions and suites it accepts, and the host names it answers to when
// listening on a wildcard address. Client sockets are bound to other 127.x addresses to stand for
// other clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "live_console.h"

namespace {

using console_test::Get;
using console_test::LiveConsole;
using ::testing::HasSubstr;
using ::testing::Not;
using Clock = std::chrono::steady_clock;

// A TCP connection to 127.0.0.1:port from `source`; closed when it goes out of scope.
class Socket {
  public:
    Socket(const std::string &source, std::uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        connected_ = fd_ >= 0 &&
                     bind(fd_, reinterpret_cast<sockaddr *>(&from), sizeof(from)) == 0 &&
                     connect(fd_, reinterpret_cast<sockaddr *>(&to), sizeof(to)) == 0;
    }
    ~Socket() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    bool connected() const { return connected_; }
    bool Send(const std::string &text) const {
        return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    // True when the server ended the connection (end of stream or reset) within `wait`; what it
    // sent before is appended to *received.
    bool Ended(std::chrono::milliseconds wait, std::string *received = nullptr) const {
        const Clock::time_point until = Clock::now() + wait;
        while (Clock::now() < until) {
            pollfd ready{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (poll(&ready, 1, static_cast<int>(left.count()) + 1) <= 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = recv(fd_, buffer, sizeof(buffer), 0);
            if (got <= 0) {
                return true;
            }
            if (received != nullptr) {
                received->append(buffer, static_cast<std::size_t>(got));
            }
        }
        return false;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string ClientAddress(int index) {
    return "127.0.0." + std::to_string(2 + index);
}

std::uint16_t PortOf(const std::string &url) {
    return static_cast<std::uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
}

constexpr char kHeadStart[] = "GET /login HTTP/1.1\r\nHost: 127.0.0.1\r\n";

// The answer to a whole GET /login sent on a fresh connection from `source`, empty when the
// connection ends without one or none comes within `wait`.
std::string Fetch(const std::string &source, std::uint16_t port, const std::string &host,
                  std::chrono::milliseconds wait = std::chrono::seconds(5)) {
    Socket client(source, port);
    std::string answer;
    if (!client.connected() ||
        !client.Send("GET /login HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n") ||
        !client.Ended(wait, &answer)) {
        return {};
    }
    return answer;
}

TEST(ConsoleConnections, AHeadTrickledAByteAtATimeIsCutAtTheHeadTimeout) {
    kel::console::ServerOptions options;
    options.headTimeout = std::chrono::seconds(2);
    LiveConsole console(options);
    const std::uint16_t port = PortOf(console.url());
    std::vector<std::unique_ptr<Socket>> slow;
    for (int i = 0; i < 3; ++i) {
        slow.push_back(std::make_unique<Socket>(ClientAddress(i), port));
        ASSERT_TRUE(slow.back()->connected());
        ASSERT_TRUE(slow.back()->Send(kHeadStart));
    }
    // A byte every 300 ms keeps the idle timeout (60 s) from ever running out.
    const Clock::time_point start = Clock::now();
    std::vector<bool> ended(slow.size(), false);
    while (Clock::now() - start < std::chrono::seconds(8)) {
        bool all = true;
        for (std::size_t i = 0; i < slow.size(); ++i) {
            if (!ended[i]) {
                slow[i]->Send("X");
                ended[i] = slow[i]->Ended(std::chrono::milliseconds(100));
            }
            all = all && ended[i];
        }
        if (all) {
            break;
        }
    }
    for (std::size_t i = 0; i < slow.size(); ++i) {
        EXPECT_TRUE(ended[i]) << "slow connection " << i << " still open";
    }
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_THAT(Fetch("127.0.0.1", port, "127.0.0.1"), HasSubstr("HTTP/1.1 200"));
}

TEST(ConsoleConnections, AFreshRequestIsAnsweredWhileEverySlotHoldsASlowHead) {
    kel::console::ServerOptions options;
    options.headTimeout = std::chrono::seconds(60);  // only the full slots can free one
    LiveConsole console(options);
    const std::uint16_t port = PortOf(console.url());
    ASSERT_EQ(options.connectionLimit, 64u);
    std::vector<std::unique_ptr<Socket>> slow;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<Socket>(ClientAddress(i), port));
        ASSERT_TRUE(slow.back()->connected());
        ASSERT_TRUE(slow.back()->Send(kHeadStart));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // all of them taken in
    for (int round = 0; round < 3; ++round) {
        EXPECT_THAT(Fetch("127.0.0.200", port, "127.0.0.1", std::chrono::seconds(4)),
                    HasSubstr("HTTP/1.1 200"))
            << "round " << round;
    }
    // Each fresh request ended one slow head; the rest are still held.
    int open = 0;
    for (const auto &socket : slow) {
        open += socket->Ended(std::chrono::milliseconds(1)) ? 0 : 1;
    }
    EXPECT_GE(open, 60);
    EXPECT_LT(open, 64);
}

TEST(ConsoleConnections, OneAddressHoldsAtMostItsShareOfTheSlots) {
    kel::console::ServerOptions options;
    options.connectionsPerAddress = 2;
    LiveConsole console(options);
    const std::uint16_t port = PortOf(console.url());
    Socket first("127.0.0.1", port);
    Socket second("127.0.0.1", port);
    ASSERT_TRUE(first.Send(kHeadStart));
    ASSERT_TRUE(second.Send(kHeadStart));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    std::string answer;
    Socket third("127.0.0.1", port);
    ASSERT_TRUE(third.connected());
    third.Send("GET /login HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(third.Ended(std::chrono::seconds(5), &answer));
    EXPECT_EQ(answer, "");
    EXPECT_THAT(Fetch(ClientAddress(0), port, "127.0.0.1"), HasSubstr("HTTP/1.1 200"));
}

// A self-signed certificate and its key in `dir`, made by openssl; `subject` and `extension`
// as for openssl req -subj and -addext (empty: none).
void MakeCertificate(const testing_support::TempDir &dir, const std::string &subject,
                     const std::string &extension) {
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout " + dir.File("key.pem") +
        " -out " + dir.File("cert.pem") + " -subj '" + subject + "'" +
        (extension.empty() ? "" : " -addext '" + extension + "'") + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// What openssl s_client prints when it connects to 127.0.0.1:port with `arguments` and sends
// `input`.
std::string TlsClient(std::uint16_t port, const std::string &arguments,
                      const std::string &input = {}) {
    const std::string command = "printf '" + input + "' | timeout 10 openssl s_client " +
                                (input.empty() ? "" : "-ign_eof ") +
                                "-connect 127.0.0.1:" + std::to_string(port) + " " + arguments +
                                " 2>&1";
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
        output.append(buffer, got);
    }
    pclose(pipe);
    return output;
}

TEST(ConsoleTls, OnlyTls12And13WithForwardSecretAeadSuites) {
    testing_support::TempDir keys;
    MakeCertificate(keys, "/CN=127.0.0.1", "");
    kel::console::ServerOptions options;
    options.certificateFile = keys.File("cert.pem");
    options.keyFile = keys.File("key.pem");
    LiveConsole console(options);
    const std::uint16_t port = PortOf(console.url());
    // SECLEVEL=0 lets the client offer what it would otherwise leave out.
    const struct {
        const char *arguments;
        const char *cipher;  // what is agreed; "(NONE)": refused
    } cases[] = {
        {"-tls1_1 -cipher DEFAULT@SECLEVEL=0", "(NONE)"},
        {"-tls1 -cipher DEFAULT@SECLEVEL=0", "(NONE)"},
        {"-tls1_2 -cipher AES128-GCM-SHA256", "(NONE)"},        // RSA key exchange
        {"-tls1_2 -cipher ECDHE-RSA-AES128-SHA256", "(NONE)"},  // CBC
        {"-tls1_2 -cipher DHE-RSA-AES128-GCM-SHA256", "(NONE)"},
        {"-tls1_2 -cipher ECDHE-RSA-AES128-GCM-SHA256", "ECDHE-RSA-AES128-GCM-SHA256"},
        {"-tls1_2 -cipher ECDHE-RSA-CHACHA20-POLY1305", "ECDHE-RSA-CHACHA20-POLY1305"},
        {"-tls1_3", "TLS_AES_256_GCM_SHA384"},
    };
    for (const auto &c : cases) {
        EXPECT_THAT(TlsClient(port, c.arguments), HasSubstr(std::string("Cipher is ") + c.cipher))
            << c.arguments;
    }
    const std::string answer =
        TlsClient(port, "-quiet",
                  "GET /login HTTP/1.1\\r\\nHost: 127.0.0.1\\r\\nConnection: close\\r\\n\\r\\n");
    EXPECT_THAT(answer, HasSubstr("HTTP/1.1 200"));
    EXPECT_THAT(answer, HasSubstr("\r\nStrict-Transport-Security: max-age=31536000\r\n"));

    LiveConsole plain;
    const console_test::HttpResponse response = Get(plain.At("/login"));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.Header("Strict-Transport-Security"), "");
}

// Starts a server on 0.0.0.0 and a free port; null with *error when it is refused.
std::unique_ptr<kel::console::Server> StartWildcard(kel::console::ServerOptions options,
                                                    std::string *error) {
    options.address = "0.0.0.0";
    options.port = 0;
    options.accountFile = console_test::SharedAccountFile();
    options.accessLogFd = -1;
    options.allowInsecureRemote = true;
    return kel::console::Server::Start(options, error);
}

TEST(ConsoleServerStart, AWildcardAddressAnswersOnlyItsNamedHosts) {
    std::string error;
    kel::console::ServerOptions options;
    EXPECT_EQ(StartWildcard(options, &error), nullptr);
    EXPECT_THAT(error, HasSubstr("needs the host names to answer to: give --server-name"));
    options.address = "::";
    error.clear();
    options.port = 0;
    options.accountFile = console_test::SharedAccountFile();
    options.allowInsecureRemote = true;
    EXPECT_EQ(kel::console::Server::Start(options, &error), nullptr);
    EXPECT_THAT(error, HasSubstr("wildcard address ::"));

    options.serverNames = {"Console.Test"};
    std::unique_ptr<kel::console::Server> server = StartWildcard(options, &error);
    ASSERT_NE(server, nullptr) << error;
    const std::uint16_t port = server->port();
    EXPECT_THAT(Fetch("127.0.0.1", port, "evil.example"), HasSubstr("HTTP/1.1 421"));
    EXPECT_THAT(Fetch("127.0.0.1", port, "console.test:8080"), HasSubstr("HTTP/1.1 200"));
    EXPECT_THAT(Fetch("127.0.0.1", port, "0.0.0.0"), HasSubstr("HTTP/1.1 200"));
}

TEST(ConsoleServerStart, AWildcardAddressTakesTheCertificatesNames) {
    struct Case {
        const char *subject;
        const char *extension;
        std::vector<std::string> served;
        std::vector<std::string> refused;
    } cases[] = {
        {"/CN=ignored.test",
         "subjectAltName=DNS:console.test,DNS:*.wild.test,DNS:alt.test",
         {"console.test", "alt.test"},
         {"ignored.test", "a.wild.test", "evil.example"}},
        {"/CN=common.test", "", {"common.test"}, {"evil.example"}},
    };
    for (const Case &c : cases) {
        testing_support::TempDir keys;
        MakeCertificate(keys, c.subject, c.extension);
        kel::console::ServerOptions options;
        options.certificateFile = keys.File("cert.pem");
        options.keyFile = keys.File("key.pem");
        std::string error;
        std::unique_ptr<kel::console::Server> server = StartWildcard(options, &error);
        ASSERT_NE(server, nullptr) << error;
        const std::uint16_t port = server->port();
        for (const std::string &name : c.served) {
            const std::string answer = TlsClient(
                port, "-quiet",
                "GET /login HTTP/1.1\\r\\nHost: " + name + "\\r\\nConnection: close\\r\\n\\r\\n");
            EXPECT_THAT(answer, HasSubstr("HTTP/1.1 200")) << name;
        }
        for (const std::string &name : c.refused) {
            const std::string answer = TlsClient(
                port, "-quiet",
                "GET /login HTTP/1.1\\r\\nHost: " + name + "\\r\\nConnection: close\\r\\n\\r\\n");
            EXPECT_THAT(answer, HasSubstr("HTTP/1.1 421")) << name;
            EXPECT_THAT(answer, Not(HasSubstr("HTTP/1.1 200"))) << name;
        }
    }

    testing_support::TempDir keys;
    MakeCertificate(keys, "/O=No Name", "");
    kel::console::ServerOptions options;
    options.certificateFile = keys.File("cert.pem");
    options.keyFile = keys.File("key.pem");
    std::string error;
    EXPECT_EQ(StartWildcard(options, &error), nullptr);
    EXPECT_THAT(error, HasSubstr("the certificate names no host"));
}

}  // namespace
