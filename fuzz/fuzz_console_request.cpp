// fuzz_console_request: whole HTTP requests sent to the console's server over loopback.
//
// The process starts the real server once (libmicrohttpd, the router, the sessions, the file
// viewer) on a free port of 127.0.0.1, with two accounts, a log directory holding a file and a
// symbolic link that leads out of it, and one service method registered through the host
// interface. It logs in once for a live session id. Every input then sends one to three requests,
// each on a connection of its own: the method, the target, the version, the Host, Cookie, Origin,
// Referer, Sec-Fetch-Site, Content-Length and Transfer-Encoding headers, raw header lines, the
// body (a login form, or any bytes), and the script the service method follows (the host
// operations it calls, with texts, statuses and lengths of the input's choosing).
//
// Between requests the input may change the account file: the administrator's role, password
// (a new hash) or line, the account without rights, or a file the console cannot parse.
//
// Checked for every answer:
//   - the console answers within 10 s with a status line and a status from 100 to 599, and no
//     500 unless the service method ran;
//   - the service method runs only for a request that carried the live session id (in whatever
//     bytes) and, for a POST, the console's own origin; the access word it gets is the account's;
//   - the log file's contents reach only a request that carried the live session id, and the file
//     outside the log directory never reaches anyone;
//   - no answer the console writes itself (the service method did not run) sets a header of the
//     request's choosing: every Location is a path of this console, no header line begins with
//     "Z" (no header of the console does), and a service method's answer never sets a cookie;
//   - once the administrator's account changed, the live session (begun before) runs nothing.
// The live session is logged in again after any answer that set a cookie (a login or logout).
#include <arpa/inet.h>
#include <crypt.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "console/account_file.h"
#include "console/ascii.h"
#include "console/router.h"
#include "console/server.h"
#include "fuzz/input.h"
#include "kel/host.h"

