// The console's pages over HTTP against a real smbd: a private server on loopback with its own
// configuration and state directories, two users holding files open on two shares through
// smbclient, and kelconsole serving the plug-in with the Samba backend.
//
// Skips (with the reason) unless run as root with samba and smbclient installed, or when the
// server does not start. The console, the clients, the server and its helpers are stopped on
// every path; each wait is bounded.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cifsmonitoring/monitoring.h"
#include "common/temp_dir.h"
#include "console/http_client.h"
#include "monitoring/samba_tool.h"
#include "monitoring/settings.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kPassword[] = "Kel2cifs-pages-1";
constexpr char kSearchPath[] = "/usr/sbin:/usr/bin:/sbin:/bin";
constexpr int kFirstPort = 4450;
constexpr int kPortCount = 20;

using Clock = std::chrono::steady_clock;

// Polls `done` every 100 ms for at most `seconds`; true once it holds.
bool WaitUntil(const std::function<bool()> &done, int seconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (done()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool PortFree(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool free = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return free;
}

bool PortAnswers(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool answers = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

// Waits for a child for at most `seconds`, then kills it (or its process group) and reaps it.
void StopChild(pid_t pid, bool group, int seconds) {
    if (pid <= 0) {
        return;
    }
    kill(group ? -pid : pid, SIGTERM);
    bool reaped = WaitUntil([pid] { return waitpid(pid, nullptr, WNOHANG) == pid; }, seconds);
    if (!reaped) {
        kill(group ? -pid : pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (group) {
        // What is left of its group; its members are gone (or zombies) once it answers ESRCH.
        kill(-pid, SIGKILL);
        WaitUntil([pid] { return kill(-pid, 0) != 0 && errno == ESRCH; }, seconds);
    }
}

// Starts argv[0] (a full path) with stdin from `input` (or /dev/null when < 0) and both output
// streams appended to `logPath`; it gets SIGTERM when this process dies. In a new session when
// `leader`, so that its process group can be stopped whole.
pid_t Spawn(const std::vector<std::string> &argv, int input, const std::string &logPath,
            bool leader) {
    std::vector<std::string> copies(argv);
    std::vector<char *> pointers;
    for (std::string &argument : copies) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        if (leader) {
            setsid();
        }
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        dup2(input >= 0 ? input : null, 0);
        dup2(log, 1);
        dup2(log, 2);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(log);
    close(null);
    return pid;
}

// Runs a program to its end (at most 30 s) with `input` on its standard input; its exit status,
// or -1.
int RunWithInput(const std::vector<std::string> &argv, const std::string &input,
                 const std::string &logPath) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    pid_t pid = Spawn(argv, fds[0], logPath, false);
    close(fds[0]);
    (void)!write(fds[1], input.data(), input.size());
    close(fds[1]);
    int status = -1;
    bool done = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30);
    if (!done) {
        StopChild(pid, false, 1);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Tail(const std::string &path) {
    std::string text = testing_support::ReadFile(path);
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

// The private server: its directory, configuration and process group, stopped with every helper
// it started when destroyed.
class PrivateServer {
  public:
    // Empty when it runs; else why not.
    std::string Start() {
        for (const char *tool :
             {"smbd", "smbclient", "smbpasswd", "testparm", "smbstatus", "smbcontrol"}) {
            std::string path = cifsmon::FindTool(kSearchPath, tool);
            if (path.empty()) {
                return std::string(tool) + " is not installed (packages samba and smbclient)";
            }
            tools_[tool] = path;
        }
        for (int port = kFirstPort; port < kFirstPort + kPortCount && port_ == 0; ++port) {
            if (PortFree(port)) {
                port_ = port;
            }
        }
        if (port_ == 0) {
            return "no free loopback port from 4450 to 4469";
        }
        // Guest sessions run as nobody, who must reach the shares.
        chmod(dir_.str().c_str(), 0755);
        for (const char *sub : {"lock", "state", "cache", "pid", "private", "ncalrpc", "log",
                                "bind-dns", "data", "docs"}) {
            dir_.MakeDir(sub);
        }
        chmod(Path("data").c_str(), 0777);
        chmod(Path("docs").c_str(), 0777);
        for (const char *name : {"data/a.txt", "data/b.txt", "docs/c.txt"}) {
            const std::string file = name;
            chmod(dir_.Write(file, "content of " + file + "\n").c_str(), 0666);
        }
        std::string ports = std::to_string(port_);
        dir_.Write("smb.conf",
                   "[global]\n"
                   "\tnetbios name = KELPAGES\n"
                   "\tworkgroup = KELTEST\n"
                   "\tserver role = standalone server\n"
                   "\tbind interfaces only = yes\n"
                   "\tinterfaces = lo\n"
                   "\tsmb ports = " +
                       ports +
                       "\n"
                       "\tdisable netbios = yes\n"
                       "\tlock directory = " +
                       Path("lock") +
                       "\n"
                       "\tstate directory = " +
                       Path("state") +
                       "\n"
                       "\tcache directory = " +
                       Path("cache") +
                       "\n"
                       "\tpid directory = " +
                       Path("pid") +
                       "\n"
                       "\tprivate dir = " +
                       Path("private") +
                       "\n"
                       "\tncalrpc dir = " +
                       Path("ncalrpc") +
                       "\n"
                       "\tbinddns dir = " +
                       Path("bind-dns") +
                       "\n"
                       "\tpassdb backend = tdbsam:" +
                       Path("private/passdb.tdb") +
                       "\n"
                       "\tlog file = " +
                       Path("log/log.%m") +
                       "\n"
                       "\tmax log size = 1000\n"
                       "\tload printers = no\n"
                       "\tprintcap name = /dev/null\n"
                       "\tdisable spoolss = yes\n"
                       "\tmap to guest = Bad User\n"
                       "[data]\n\tpath = " +
                       Path("data") +
                       "\n\tread only = no\n"
                       "[printers]\n\tpath = " +
                       Path("cache") +
                       "\n\tprintable = yes\n"
                       "[lp]\n\tpath = " +
                       Path("cache") +
                       "\n\tprint ok = yes\n"
                       "[docs]\n\tpath = " +
                       Path("docs") +
                       "\n\tread only = no\n"
                       "\tguest ok = yes\n");
        const std::string setup = Path("log/setup.log");
        if (RunWithInput({tools_["smbpasswd"], "-c", Conf(), "-a", "-s", "root"},
                         std::string(kPassword) + "\n" + kPassword + "\n", setup) != 0) {
            return "smbpasswd failed: " + Tail(setup);
        }
        smbd_ = Spawn({tools_["smbd"], "-F", "--no-process-group", "-s", Conf(), "-d", "1"}, -1,
                      Path("log/smbd.out"), true);
        bool up = WaitUntil(
            [this] {
                cifsmon::ToolOptions options{kSearchPath, 5000, 1 << 16};
                cifsmon::ToolResult result;
                std::string error;
                return PortAnswers(port_) &&
                       cifsmon::RunTool(options, "smbcontrol", {"-s", Conf(), "smbd", "ping"},
                                        &result, &error) == 0 &&
                       result.exitStatus == 0;
            },
            20);
        if (!up) {
            return "smbd did not start: " + Tail(Path("log/smbd.out")) + Tail(Path("log/log.smbd"));
        }
        return std::string();
    }

    ~PrivateServer() {
        StopChild(smbd_, true, 10);
        // Helpers smbd started on demand (samba-dcerpcd and its workers, samba-bgqd) live in
        // their own process groups and leave their pid files here; stop those that run on this
        // configuration.
        std::error_code ignored;
        for (const auto &entry : std::filesystem::directory_iterator(Path("pid"), ignored)) {
            pid_t pid =
                static_cast<pid_t>(std::atol(testing_support::ReadFile(entry.path()).c_str()));
            std::string command =
                testing_support::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
            if (pid > 1 && command.find(Conf()) != std::string::npos) {
                kill(-pid, SIGTERM);
                kill(pid, SIGTERM);
                WaitUntil([pid] { return kill(pid, 0) != 0; }, 5);
                kill(-pid, SIGKILL);
                kill(pid, SIGKILL);
            }
        }
        // A process that was still exiting may have written a file while the directory was
        // being emptied.
        WaitUntil(
            [this] {
                std::error_code error;
                std::filesystem::remove_all(dir_.path(), error);
                return !std::filesystem::exists(dir_.path());
            },
            5);
    }

    std::string Path(const std::string &relative) const { return dir_.str() + "/" + relative; }
    std::string Conf() const { return Path("smb.conf"); }
    std::string Tool(const std::string &name) { return tools_[name]; }
    int port() const { return port_; }

  private:
    testing_support::TempDir dir_;
    std::map<std::string, std::string> tools_;
    int port_ = 0;
    pid_t smbd_ = -1;
};

// An smbclient session driven through a pipe: it lives, and keeps what it opened open, until
// its input ends.
class Client {
  public:
    Client(PrivateServer &server, const std::string &share, bool guest, const std::string &name)
        : log_(server.Path("log/client-" + name + ".out")) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        std::vector<std::string> argv = {server.Tool("smbclient"),
                                         "//127.0.0.1/" + share,
                                         "-p",
                                         std::to_string(server.port()),
                                         "-s",
                                         server.Conf()};
        if (guest) {
            argv.insert(argv.end(), {"-N", "-U", "guest%"});
        } else {
            argv.insert(argv.end(), {"-U", std::string("root%") + kPassword});
        }
        pid_ = Spawn(argv, fds[0], log_, false);
        close(fds[0]);
        input_ = fds[1];
    }
    ~Client() {
        if (input_ >= 0) {
            close(input_);
        }
        StopChild(pid_, false, 5);
    }

    void Send(const std::string &command) {
        std::string line = command + "\n";
        ASSERT_EQ(write(input_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    // Ends its input and returns what it printed (it prints on exit).
    std::string Finish() {
        close(input_);
        input_ = -1;
        int status = 0;
        if (!WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 20)) {
            StopChild(pid_, false, 1);
        }
        pid_ = -1;
        return testing_support::ReadFile(log_);
    }

  private:
    std::string log_;
    pid_t pid_ = -1;
    int input_ = -1;
};

// kelconsole serving the plug-in from a root of its own, with the environment of this process
// (the Samba backend's variables among it); killed with its process group when destroyed.
class Console {
  public:
    explicit Console(PrivateServer &server) {
        root_ = server.Path("console");
        std::filesystem::create_directories(root_ + "/plugins");
        std::filesystem::create_directories(root_ + "/opt/zantio/lib");
        std::filesystem::copy_file(KEL2CIFS_PLUGIN, root_ + "/plugins/libkel2cifs.so");
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
    PrivateServer server;
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
    // The closed handles fail in the client; the guest's session is untouched.
    root.Send("ls");
    EXPECT_THAT(root.Finish(), HasSubstr("NT_STATUS_NETWORK_NAME_DELETED"));
}

}  // namespace
