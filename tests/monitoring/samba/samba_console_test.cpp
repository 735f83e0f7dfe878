// The console's pages over HTTP against a real smbd: a private server on loopback with its own
// configuration and state directories, two users holding files open on two shares through
// smbclient, and kelconsole serving the plug-in with the Samba backend.
//
// Skips (with the reason) unless run as root with samba and smbclient installed, or when the
// server does not start. The console, the clients, the server and its helpers are stopped on
// every path; each wait is bounded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "cifsmonitoring/monitoring.h"
#include "common/temp_dir.h"
#include "console/http_client.h"
#include "monitoring/samba/samba_server.h"
#include "monitoring/settings.h"

namespace {

using samba_test::Client;
using samba_test::PrivateServer;
using samba_test::Spawn;
using samba_test::StopChild;
using samba_test::WaitUntil;
using ::testing::HasSubstr;
using ::testing::Not;

// The server of these cases: a.txt and b.txt on data, c.txt on docs.
samba_test::ServerSettings PagesSettings() {
    samba_test::ServerSettings settings;
    settings.netbiosName = "KELPAGES";
    settings.password = "Kel2cifs-pages-1";
    settings.files = {"data/a.txt", "data/b.txt", "docs/c.txt"};
    return settings;
}

// kelconsole serving the plug-in from a root of its own, with the environment of this process
// (the Samba backend's variables among it); killed with its process group when destroyed.
class Console {
  public:
    explicit Console(PrivateServer &server) {
        root_ = server.Path("console");
        std::filesystem::create_directories(root_ + "/plugins");
        std::filesystem::create_directories(root_ + "/opt/zantio/lib");
        std::filesystem::copy_file(KEL2CIFS_PLUGIN, root_ + "/plugins/libkel2cifs.so");
        std::filesystem::copy_file(KEL2CIFS_ADMIN_PLUGIN, root_ + "/plugins/libkel2cifs_admin.so");
        log_ = server.Path("log/kelconsole.out");
        setenv("KEL2CIFS_ROOT", root_.c_str(), 1);
        pid_ = Spawn({KELCONSOLE_BINARY, "--listen=127.0.0.1:0", "--plugins=" + root_ + "/plugins",
                      "--accounts=" + root_ + "/accounts"},
                     -1, log_, true);
    }
    ~Console() {
        StopChild(pid_, true, 10);
        unsetenv("KEL2CIFS_ROOT");
    }

    // Waits (at most 30 s) for the console to serve and logs in as the account it created;
    // empty when it did not.
    std::string Login() {
        const std::regex serving("serving (http://[0-9.]+:[0-9]+)/");
        const std::regex password("password \\(shown only now\\): (\\S+)");
        std::smatch match;
        std::string secret;
        bool up = WaitUntil(
            [&] {
                const std::string out = testing_support::ReadFile(log_);
                if (!std::regex_search(out, match, serving)) {
                    return false;
                }
                url_ = match[1];
                if (std::regex_search(out, match, password)) {
                    secret = match[1];
                }
                return true;
            },
            30);
        if (!up || secret.empty()) {
            return {};
        }
        console_test::HttpResponse response =
            console_test::Post(url_ + "/login", "name=admin&password=" + secret, {}, url_);
        const std::string cookie = response.Header("Set-Cookie");
        return cookie.substr(0, cookie.find(';'));
    }
    std::string Page(const std::string &path, const std::string &cookie) const {
        console_test::HttpResponse response = console_test::Get(url_ + path, cookie);
        EXPECT_EQ(response.status, 200) << path << "\n" << response.body;
        return response.body;
    }
    // A new API token of the administrator role, from `kelconsole token create`; empty when
    // none was made.
    std::string Token(const std::string &name) const {
        const std::string command = std::string(KELCONSOLE_BINARY) + " token create --accounts='" +
                                    root_ + "/accounts' --role=admin " + name + " 2>/dev/null";
        std::string token;
        if (FILE *pipe = popen(command.c_str(), "r"); pipe != nullptr) {
            char line[256] = {};
            if (fgets(line, sizeof line, pipe) != nullptr) {
                token = line;
            }
            pclose(pipe);
        }
        token.erase(token.find_last_not_of("\r\n") + 1);
        return token;
    }
    // A script's request with that token: GET without a body, else a form POST.
    console_test::HttpResponse Script(const std::string &token, const std::string &path,
                                      const std::string &body = {}) const {
        console_test::HttpRequest request;
        request.url = url_ + path;
        request.headers.push_back("Authorization: Bearer " + token);
        if (!body.empty()) {
            request.method = "POST";
            request.body = body;
            request.headers.push_back("Content-Type: application/x-www-form-urlencoded");
        }
        return console_test::Send(request);
    }
    std::string Output() const { return testing_support::ReadFile(log_); }
    const std::string &url() const { return url_; }