namespace kel2cifs::fuzz {
namespace {

constexpr char kKeyword[] = "fuzzpage";
constexpr char kPassword[] = "fuzz-password-1";
constexpr unsigned int kAccess = kel::console::kAdministratorAccess;
// Lines no page writes: the log file's, and the one of the file outside the log directory.
constexpr std::string_view kLogSecret = "kel-fuzz-log-file-line";
constexpr std::string_view kOutsideSecret = "kel-fuzz-outside-file-line";

// --- The service method and its script ---------------------------------------------------------

enum Operation : uint8_t {
    kReadMethod,
    kReadPath,
    kConvertPath,
    kReadBody,
    kOpen,
    kHeader,
    kWrite,
    kEnd,
    kError,
    kErrorPackage,
    kOpenHandBuilt,
    kAddHeaders,
    kSendHeaders,
    kThrow,
    kOperationCount
};

struct Step {
    Operation operation = kReadMethod;
    std::string text;
    std::string text2;
    int number = 0;
    bool nullText = false;
};

struct Script {
    std::vector<Step> steps;
    int result = 200;
};

std::mutex g_mutex;
Script g_script;
int g_runs = 0;                        // times the method ran since the last reset
std::vector<unsigned int> g_accesses;  // the access word of each run

const char *TextOrNull(const Step &step, const std::string &text) {
    return step.nullText ? nullptr : text.c_str();
}

int WriteScript(void *request) {
    HttpSendDataSprintf(request, "<script>/* %d */</script>\n", 1);
    return 0;
}

int FuzzPage(void *request, int, int, unsigned int access) {
    Script script;
    {
        std::lock_guard lock(g_mutex);
        script = g_script;
        ++g_runs;
        g_accesses.push_back(access);
    }
    for (const Step &step : script.steps) {
        switch (step.operation) {
            case kReadMethod: {
                int code = -1;
                HttpReturnRequestMethod(request, &code);
                break;
            }
            case kReadPath:
            case kConvertPath: {
                char *path = nullptr;
                if (HttpReturnPathBuffers(request, nullptr, &path, nullptr) == 0 &&
                    path != nullptr) {
                    // The whole text is readable (an earlier step may have converted it already).
                    const std::size_t length = std::strlen(path);
                    if (step.operation == kConvertPath && length > 0 && path[0] == '/') {
                        ConvertToComponentPath(path);
                    }
                }
                break;
            }
            case kReadBody: {
                char *data = nullptr;
                unsigned long length = 0;
                if (HttpReturnPostDataBuffer(request, &data, &length) == 0 && data != nullptr) {
                    volatile char sum = 0;
                    for (unsigned long i = 0; i < length; ++i) {
                        sum = static_cast<char>(sum + data[i]);
                    }
                    data[length] = '\0';  // the host keeps room for a terminator
                    char value[64];
                    int size = sizeof(value);
                    HttpFindNameAndValue(data, step.text.c_str(), value, &size);
                }
                break;
            }
            case kOpen:
                HttpSendSuccessfulResponse(
                    request,
                    step.nullText ? nullptr : HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE));
                break;
            case kHeader:
                BuildAndSendHeader(request, TextOrNull(step, step.text),
                                   TextOrNull(step, step.text2), 0, 0,
                                   static_cast<unsigned int>(step.number),
                                   (step.number & 1) != 0 ? WriteScript : nullptr,
                                   TextOrNull(step, step.text), TextOrNull(step, step.text2));
                break;
            case kWrite:
                HttpSendDataSprintf(request, "%s", step.text.c_str());
                break;
            case kEnd:
                HttpEndDataResponse(request);
                break;
            case kError:
                HttpSendErrorResponse(request, step.number);
                break;
            case kErrorPackage:
                // The length the input chose, within the text and its terminator.
                HttpSendErrorPackageResponse(
                    request, step.number, TextOrNull(step, step.text),
                    step.nullText ? 0
                                  : static_cast<int>(static_cast<unsigned>(step.number) %
                                                     (step.text.size() + 2)) -
                                        1);
                break;
            case kOpenHandBuilt:
                HttpOpenResponseHeaderTag(request, step.number);
                break;
            case kAddHeaders:
                HttpAddResponseHeaderTags(request, TextOrNull(step, step.text),
                                          step.nullText ? 0 : static_cast<int>(step.text.size()));
                break;
            case kSendHeaders:
                HttpSendResponseHeader(request);
                break;
            case kThrow:
                throw std::runtime_error("a service method failed");
            case kOperationCount:
                break;
        }
    }
    return script.result;
}

// --- The console under test ----------------------------------------------------------------------

struct Console {
    std::string root;
    std::string logDirectory;
    std::unique_ptr<kel::console::Server> server;
    std::uint16_t port = 0;
    std::string ownOrigin;     // "http://127.0.0.1:PORT"
    std::string ownLocalhost;  // "http://localhost:PORT"
    std::string sessionId;     // the live session
    std::string accountFile;
    std::string adminLine;   // the account file's lines as Setup wrote them
    std::string viewerLine;  // (an account without rights)
};

Console *g_console = nullptr;

void RemoveRoot() {
    if (g_console != nullptr) {
        g_console->server.reset();
        std::error_code ignored;
        std::filesystem::remove_all(g_console->root, ignored);
    }
}

void WriteFile(const std::string &path, std::string_view text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    Require(static_cast<bool>(out), "cannot write " + path);
}

// A yescrypt hash of the lowest cost, so that a login costs little.
std::string CheapHash(const char *password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    Require(crypt_gensalt_rn("$y$", 1, nullptr, 0, setting, sizeof(setting)) != nullptr,
            "crypt_gensalt_rn failed");
    crypt_data data{};
    const char *hash = crypt_r(password, setting, &data);
    Require(hash != nullptr && hash[0] == '$', "crypt_r failed");
    return hash;
}

struct Answer {
    bool answered = false;  // any byte came back
    int status = 0;
    std::vector<std::string> headerLines;
    std::string body;
    std::string raw;

