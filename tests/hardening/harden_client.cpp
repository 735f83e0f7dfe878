// harden_client.cpp: drives a running console with the plug-in and demo data, as administrators'
// browsers do, and checks every answer.
//
//   harden_client race --url URL --user NAME --password TEXT [--threads N] [--seconds S]
//                      [--log-file PATH]
//       N threads (default 8), each logged in on its own, request the three pages, their sort
//       orders, filters, details and help, view the log and close files, for S seconds
//       (default 30).
//   harden_client sequence --url URL --user NAME --password TEXT --viewer NAME
//                          --viewer-password TEXT --log-file PATH [--login-delay MS]
//       Every page and action once, in a browser's order: login (with a wrong password first),
//       the home page, every page with each sort order, filter, details, closing files, closing
//       all of a connection's files, help pages, error pages, the console's own refusals, the
//       log and the file viewer, an account without rights, logout.
//
// Prints what it did, every unexpected answer, and a closing "N passed, N failed" line. Exit
// status 0 only when every answer was as expected.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hardening/console_client.h"

namespace {

using hardening::Browser;
using hardening::Response;

constexpr const char *kOpenFileSorts[] = {"ConnectionNumber", "UserName", "FileName"};
constexpr const char *kConnectionSorts[] = {
    "",           "ConnectionNumber", "ConnectionName", "LoginTime",
    "FSActivity", "ZupRequest",       "ConnectionType"};
constexpr const char *kHelpPages[] = {"/cifsofm/help", "/cifsofm/help/help", "/cifscons/help",
                                      "/cifscons/help/_info_", "/cifslogs/help"};

// Markers of complete pages: the heading the frame writes, and a text near the end of a page.
constexpr char kOpenFilesHeading[] = "<h1>CIFS Open File Management</h1>";
constexpr char kOpenFilesList[] = "Close Files\"></td></tr></table></FORM></BODY></HTML>";
constexpr char kConnectionsHeading[] = "<h1>CIFS Connections</h1>";
constexpr char kDetailHeading[] = "<h1>CIFS Connection Information</h1>";
constexpr char kLogsHeading[] = "<h1>CIFS System Logs";
constexpr char kUnauthorized[] = "Unauthorized access denied";
constexpr char kBadRequest[] = "Bad Http request";
// A race run stops after this many unexpected answers: the console has failed already, and a
// stopped console would otherwise be asked as fast as it refuses.
constexpr unsigned long kEnoughFailures = 100;

struct Options {
    std::string mode;
    std::string url;
    std::string user;
    std::string password;
    std::string viewer;
    std::string viewerPassword;
    std::string logFile;
    unsigned threads = 8;
    unsigned seconds = 30;
    unsigned loginDelayMs = 1000;
};

bool ParseOptions(int argc, char **argv, Options *options) {
    if (argc < 2) {
        return false;
    }
    options->mode = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--url") {
            options->url = value;
        } else if (name == "--user") {
            options->user = value;
        } else if (name == "--password") {
            options->password = value;
        } else if (name == "--viewer") {
            options->viewer = value;
        } else if (name == "--viewer-password") {
            options->viewerPassword = value;
        } else if (name == "--log-file") {
            options->logFile = value;
        } else if (name == "--threads") {
            options->threads = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (name == "--seconds") {
            options->seconds = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (name == "--login-delay") {
            options->loginDelayMs = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        } else {
            return false;
        }
    }
    if ((argc % 2) != 0 || options->url.empty() || options->user.empty() || options->threads == 0) {
        return false;
    }
    if (options->mode == "sequence") {
        return !options->viewer.empty() && !options->logFile.empty();
    }
    return options->mode == "race";
}

// Counts checks and reports the failed ones; shared by the threads of a run.
class Tally {
  public:
    // True when the answer has `status` and holds every one of `texts`.
    bool Expect(const char *what, const Response &response, long status,
                std::initializer_list<std::string_view> texts = {}) {
        bool ok = response.status == status;
        std::string missing;
        for (std::string_view text : texts) {
            if (!response.Has(text)) {
                ok = false;
                missing = std::string(text);
                break;
            }
        }
        Count(ok);
        if (!ok) {
            std::lock_guard lock(mutex_);
            std::fprintf(stdout, "FAILED %s: status %ld (expected %ld)%s%s%s%s, %zu bytes\n", what,
                         response.status, status, missing.empty() ? "" : ", missing \"",
                         missing.c_str(), missing.empty() ? "" : "\"",
                         response.error.empty() ? "" : (", " + response.error).c_str(),
                         response.body.size());
        }
        return ok;
    }
    void Check(const char *what, bool ok) {
        Count(ok);
        if (!ok) {
            std::lock_guard lock(mutex_);
            std::fprintf(stdout, "FAILED %s\n", what);
        }
    }
    unsigned long passed() const { return passed_; }
    unsigned long failed() const { return failed_; }