  private:
    std::string root_;
    std::string log_;
    std::string url_;
    pid_t pid_ = -1;
};

// The table row of `page` that holds `text`, or empty. The pages write their tags in either
// case.
std::string RowWith(const std::string &page, const std::string &text) {
    const std::size_t at = page.find(text);
    if (at == std::string::npos) {
        return {};
    }
    std::size_t begin = std::string::npos;
    for (const char *open : {"<tr", "<TR"}) {
        const std::size_t found = page.rfind(open, at);
        if (found != std::string::npos && (begin == std::string::npos || found > begin)) {
            begin = found;
        }
    }
    std::size_t end = std::min(page.find("</tr>", at), page.find("</TR>", at));
    if (begin == std::string::npos || end == std::string::npos) {
        return {};
    }
    return page.substr(begin, end - begin);
}

// The path of a connection's pages: its number in eight hexadecimal digits.
std::string ConnectionPath(unsigned number) {
    char hex[16];
    snprintf(hex, sizeof hex, "%08X", number);
    return std::string("/cifscons/ConnectionNumber/") + hex;
}

// user -> connection number, as the library (sharing the console's number file) reports them.
std::map<std::string, unsigned> Numbers() {
    std::map<std::string, unsigned> numbers;
    int count = 0;
    ConnListNode *list = nullptr;
    if (Ext_ListConnDetails(&count, &list) == 0) {
        for (ConnListNode *node = list; node != nullptr; node = node->next) {
            numbers[node->userName] = node->connNumber;
        }
    }
    FreeConnListNodes(&list);
    return numbers;
}

// The number of files the library lists open on `volume`.
std::size_t OpenFiles(const std::string &volume) {
    std::size_t files = 0;
    int count = 0;
    VolFileListNode *list = nullptr;
    if (Ext_ListVolFileDetails(volume.c_str(), &list, &count) == 0) {
        for (VolFileListNode *node = list; node != nullptr; node = node->next) {
            files += static_cast<std::size_t>(node->fileCount);
        }
    }
    FreeVolFileListNodes(&list);
    return files;
}

// The variables the console child inherits; removed again on every path.
class SambaEnvironment {
  public:
    explicit SambaEnvironment(PrivateServer &server) {
        setenv(cifsmon::kBackendVariable, "samba", 1);
        setenv(cifsmon::kSambaConfVariable, server.Conf().c_str(), 1);
        setenv(cifsmon::kSambaNumbersVariable, server.Path("state/numbers.json").c_str(), 1);
        setenv(cifsmon::kSambaIntervalVariable, "0", 1);
        unsetenv(cifsmon::kSambaRpcAuthVariable);
    }
    ~SambaEnvironment() {
        for (const char *variable :
             {cifsmon::kBackendVariable, cifsmon::kSambaConfVariable,
              cifsmon::kSambaNumbersVariable, cifsmon::kSambaIntervalVariable}) {
            unsetenv(variable);
        }
    }
};

TEST(SambaConsolePages, ListOpenFilesAndConnectionsAndCloseAllFilesOfOne) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: smbd and smbcontrol run as root";
    }
    PrivateServer server(PagesSettings());
    const std::string reason = server.Start();
    if (!reason.empty()) {
        GTEST_SKIP() << reason;
    }
    SambaEnvironment environment(server);
    const std::string a = server.Path("data/a.txt");
    const std::string b = server.Path("data/b.txt");
    const std::string c = server.Path("docs/c.txt");

    Client root(server, "data", false, "pages-root");
    Client guest(server, "docs", true, "pages-guest");
    // Each open is waited for before the next is sent: opens sent together were not all made.
    root.Send("open a.txt");
    ASSERT_TRUE(WaitUntil([] { return OpenFiles("data") == 1; }, 20)) << "a.txt never opened";
    root.Send("open b.txt");
    ASSERT_TRUE(WaitUntil([] { return OpenFiles("data") == 2; }, 20)) << "b.txt never opened";
    guest.Send("open c.txt");
    ASSERT_TRUE(WaitUntil([] { return OpenFiles("docs") == 1; }, 20)) << "c.txt never opened";
    ASSERT_EQ(Numbers().size(), 2u);

    Console console(server);
    const std::string cookie = console.Login();
    ASSERT_FALSE(cookie.empty()) << console.Output();

    // Each share's page lists its open files with the user who holds them.
    std::string data;
    ASSERT_TRUE(WaitUntil(
        [&] {
            data = console.Page("/cifsofm/data", cookie);
            return data.find(a) != std::string::npos && data.find(b) != std::string::npos;
        },
        20))
        << data;
    EXPECT_THAT(RowWith(data, a), HasSubstr("root"));
    EXPECT_THAT(RowWith(data, b), HasSubstr("root"));
    EXPECT_THAT(data, Not(HasSubstr(c)));
    const std::string docs = console.Page("/cifsofm/docs", cookie);
    EXPECT_THAT(RowWith(docs, c), HasSubstr("nobody"));
    EXPECT_THAT(docs, Not(HasSubstr(a)));

    // The connections page lists both sessions under their numbers.
    const std::map<std::string, unsigned> numbers = Numbers();
    const unsigned rootNumber = numbers.at("root");
    const unsigned guestNumber = numbers.at("nobody");
    const std::string connections = console.Page("/cifscons", cookie);
    for (const auto &[user, number] : numbers) {
        EXPECT_THAT(RowWith(connections, ConnectionPath(number) + ">"), HasSubstr(user))
            << connections;
    }

    // Close All Files on root's connection: its files go, its session and the guest's files stay.
    // The connection's page lists its files and links Close All Files (through a confirmation
    // script, which a browser follows with < and > percent-encoded).
    const std::string detail = console.Page(ConnectionPath(rootNumber), cookie);
    EXPECT_THAT(RowWith(detail, ">" + a + "<"), HasSubstr("Close File"));
    EXPECT_THAT(RowWith(detail, ">" + b + "<"), HasSubstr("Close File"));
    std::smatch match;
    ASSERT_TRUE(std::regex_search(
        detail, match,
        std::regex("ConfirmClearFilesForConnection\\('(/cifscons/CIFSCloseFiles/[^']*)'")))
        << detail;
    std::string action;
    for (char ch : std::string(match[1])) {
        action += ch == '<'   ? std::string("%3C")
                  : ch == '>' ? std::string("%3E")
                              : std::string(1, ch);
    }
    console_test::HttpResponse closed = console_test::Get(console.url() + action, cookie);
    EXPECT_TRUE(closed.status == 200 || closed.status == 303) << closed.status << closed.body;
    ASSERT_TRUE(WaitUntil(
        [&] {
            data = console.Page("/cifsofm/data", cookie);
            return data.find(a) == std::string::npos && data.find(b) == std::string::npos;
        },
        20))
        << data;
    EXPECT_THAT(console.Page("/cifsofm/docs", cookie), HasSubstr(c));
    const std::string after = console.Page("/cifscons", cookie);
    EXPECT_THAT(RowWith(after, ConnectionPath(rootNumber) + ">"), HasSubstr("root"));
    EXPECT_THAT(RowWith(after, ConnectionPath(guestNumber) + ">"), HasSubstr("nobody"));
    // Exactly the handles closed: the client's next use of one fails, its tree connect and
    // session work on; the guest's session is untouched.
    root.Send("close 1");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    root.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string output = root.Finish();
    EXPECT_THAT(output, HasSubstr("NT_STATUS_FILE_CLOSED"));
    EXPECT_THAT(output, HasSubstr("a.txt  "));
    EXPECT_THAT(output, ::testing::Not(HasSubstr("NT_STATUS_NETWORK_NAME_DELETED")));

    // With smbd gone the pages say so, instead of showing an empty server.
    server.Stop();
    EXPECT_THAT(console.Page("/cifscons", cookie),
                HasSubstr("The CIFS server does not answer: smbd is not running."));
    const std::string volumes = console.Page("/cifsofm/data", cookie);
    EXPECT_THAT(volumes, HasSubstr("The CIFS server does not answer: smbd is not running."));
    EXPECT_THAT(volumes, HasSubstr("</HTML>")) << "the page is whole";
}