    std::string Header(std::string_view name) const {
        for (const std::string &line : headerLines) {
            if (line.size() > name.size() && line[name.size()] == ':' &&
                strncasecmp(line.c_str(), std::string(name).c_str(), name.size()) == 0) {
                std::size_t at = name.size() + 1;
                while (at < line.size() && line[at] == ' ') {
                    ++at;
                }
                return line.substr(at);
            }
        }
        return {};
    }
};

Answer Parse(std::string raw) {
    Answer answer;
    answer.answered = !raw.empty();
    answer.raw = std::move(raw);
    const std::string &text = answer.raw;
    const std::size_t end = text.find("\r\n\r\n");
    const std::string head = text.substr(0, end);
    answer.body = end == std::string::npos ? std::string() : text.substr(end + 4);
    std::size_t at = 0;
    bool first = true;
    while (at <= head.size()) {
        std::size_t next = head.find("\r\n", at);
        if (next == std::string::npos) {
            next = head.size();
        }
        const std::string line = head.substr(at, next - at);
        if (first) {
            if (line.size() >= 12 && line.starts_with("HTTP/1.")) {
                answer.status = std::atoi(line.substr(9, 3).c_str());
            }
            first = false;
        } else {
            answer.headerLines.push_back(line);
        }
        at = next + 2;
    }
    return answer;
}

// Sends `bytes` on a connection of its own, ends the sending side and reads until the console
// closes it.
Answer Exchange(std::string_view bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Require(fd >= 0, "socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(g_console->port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        close(fd);
        Fail(std::string("the console refused a connection: ") + std::strerror(errno));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::size_t sent = 0;
    std::string received;
    bool sending = true;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            close(fd);
            Fail("the console did not answer within 10 s");
        }
        pollfd watched{fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
        if (poll(&watched, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        if (sending && (watched.revents & POLLOUT) != 0) {
            const ssize_t put = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (put > 0) {
                sent += static_cast<std::size_t>(put);
            }
            if (put < 0 || sent == bytes.size()) {
                sending = false;  // all sent, or the console stopped reading
                shutdown(fd, SHUT_WR);
            }
        }
        if ((watched.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char buffer[16384];
            const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
            if (got > 0) {
                received.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                break;  // closed, or reset after the answer
            }
        }
    }
    close(fd);
    return Parse(std::move(received));
}

std::string SessionIdOf(const Answer &answer) {
    const std::string cookie = answer.Header("Set-Cookie");
    const std::string prefix = std::string(kel::console::kSessionCookie) + "=";
    if (!cookie.starts_with(prefix)) {
        return {};
    }
    return cookie.substr(prefix.size(), cookie.find(';') - prefix.size());
}

void LogIn() {
    const std::string body = std::string("name=admin&password=") + kPassword;
    const std::string request =
        "POST /login HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(g_console->port) +
        "\r\nOrigin: " + g_console->ownOrigin +
        "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    // A login may have to wait for the delay after failed ones.
    for (int attempt = 0; attempt < 50; ++attempt) {
        const Answer answer = Exchange(request);
        if (answer.status == 303) {
            g_console->sessionId = SessionIdOf(answer);
            Require(g_console->sessionId.size() == kel::console::kSessionIdLength,
                    "the login gave no session id: " + answer.raw);
            return;
        }
        Require(answer.status == 429, "the login failed: " + answer.raw);
        usleep(10 * 1000);
    }
    Fail("the login was refused again and again");
}

// --- Changes to the account file between requests ---------------------------------------------

enum AccountChange : uint8_t {
    kKeepAccounts,
    kAdminWithoutRights,
    kAdminNewPassword,  // the same password under a new salt: another hash
    kAdminDeleted,
    kViewerMadeAdmin,
    kViewerDeleted,
    kBrokenFile,  // for one request; the accounts read last stay in force
    kAccountChangeCount
};

// The account file as an input has changed it so far.
struct Accounts {
    std::string admin;
    std::string viewer;
    bool adminChanged = false;
    bool changed = false;
};

// Replaces the account file as `kelconsole passwd` does: a new file renamed over the old one.
void WriteAccountFile(const std::string &text) {
    const std::string temporary = g_console->accountFile + ".new";
    WriteFile(temporary, text);
    Require(rename(temporary.c_str(), g_console->accountFile.c_str()) == 0,
            "cannot replace the account file");
}

void WriteAccounts(const Accounts &accounts) {
    WriteAccountFile(accounts.admin + accounts.viewer);
}

void Apply(AccountChange change, Accounts &accounts) {
    switch (change) {
        case kKeepAccounts:
        case kAccountChangeCount:
            return;
        case kAdminWithoutRights:
            accounts.admin = accounts.admin.substr(0, accounts.admin.rfind(':')) + ":0x00000000\n";
            accounts.adminChanged = true;
            break;
        case kAdminNewPassword:
            if (!accounts.admin.empty()) {
                accounts.admin = "admin:" + CheapHash(kPassword) +
                                 accounts.admin.substr(accounts.admin.rfind(':'));
            }
            accounts.adminChanged = true;
            break;
        case kAdminDeleted:
            accounts.admin.clear();
            accounts.adminChanged = true;
            break;
        case kViewerMadeAdmin:
            accounts.viewer =
                accounts.viewer.substr(0, accounts.viewer.rfind(':')) + ":0x0000000b\n";
            break;
        case kViewerDeleted:
            accounts.viewer.clear();
            break;
        case kBrokenFile:
            accounts.changed = true;
            WriteAccountFile("admin:not a hash:but a line the console refuses\n");
            return;
    }
    // A line already deleted is not brought back by a change of its role.
    for (std::string *line : {&accounts.admin, &accounts.viewer}) {
        if (line->starts_with(":")) {
            line->clear();
        }
    }
    accounts.changed = true;
    WriteAccounts(accounts);
}

void Setup() {
    if (g_console != nullptr) {
        return;
    }
    const char *base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kel-console-fuzz-XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr, "mkdtemp failed for " + pattern);
    auto *console = new Console;
    console->root = pattern;
    console->logDirectory = console->root + "/log";
    std::filesystem::create_directory(console->logDirectory);
    WriteFile(console->logDirectory + "/fuzz.log", std::string(kLogSecret) + "\n");
    WriteFile(console->root + "/outside.txt", std::string(kOutsideSecret) + "\n");
    std::filesystem::create_symlink(console->root + "/outside.txt",
                                    console->logDirectory + "/outside.log");
    char access[16];
    std::snprintf(access, sizeof(access), "0x%08x", kAccess);
    console->accountFile = console->root + "/accounts";
    console->adminLine = "admin:" + CheapHash(kPassword) + ":" + access + "\n";
    console->viewerLine = "viewer:" + CheapHash(kPassword) + ":0x00000000\n";
    WriteFile(console->accountFile, console->adminLine + console->viewerLine);
    chmod(console->accountFile.c_str(), 0600);
    g_console = console;
    std::atexit(RemoveRoot);

    ServiceGroup group{0, 0, "Fuzz"};
    int status = -1;
    Require(RegisterServiceMethodEx("Fuzz Page", kKeyword, sizeof(kKeyword) - 1, &group, 0, nullptr,
                                    FuzzPage, nullptr, &status) != 0,
            "the service method could not be registered");

    kel::console::ServerOptions options;
    options.port = 0;
    options.accountFile = console->root + "/accounts";
    options.logDirectory = console->logDirectory;
    options.threads = 2;
    // An input can leave a request unfinished (a raw header line claiming a body never sent):
    // the server then waits out these before it closes the connection.
    options.idleTimeout = std::chrono::seconds(1);
    options.requestTimeout = std::chrono::seconds(1);
    options.maxBodySize = 64 * 1024;
    options.loginDelay = std::chrono::milliseconds(1);
    options.longestLoginDelay = std::chrono::milliseconds(4);
    options.accessLogFd = open("/dev/null", O_WRONLY | O_CLOEXEC);  // written, then discarded
    std::string error;
    console->server = kel::console::Server::Start(options, &error);
    Require(console->server != nullptr, "the console did not start: " + error);
    console->port = console->server->port();
    console->ownOrigin = "http://127.0.0.1:" + std::to_string(console->port);
    console->ownLocalhost = "http://localhost:" + std::to_string(console->port);
    LogIn();
}

// --- Building a request from the input -----------------------------------------------------

std::string Target(FuzzedDataProvider &in) {
    const std::string &log = g_console->logDirectory;
    const std::vector<std::string> targets = {
        "/",
        "/login",
        "/login?next=%2Ffuzzpage%2FVOL1",
        "/login?next=%2F%2Fevil.example",
        "/logout",
        "/fuzzpage",
        "/fuzzpage/VOL1/dir/file.doc",
        "/fuzzpage?SORT=2",
        "/FUZZPAGE",
        "/nothing",
        "/console/console.css",
        "/console/icon.png",
        "/opt/zantio/kel/sorted.png",
        log + "/fuzz.log?VIEW",
        log + "/outside.log?VIEW",
        log + "/../outside.txt?VIEW",
        log + "/%2e%2e/outside.txt?VIEW",
        g_console->root + "/outside.txt?VIEW",
        "/fuzzpage/" + std::string(300, 'a'),
        "/fuzzpage/a%00b",
    };
    std::vector<std::string_view> choices(targets.begin(), targets.end());
    std::string target = OneOf(in, choices, 400);
    if (in.ConsumeIntegral<uint8_t>() >= 192) {
        target += PathText(in, 600);
    }
    return target;
}

struct Built {
    std::string bytes;
    bool post = false;
};

Built BuildRequest(FuzzedDataProvider &in) {
    Built built;
    const std::string method = OneOf(in, {"GET", "POST", "HEAD", "PUT", "OPTIONS", "get"}, 12);
    built.post = method == "POST";
    const std::string target = Target(in);
    const std::string version = OneOf(in, {"HTTP/1.1", "HTTP/1.0", "HTTP/2.0"}, 12);
    const std::string port = std::to_string(g_console->port);
    const std::string &id = g_console->sessionId;

    std::string headers;
    const std::string host = OneOf(
        in, {"127.0.0.1:" + port, "localhost:" + port, "evil.example", "[::1]:" + port, ""}, 64);
    if (!host.empty() || in.ConsumeBool()) {
        headers += "Host: " + host + "\r\n";
    }
    const std::string cookie =
        OneOf(in,
              {"", "kelsession=" + id, "a=b; kelsession=" + id + "; c=d",
               "kelsession=\"" + id + "\"", "kelsession=" + id.substr(0, 63),
               "kelsession=" + id + "0", "kelsession=", "__Host-kelsession=" + id,
               // A cookie planted by another port of the same host, before or after the live one.
               "kelsession=" + std::string(64, '0') + "; kelsession=" + id,
               "kelsession=" + id + "; kelsession=" + std::string(64, '0')},
              200);
    if (!cookie.empty()) {
        headers += "Cookie: " + cookie + "\r\n";
    }
    const std::string origin = OneOf(
        in, {"", g_console->ownOrigin, g_console->ownLocalhost, "http://evil.example", "null"}, 64);
    if (!origin.empty()) {
        headers += "Origin: " + origin + "\r\n";
    }
    const std::string referer = OneOf(in,
                                      {"", g_console->ownOrigin + "/fuzzpage",
                                       g_console->ownOrigin + "x", "http://evil.example/"},
                                      64);
    if (!referer.empty()) {
        headers += "Referer: " + referer + "\r\n";
    }
    const std::string site = OneOf(in, {"", "same-origin", "cross-site", "same-site", "none"}, 16);
    if (!site.empty()) {
        headers += "Sec-Fetch-Site: " + site + "\r\n";
    }

    std::string body;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            break;
        case 1:
            body = "name=" + OneOf(in, {"admin", "viewer", "nobody", ""}, 80);
            body += "&password=" + OneOf(in, {kPassword, "wrong", ""}, 80);
            if (in.ConsumeBool()) {
                body +=
                    "&next=" + OneOf(in, {"%2Ffuzzpage", "%2F%2Fevil.example", "http://evil"}, 80);
            }
            break;
        default:
            body = PathText(in, 4096);
            break;
    }
    const bool chunked = in.ConsumeIntegral<uint8_t>() >= 232;
    if (chunked) {
        headers += "Transfer-Encoding: chunked\r\n";
        char size[32];
        std::snprintf(size, sizeof(size), "%zx\r\n", body.size());
        body = (body.empty() ? "" : size + body + "\r\n") + "0\r\n\r\n";
    } else if (!body.empty() || built.post) {
        const uint8_t mode = in.ConsumeIntegral<uint8_t>();
        if (mode < 200) {
            headers += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        } else if (mode < 220) {
            // Shorter than the body: the rest is read as the next request on the connection.
            // (A longer one only makes the server wait out its timeout for bytes never sent.)
            const std::size_t shorter = in.ConsumeIntegralInRange<std::size_t>(1, 100);
            headers += "Content-Length: " +
                       std::to_string(body.size() > shorter ? body.size() - shorter : 0) + "\r\n";
        } else if (mode < 240) {
            headers += "Content-Length: " +
                       OneOf(in, {"99999999999999999999", "-1", "1048577", " 5", "0x10"}, 24) +
                       "\r\n";
        }
    }
    if (in.ConsumeIntegral<uint8_t>() < 224) {
        headers += "Content-Type: application/x-www-form-urlencoded\r\n";
    }
    if (in.ConsumeIntegral<uint8_t>() >= 208) {
        headers += Text(in, 300) + "\r\n";  // raw lines: anything at all
    }
    headers += "Connection: close\r\n";
    built.bytes = method + " " + target + " " + version + "\r\n" + headers + "\r\n" + body;
    return built;
}

Script BuildScript(FuzzedDataProvider &in) {
    Script script;
    const std::size_t steps = in.ConsumeIntegralInRange<std::size_t>(0, 10);
    for (std::size_t i = 0; i < steps; ++i) {
        Step step;
        step.operation = static_cast<Operation>(
            in.ConsumeIntegralInRange<int>(0, static_cast<int>(kOperationCount) - 1));
        step.nullText = in.ConsumeIntegral<uint8_t>() >= 240;
        static constexpr int kNumbers[] = {200, 302, 404, 500, 16, 17, 0, 599};
        const uint8_t pick = in.ConsumeIntegral<uint8_t>();
        step.number = pick < 200 ? kNumbers[pick % 8] : in.ConsumeIntegral<int>();
        step.text = PathText(in, 600);
        step.text2 = Text(in, 64);
        script.steps.push_back(std::move(step));
    }
    const uint8_t result = in.ConsumeIntegral<uint8_t>();
    script.result = result < 160   ? 200
                    : result < 200 ? 0
                    : result < 224 ? 500
                                   : in.ConsumeIntegral<int>();
    return script;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

void Check(const Built &request, const Answer &answer, bool methodRan) {
    const std::string shown = "\n--- request:\n" + request.bytes + "\n--- answer:\n" + answer.raw;
    if (!answer.answered) {
        return;  // a request the server would not read (it may close such a connection)
    }
    Require(answer.status >= 100 && answer.status <= 599, "no status line in the answer" + shown);
    Require(answer.status != 500 || methodRan, "500 without the service method running" + shown);

    const bool carriedSession = Contains(request.bytes, g_console->sessionId);
    const std::string lowered = kel::console::LowerAscii(request.bytes);
    const bool carriedOrigin = Contains(lowered, kel::console::LowerAscii(g_console->ownOrigin)) ||
                               Contains(lowered, kel::console::LowerAscii(g_console->ownLocalhost));
    if (methodRan) {
        Require(carriedSession, "the service method ran without the live session" + shown);
        Require(!request.post || carriedOrigin,
                "a POST from another origin reached the service method" + shown);
        Require(answer.Header("Set-Cookie").empty(),
                "a service method's answer set a cookie" + shown);
    }
    if (Contains(answer.body, kLogSecret) && !Contains(request.bytes, kLogSecret)) {
        Require(carriedSession, "the file viewer showed a file without a session" + shown);
    }
    // An answer of the service method holds what the input scripted it to write, the secret's
    // bytes included; only the console's own answers (the file viewer's) must never hold it.
    Require(methodRan || !Contains(answer.raw, kOutsideSecret) ||
                Contains(request.bytes, kOutsideSecret),
            "the file viewer showed a file outside the log directory" + shown);
    if (!methodRan) {
        const std::string location = answer.Header("Location");
        Require(location.empty() ||
                    (location[0] == '/' &&
                     (location.size() == 1 || (location[1] != '/' && location[1] != '\\'))),
                "the console redirected away from itself" + shown);
        for (const std::string &line : answer.headerLines) {
            Require(line.empty() || (line[0] != 'z' && line[0] != 'Z'),
                    "a header of the request's choosing was set" + shown);
        }
    }
}

}  // namespace
}  // namespace kel2cifs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    using namespace kel2cifs::fuzz;
    Setup();
    FuzzedDataProvider in(data, size);
    const Script script = BuildScript(in);
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(1, 3);
    std::vector<Built> requests;
    for (std::size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        requests.push_back(BuildRequest(in));
    }
    // Read after the requests, so that inputs made before account changes existed keep their
    // meaning (a provider out of bytes gives kKeepAccounts).
    std::vector<AccountChange> changes;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        changes.push_back(static_cast<AccountChange>(
            in.ConsumeIntegralInRange<int>(0, static_cast<int>(kAccountChangeCount) - 1)));
    }
    Accounts accounts{g_console->adminLine, g_console->viewerLine};
    bool relogin = false;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Built &request = requests[i];
        if (i > 0 && changes[i - 1] == kBrokenFile) {
            WriteAccounts(accounts);  // the broken file lasted one request
        }
        Apply(changes[i], accounts);
        const bool broken = changes[i] == kBrokenFile;
        {
            std::lock_guard lock(g_mutex);
            g_script = script;
            g_runs = 0;
            g_accesses.clear();
        }
        const Answer answer = Exchange(request.bytes);
        int runs = 0;
        std::vector<unsigned int> accesses;
        {
            std::lock_guard lock(g_mutex);
            runs = g_runs;
            accesses = g_accesses;
        }
        Require(runs <= 1, "the service method ran more than once for one request");
        // While the file is broken the console keeps the accounts it read last, which need not
        // hold the change yet.
        Require(runs == 0 || !accounts.adminChanged || broken,
                "the service method ran for a session whose account has changed since its login");
        for (const unsigned int access : accesses) {
            Require(access == kAccess, "the service method got another account's access word");
        }
        if (std::getenv("KEL2CIFS_FUZZ_SHOW") != nullptr) {
            std::fprintf(stderr, "--- request:\n%s\n--- answer (method ran: %d):\n%s\n\n",
                         request.bytes.c_str(), runs, answer.raw.c_str());
        }
        Check(request, answer, runs > 0);
        relogin = relogin || !answer.Header("Set-Cookie").empty();
    }
    if (accounts.changed) {
        WriteAccountFile(g_console->adminLine + g_console->viewerLine);
    }
    if (relogin || accounts.adminChanged) {
        LogIn();  // a login, a logout or a change of the account ended the live session
    }
    return 0;
}