  private:
    void Count(bool ok) { (ok ? passed_ : failed_).fetch_add(1, std::memory_order_relaxed); }

    std::mutex mutex_;
    std::atomic<unsigned long> passed_{0};
    std::atomic<unsigned long> failed_{0};
};

std::string CloseFileBody(const std::vector<std::string> &paths) {
    std::string body;
    for (const std::string &path : paths) {
        body += "FILENAME=" + hardening::FormEncode("<filename>" + path + "</filename>") + "&";
    }
    return body + "K_1_=on";
}

std::string Hex8(unsigned number) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", number);
    return text;
}

// The detail page's "Close All Files" target for connection `number`.
std::string CloseAllTarget(unsigned number) {
    return "/cifscons/CIFSCloseFiles/" + Hex8(number) + "/" +
           hardening::PathEncode("<closeallfiles>" + std::to_string(number) + "</closeallfiles>");
}

// ----------------------------------------------------------------------------------------------
// race

struct RaceCounts {
    std::atomic<unsigned long> requests{0};
    std::atomic<unsigned long> fileCloses{0};
    std::atomic<unsigned long> connectionCloses{0};
};

void RaceThread(const Options &options, const std::vector<std::string> &volumes, unsigned index,
                std::chrono::steady_clock::time_point deadline, Tally &tally, RaceCounts &counts) {
    Browser browser(options.url);
    Response login;
    const bool in = browser.Login(options.user, options.password, &login);
    counts.requests.fetch_add(1, std::memory_order_relaxed);
    tally.Expect("race login", login, 303);
    if (!in) {
        return;
    }
    auto fetch = [&](const char *what, Response response, long status,
                     std::initializer_list<std::string_view> texts) {
        counts.requests.fetch_add(1, std::memory_order_relaxed);
        tally.Expect(what, response, status, texts);
        return response;
    };
    const std::string logTarget = hardening::PathEncode(options.logFile) + "?VIEW";
    for (unsigned round = 0;
         std::chrono::steady_clock::now() < deadline && tally.failed() < kEnoughFailures; ++round) {
        const unsigned turn = round * options.threads + index;
        const std::string &volume = volumes[turn % volumes.size()];
        const std::string sort = kOpenFileSorts[turn % std::size(kOpenFileSorts)];

        Response list = fetch("open files", browser.Get("/cifsofm/" + sort + "/" + volume), 200,
                              {kOpenFilesHeading, kOpenFilesList});
        fetch("filtered open files",
              browser.Post("/cifsofm/" + sort + "/" + volume,
                           "FILTER=" + hardening::FormEncode("*.doc")),
              200, {kOpenFilesHeading, kOpenFilesList});
        fetch("connections",
              browser.Get(std::string("/cifscons/") +
                          kConnectionSorts[turn % std::size(kConnectionSorts)]),
              200, {kConnectionsHeading});

        const std::vector<std::string> files = hardening::OpenFilesOf(list.body);
        const std::vector<unsigned> connections = hardening::ConnectionsOf(list.body);
        if (!connections.empty()) {
            const unsigned number = connections[turn % connections.size()];
            fetch("connection details", browser.Get("/cifscons/ConnectionNumber/" + Hex8(number)),
                  200, {kDetailHeading});
        }
        fetch("logs", browser.Get("/cifslogs"), 200, {kLogsHeading});
        if (!files.empty()) {
            const std::string &path = files[turn % files.size()];
            fetch("close a file",
                  browser.Post("/cifsofm/CIFSCloseFiles/" + volume, CloseFileBody({path})), 200,
                  {kOpenFilesHeading, kOpenFilesList});
            counts.fileCloses.fetch_add(1, std::memory_order_relaxed);
        }
        if (round % 8 == 7 && !connections.empty()) {
            const unsigned number = connections[(turn / 8) % connections.size()];
            fetch("close all files of a connection", browser.Get(CloseAllTarget(number)), 200,
                  {kDetailHeading});
            counts.connectionCloses.fetch_add(1, std::memory_order_relaxed);
        }
        if (round % 16 == 15) {
            // A new session while the other threads keep using theirs.
            fetch("logout", browser.Post("/logout", ""), 303, {});
            Response again;
            browser.Login(options.user, options.password, &again);
            counts.requests.fetch_add(1, std::memory_order_relaxed);
            tally.Expect("login again", again, 303);
        }
        if (round % 4 == 3) {
            fetch("help", browser.Get(kHelpPages[turn % std::size(kHelpPages)]), 200, {});
            // HEAD: the viewer opens and sizes the file as for GET, without sending a log
            // that grows by megabytes a second at debug level.
            if (!options.logFile.empty()) {
                fetch("log file", browser.Send("HEAD", logTarget, {}, {}), 200, {});
            }
        }
    }
}