// What an administrator's script does with a token on a real server: find who has a file open
// by part of its name, close it for that connection alone, end another client's session; the
// audit trail holds both.
TEST(SambaConsolePages, AScriptFindsClosesAndEndsASessionWithAToken) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: smbd and smbcontrol run as root";
    }
    PrivateServer server(PagesSettings());
    const std::string reason = server.Start();
    if (!reason.empty()) {
        GTEST_SKIP() << reason;
    }
    SambaEnvironment environment(server);
    const std::string a = server.Path("data/a.txt");
    const std::string b = server.Path("data/b.txt");

    Client root(server, "data", false, "script-root");
    Client guest(server, "docs", true, "script-guest");
    root.Send("open a.txt");
    ASSERT_TRUE(WaitUntil([] { return OpenFiles("data") == 1; }, 20)) << "a.txt never opened";
    root.Send("open b.txt");
    ASSERT_TRUE(WaitUntil([] { return OpenFiles("data") == 2; }, 20)) << "b.txt never opened";
    guest.Send("open c.txt");
    ASSERT_TRUE(WaitUntil([] { return OpenFiles("docs") == 1; }, 20)) << "c.txt never opened";
    const std::map<std::string, unsigned> numbers = Numbers();
    ASSERT_EQ(numbers.size(), 2u);

    Console console(server);
    ASSERT_FALSE(console.Login().empty()) << console.Output();
    const std::string token = console.Token("nightly");
    ASSERT_FALSE(token.empty());

    // Found by part of its name in another letter case, on the right connection.
    console_test::HttpResponse found = console.Script(token, "/cifsfind?format=json&q=A.T");
    ASSERT_EQ(found.status, 200) << found.body;
    nlohmann::json list = nlohmann::json::parse(found.body);
    ASSERT_EQ(list["total"], 1) << found.body;
    EXPECT_EQ(list["items"][0]["path"], a);
    EXPECT_EQ(list["items"][0]["connection"], numbers.at("root"));
    EXPECT_EQ(list["items"][0]["volume"], "data");

    // Closed for that connection: b.txt stays open, and the client's handle is gone.
    console_test::HttpResponse closed = console.Script(
        token, "/cifsfind?format=json", "close=" + std::to_string(numbers.at("root")) + "%3A" + a);
    ASSERT_EQ(closed.status, 200) << closed.body;
    EXPECT_EQ(nlohmann::json::parse(closed.body)["results"][0]["status"], "closed") << closed.body;
    ASSERT_TRUE(WaitUntil([] { return OpenFiles("data") == 1; }, 20));
    list = nlohmann::json::parse(console.Script(token, "/cifsfind?format=json&volume=data").body);
    ASSERT_EQ(list["total"], 1);
    EXPECT_EQ(list["items"][0]["path"], b);

    // The guest's session ended on the server: its client is disconnected, root's works on.
    console_test::HttpResponse ended = console.Script(
        token, "/cifssessions?format=json", "end=" + std::to_string(numbers.at("nobody")));
    ASSERT_EQ(ended.status, 200) << ended.body;
    EXPECT_EQ(nlohmann::json::parse(ended.body)["results"][0]["status"], "ended") << ended.body;
    list = nlohmann::json::parse(console.Script(token, "/cifssessions?format=json").body);
    ASSERT_EQ(list["total"], 1) << list.dump();
    EXPECT_EQ(list["items"][0]["user"], "root");
    guest.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_THAT(guest.Finish(), HasSubstr("NT_STATUS_CONNECTION_DISCONNECTED"));
    root.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_THAT(root.Finish(), HasSubstr("b.txt  "));

    // Both actions are in the audit trail under the token's name.
    const std::string audit = console.Script(token, "/audit?format=json").body;
    const nlohmann::json records = nlohmann::json::parse(audit);
    std::string actions;
    for (const auto &item : records["items"]) {
        if (item["account"] == "nightly") {
            for (const auto &target : item["targets"]) {
                actions += target["action"].get<std::string>() + ";";
            }
        }
    }
    EXPECT_THAT(actions, HasSubstr("close file;")) << audit;
    EXPECT_THAT(actions, HasSubstr("end session;"));
}

}  // namespace