int RunRace(const Options &options) {
    Tally tally;
    Browser first(options.url);
    if (!first.Login(options.user, options.password)) {
        std::fprintf(stderr, "race: cannot log in at %s\n", options.url.c_str());
        return 1;
    }
    const std::vector<std::string> volumes = hardening::VolumesOf(first.Get("/cifsofm").body);
    if (volumes.empty()) {
        std::fprintf(stderr, "race: the open files page lists no volume\n");
        return 1;
    }
    // Its session is not needed any more: the threads' sessions stay within the account's cap.
    first.Post("/logout", "");
    RaceCounts counts;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(options.seconds);
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < options.threads; ++i) {
        threads.emplace_back(RaceThread, std::cref(options), std::cref(volumes), i, deadline,
                             std::ref(tally), std::ref(counts));
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "race: %u threads, %.1f s, %lu requests (%.1f/s), %lu file closes, %lu close-alls\n",
        options.threads, seconds, counts.requests.load(), counts.requests.load() / seconds,
        counts.fileCloses.load(), counts.connectionCloses.load());
    std::printf("%lu passed, %lu failed\n", tally.passed(), tally.failed());
    return tally.failed() == 0 && tally.passed() > 0 ? 0 : 1;
}

// ----------------------------------------------------------------------------------------------
// sequence

int RunSequence(const Options &options) {
    Tally t;
    Browser browser(options.url);

    // Without a session every page leads to the login page, which keeps the target.
    Response answer = browser.Get("/cifsofm/DATA");
    t.Expect("page without a session", answer, 303);
    t.Check("redirect to the login page keeps the target",
            answer.location == "/login?next=/cifsofm/DATA");
    t.Expect("login page", browser.Get("/login"), 200, {"password"});
    t.Expect("asset", browser.Get("/opt/zantio/kel/sortdown.png"), 200);

    // A wrong password, then the delay it imposes, then the right one.
    t.Check("wrong password refused", !browser.Login(options.user, "not-the-password", &answer));
    t.Expect("wrong password", answer, 401, {"Wrong name or password."});
    if (options.loginDelayMs > 0) {
        t.Check("login at once after a failure throttled",
                !browser.Login(options.user, options.password, &answer));
        t.Expect("throttled login", answer, 429, {"Too many failed logins."});
        std::this_thread::sleep_for(std::chrono::milliseconds(options.loginDelayMs + 200));
    }
    if (!browser.Login(options.user, options.password, &answer)) {
        t.Expect("login", answer, 303);
        std::printf("%lu passed, %lu failed\n", t.passed(), t.failed());
        return 1;
    }
    t.Expect("home page", browser.Get("/"), 200, {"/cifsofm", "/cifscons", "/cifslogs"});

    // Manage Open Files.
    answer = browser.Get("/cifsofm");
    t.Expect("open files without a volume", answer, 200, {kOpenFilesHeading});
    const std::vector<std::string> volumes = hardening::VolumesOf(answer.body);
    t.Check("volumes listed", !volumes.empty());
    const std::string volume = volumes.empty() ? "DATA" : volumes.front();
    answer = browser.Get("/cifsofm/" + volume);
    t.Expect("open files of a volume", answer, 200, {kOpenFilesHeading, kOpenFilesList});
    const std::vector<std::string> files = hardening::OpenFilesOf(answer.body);
    const std::vector<unsigned> holders = hardening::ConnectionsOf(answer.body);
    t.Check("open files listed", files.size() >= 3 && !holders.empty());
    for (const char *sort : kOpenFileSorts) {
        t.Expect("open files sorted", browser.Get(std::string("/cifsofm/") + sort + "/" + volume),
                 200, {kOpenFilesList});
        t.Expect("sorted and filtered",
                 browser.Post(std::string("/cifsofm/") + sort + "/" + volume, "FILTER=%2A.doc"),
                 200, {kOpenFilesList, "value=\"*.doc\""});
    }
    t.Expect("filter of 256 characters ignored",
             browser.Post("/cifsofm/" + volume, "FILTER=" + std::string(256, 'x')), 200,
             {kOpenFilesList});
    t.Expect("no such volume", browser.Get("/cifsofm/NO-SUCH-VOLUME"), 200,
             {"The CIFS server's data cannot be read:", "</FORM></BODY></HTML>"});
    if (!files.empty()) {
        t.Expect(
            "file details",
            browser.Get("/cifsofm/CIFSBrowseFile/" + volume + hardening::PathEncode(files.front())),
            200, {kOpenFilesHeading});
    }
    if (files.size() >= 3) {
        answer =
            browser.Post("/cifsofm/CIFSCloseFiles/" + volume, CloseFileBody({files[0], files[1]}));
        t.Expect("close two files", answer, 200, {kOpenFilesList});
        const std::vector<std::string> left = hardening::OpenFilesOf(answer.body);
        t.Check("closed files are gone",
                std::find(left.begin(), left.end(), files[0]) == left.end() &&
                    std::find(left.begin(), left.end(), files[1]) == left.end());
        t.Expect("close an already closed file",
                 browser.Post("/cifsofm/CIFSCloseFiles/" + volume, CloseFileBody({files[0]})), 200,
                 {kOpenFilesList});
    }
    t.Expect("close with nothing selected",
             browser.Post("/cifsofm/CIFSCloseFiles/" + volume, "K_1_=on"), 200, {kOpenFilesList});
    t.Expect("open files help", browser.Get("/cifsofm/help"), 200, {kOpenFilesHeading});
    t.Expect("open file information help", browser.Get("/cifsofm/help/help"), 200,
             {"<h1>CIFS Open File Information</h1>"});
    t.Expect("open files: bad help topic", browser.Get("/cifsofm/help/_info_"), 200, {kBadRequest});
    t.Expect("open files: post of two components", browser.Post("/cifsofm/a/b", "x=1"), 200,
             {kBadRequest});

    // Manage Connections.
    for (const char *sort : kConnectionSorts) {
        t.Expect("connections sorted", browser.Get(std::string("/cifscons/") + sort), 200,
                 {kConnectionsHeading});
    }
    answer = browser.Get("/cifscons");
    const std::vector<unsigned> connections = hardening::ConnectionsOf(answer.body);
    t.Check("connections listed", !connections.empty());
    const unsigned number = holders.empty() ? 1 : holders.front();
    answer = browser.Get("/cifscons/ConnectionName/" + Hex8(number));
    t.Expect("connection details", answer, 200, {kDetailHeading});
    // The way the open files page leads there: its state is posted along.
    t.Expect("connection details from open files",
             browser.Post(
                 "/cifscons/ConnectionNumber/" + Hex8(number),
                 "volume=" + hardening::FormEncode(volume) + "&sorttype=UserName&FILTER=%2A.doc"),
             200, {kDetailHeading, "Back to Open File Management"});
    const std::vector<std::string> held = hardening::OpenFilesOf(answer.body);
    if (!held.empty()) {
        answer = browser.Post("/cifscons/CIFSCloseFiles/" + Hex8(number), CloseFileBody({held[0]}));
        t.Expect("close one file of a connection", answer, 200, {kDetailHeading});
        const std::vector<std::string> left = hardening::OpenFilesOf(answer.body);
        t.Check("the connection's closed file is gone",
                std::find(left.begin(), left.end(), held[0]) == left.end());
    }
    answer = browser.Get(CloseAllTarget(number));
    t.Expect("close all files of a connection", answer, 200, {kDetailHeading});
    t.Check("the connection holds no file", hardening::OpenFilesOf(answer.body).empty());
    // A connection that is not there: the detail page's own error body, status 500.
    t.Expect("close all files of no connection", browser.Get(CloseAllTarget(65000)), 500,
             {"Http Error Code 500"});
    t.Expect(
        "clear connections",
        browser.Get("/cifscons/CIFSCloseConnections/" +
                    hardening::PathEncode("<closeconn>" + std::to_string(number) + "</closeconn>")),
        200, {kConnectionsHeading});
    t.Expect("details of no connection", browser.Get("/cifscons/ConnectionNumber/0000FDE8"), 500,
             {"Http Error Code 500"});
    t.Expect("details of a malformed id", browser.Get("/cifscons/ConnectionNumber/XYZ"), 500,
             {"Http Error Code 500"});
    t.Expect("details of a 9-digit id", browser.Get("/cifscons/ConnectionNumber/000000001"), 400,
             {"Http Error Code 400"});
    t.Expect("connections help", browser.Get("/cifscons/help"), 200, {kConnectionsHeading});
    t.Expect("connection information help", browser.Get("/cifscons/help/_info_"), 200,
             {kDetailHeading});
    t.Expect("connections: bad help topic", browser.Get("/cifscons/help/info"), 200, {kBadRequest});
    t.Expect("connections: post without a component", browser.Post("/cifscons", "x=1"), 200,
             {kBadRequest});
    t.Expect("connections: three components", browser.Get("/cifscons/a/b/c"), 200, {kBadRequest});

    // View Logs and the file viewer.
    answer = browser.Get("/cifslogs");
    t.Expect("logs", answer, 200, {kLogsHeading});
    t.Check("the plug-in's log is linked", answer.Has(options.logFile + "?VIEW"));
    t.Expect("logs help", browser.Get("/cifslogs/help"), 200, {kLogsHeading});
    answer = browser.Get(hardening::PathEncode(options.logFile) + "?VIEW");
    t.Expect("log file", answer, 200);
    t.Check("log file is plain text", answer.contentType.starts_with("text/plain"));
    t.Expect("viewer outside the log directory", browser.Get("/etc/passwd?VIEW"), 404);
    t.Expect("viewer with ..",
             browser.Get(hardening::PathEncode(options.logFile) + "/../../../../etc/passwd?VIEW"),
             404);

    // The console's own refusals: none of these reaches a page.
    t.Expect("no such page", browser.Get("/no-such-page"), 404);
    t.Expect("component over 255 bytes", browser.Get("/cifsofm/" + std::string(300, 'a')), 414);
    t.Expect("NUL byte in the path", browser.Get("/cifsofm/a%00b"), 400);
    t.Expect("body over 1 MiB",
             browser.Post("/cifsofm/" + volume, "FILTER=" + std::string(1100 * 1024, 'a')), 413);
    t.Expect("method not served", browser.Send("PUT", "/cifsofm", "x", {}), 405);
    t.Expect("post from another site",
             browser.Send("POST", "/cifsofm/" + volume, "FILTER=x",
                          {"Content-Type: application/x-www-form-urlencoded",
                           "Origin: http://attacker.example"}),
             403);
    t.Expect("another host name", browser.Send("GET", "/cifsofm", {}, {"Host: attacker.example"}),
             421);

    // An account without rights.
    Browser viewer(options.url);
    if (viewer.Login(options.viewer, options.viewerPassword, &answer)) {
        for (const char *page : {"/cifsofm", "/cifscons", "/cifslogs", "/cifsofm/help"}) {
            t.Expect("account without rights", viewer.Get(page), 200, {kUnauthorized});
        }
        t.Expect("account without rights: viewer",
                 viewer.Get(hardening::PathEncode(options.logFile) + "?VIEW"), 403);
        viewer.Post("/logout", "");
    } else {
        t.Expect("viewer login", answer, 303);
    }

    // Logout ends the session.
    answer = browser.Post("/logout", "");
    t.Expect("logout", answer, 303);
    t.Expect("page after logout", browser.Get("/cifscons"), 303);

    std::printf("sequence: %lu checks\n", t.passed() + t.failed());
    std::printf("%lu passed, %lu failed\n", t.passed(), t.failed());
    return t.failed() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fputs(
            "usage: harden_client race --url URL --user NAME --password TEXT [--threads N]\n"
            "                          [--seconds S] [--log-file PATH]\n"
            "       harden_client sequence --url URL --user NAME --password TEXT --viewer NAME\n"
            "                          --viewer-password TEXT --log-file PATH [--login-delay MS]\n",
            stderr);
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int status = options.mode == "race" ? RunRace(options) : RunSequence(options);
    curl_global_cleanup();
    return status;
}
