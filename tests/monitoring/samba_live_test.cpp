// The Samba backend against a real smbd: a private server on loopback with its own
// configuration and state directories, clients that hold files open, and the interface of
// cifsmonitoring/monitoring.h listing and closing them.
//
// Skips (with the reason) unless run as root with samba and smbclient installed, or when the
// server does not start. The server, its helpers and the clients are stopped on every path;
// each wait is bounded.
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

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cifsmonitoring/monitoring.h"
#include "common/temp_dir.h"
#include "monitoring/samba_tool.h"
#include "monitoring/settings.h"

namespace {

// The records are packed: a comparison must not bind a reference to one of their fields.
template <typename T>
T Value(T value) {
    return value;
}

using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

constexpr char kPassword[] = "Kel2cifs-live-1";
constexpr char kSearchPath[] = "/usr/sbin:/usr/bin:/sbin:/bin";
constexpr int kFirstPort = 4450;
constexpr int kPortCount = 20;
// The server service's RPC calls go to port 445 only (net ignores other ports): the single-file
// close over RPC is checked when 445 is free on loopback.
constexpr int kRpcPort = 445;
// A name with blanks, HTML-special characters and an accent (SMB refuses < > " in names).
constexpr char kSpecialName[] = "b & 'c' #1 \xC3\xA9.txt";

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
             {"smbd", "smbclient", "smbpasswd", "testparm", "smbstatus", "smbcontrol", "net"}) {
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
        rpc_ = PortFree(kRpcPort);
        // Guest sessions run as nobody, who must reach the shares.
        chmod(dir_.str().c_str(), 0755);
        for (const char *sub : {"lock", "state", "cache", "pid", "private", "ncalrpc", "log",
                                "bind-dns", "data", "docs"}) {
            dir_.MakeDir(sub);
        }
        chmod(Path("data").c_str(), 0777);
        chmod(Path("docs").c_str(), 0777);
        for (const std::string &file :
             {std::string("data/a.txt"), "data/" + std::string(kSpecialName),
              std::string("docs/c.txt")}) {
            chmod(dir_.Write(file, "content of " + file + "\n").c_str(), 0666);
        }
        std::string ports = std::to_string(port_) + (rpc_ ? " " + std::to_string(kRpcPort) : "");
        dir_.Write("smb.conf",
                   "[global]\n"
                   "\tnetbios name = KELLIVE\n"
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
        if (rpc_) {
            // root into BUILTIN\Administrators (through its unix group) with the disk-operator
            // privilege, as the server service's file close demands.
            bool granted = RunWithInput({tools_["net"], "-s", Conf(), "groupmap", "add",
                                         "sid=S-1-5-32-544", "unixgroup=root", "type=builtin"},
                                        "", setup) == 0 &&
                           RunWithInput({tools_["net"], "-s", Conf(), "sam", "rights", "grant",
                                         "root", "SeDiskOperatorPrivilege"},
                                        "", setup) == 0;
            dir_.Write("private/rpc.auth", std::string("username = root\npassword = ") + kPassword +
                                               "\ndomain = KELLIVE\n");
            chmod(Path("private/rpc.auth").c_str(), 0600);
            rpc_ = granted;
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
    bool rpc() const { return rpc_; }

  private:
    testing_support::TempDir dir_;
    std::map<std::string, std::string> tools_;
    int port_ = 0;
    bool rpc_ = false;
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

struct Listed {
    std::map<std::string, std::vector<std::string>> files;  // "volume/user" -> paths
    std::map<std::string, unsigned> numbers;                // user -> connection number
    std::map<std::string, ConnListNode> connections;        // user -> record
};

std::vector<std::string> VolumeNames() {
    std::vector<std::string> names;
    int count = 0;
    VolumeDetailsNode *list = nullptr;
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &list), 0);
    for (VolumeDetailsNode *node = list; node != nullptr; node = node->next) {
        names.emplace_back(node->volumeName);
    }
    FreeVolsDetailsNode(&list);
    return names;
}

Listed List() {
    Listed listed;
    for (const std::string &volume : VolumeNames()) {
        int count = 0;
        VolFileListNode *list = nullptr;
        if (Ext_ListVolFileDetails(volume.c_str(), &list, &count) != 0) {
            continue;
        }
        for (VolFileListNode *node = list; node != nullptr; node = node->next) {
            std::vector<std::string> &paths = listed.files[volume + "/" + node->userName];
            for (int i = 0; i < node->fileCount; ++i) {
                paths.emplace_back(node->fileNames[i]);
            }
        }
        FreeVolFileListNodes(&list);
    }
    int count = 0;
    ConnListNode *list = nullptr;
    if (Ext_ListConnDetails(&count, &list) == 0) {
        for (ConnListNode *node = list; node != nullptr; node = node->next) {
            listed.numbers[node->userName] = node->connNumber;
            listed.connections[node->userName] = *node;
        }
    }
    FreeConnListNodes(&list);
    return listed;
}

std::size_t FileCount(const Listed &listed, const std::string &key) {
    auto found = listed.files.find(key);
    return found == listed.files.end() ? 0 : found->second.size();
}

class SambaLiveTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (geteuid() != 0) {
            skipReason_ = new std::string("needs root: smbd and smbcontrol run as root");
            return;
        }
        server_ = new PrivateServer();
        std::string reason = server_->Start();
        if (!reason.empty()) {
            skipReason_ = new std::string(reason);
            delete server_;
            server_ = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        delete skipReason_;
        skipReason_ = nullptr;
    }

    void SetUp() override {
        if (server_ == nullptr) {
            GTEST_SKIP() << (skipReason_ != nullptr ? *skipReason_ : "no server");
        }
        started_ = static_cast<uint64_t>(time(nullptr));
        setenv(cifsmon::kBackendVariable, "samba", 1);
        setenv(cifsmon::kSambaConfVariable, server_->Conf().c_str(), 1);
        setenv(cifsmon::kSambaNumbersVariable, server_->Path("state/numbers.json").c_str(), 1);
        setenv(cifsmon::kSambaIntervalVariable, "0", 1);
        unsetenv(cifsmon::kSambaRpcAuthVariable);
        unsetenv(cifsmon::kSambaTimeoutVariable);
    }
    void TearDown() override {
        for (const char *variable :
             {cifsmon::kBackendVariable, cifsmon::kSambaConfVariable,
              cifsmon::kSambaNumbersVariable, cifsmon::kSambaIntervalVariable,
              cifsmon::kSambaRpcAuthVariable, cifsmon::kSambaTimeoutVariable}) {
            unsetenv(variable);
        }
    }

    // Opens `name` in the client and waits until the library lists `count` files of `key`.
    void Open(Client &client, const std::string &name, const std::string &key, std::size_t count) {
        client.Send("open \"" + name + "\"");
        ASSERT_TRUE(WaitUntil([&] { return FileCount(List(), key) == count; }, 20))
            << "the open of " << name << " never showed under " << key;
    }

    std::string Data(const std::string &name) const { return server_->Path("data/" + name); }
    std::string Docs(const std::string &name) const { return server_->Path("docs/" + name); }

    static PrivateServer *server_;
    static std::string *skipReason_;
    uint64_t started_ = 0;
};

PrivateServer *SambaLiveTest::server_ = nullptr;
std::string *SambaLiveTest::skipReason_ = nullptr;

TEST_F(SambaLiveTest, ListsSharesOpenFilesAndConnections) {
    Client root(*server_, "data", false, "list-root");
    Client guest(*server_, "docs", true, "list-guest");
    Open(root, "a.txt", "data/root", 1);
    Open(root, kSpecialName, "data/root", 2);
    Open(guest, "c.txt", "docs/nobody", 1);

    EXPECT_THAT(VolumeNames(), ::testing::ElementsAre("data", "docs"));
    Listed listed = List();
    EXPECT_THAT(listed.files["data/root"], UnorderedElementsAre(Data("a.txt"), Data(kSpecialName)));
    EXPECT_THAT(listed.files["docs/nobody"], ::testing::ElementsAre(Docs("c.txt")));
    EXPECT_EQ(listed.files.size(), 2u);

    ASSERT_EQ(listed.numbers.size(), 2u);
    const unsigned rootNumber = listed.numbers.at("root");
    const unsigned guestNumber = listed.numbers.at("nobody");
    EXPECT_NE(rootNumber, guestNumber);
    for (const auto &[user, node] : listed.connections) {
        SCOPED_TRACE(user);
        EXPECT_STREQ(node.netAddress, "127.0.0.1");
        EXPECT_STREQ(node.connType, "Local");
        EXPECT_GE(Value(node.connNumber), 1u);
        // The server process has read the client's requests and the files.
        EXPECT_GT(Value(node.bytesRead), 0u);
        EXPECT_GT(Value(node.requestCount), 0u);
        EXPECT_GE(node.loginTime + 5, started_);
        EXPECT_LE(Value(node.loginTime), static_cast<uint64_t>(time(nullptr)) + 5);
    }

    // Stable across requests, and across a new backend as a console restart makes.
    EXPECT_EQ(List().numbers, listed.numbers);
    setenv(cifsmon::kSambaTimeoutVariable, "11", 1);
    EXPECT_EQ(List().numbers, listed.numbers);

    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(rootNumber, &info), 0);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->userName, "root");
    EXPECT_STREQ(info->privileges, "Supervisor");
    EXPECT_STREQ(info->loginStatus, "Logged-In");
    EXPECT_STREQ(info->connType, "Local");
    ASSERT_EQ(Value(info->openFileCount), 2);
    EXPECT_THAT((std::vector<std::string>{info->openFileNames[0], info->openFileNames[1]}),
                UnorderedElementsAre(Data("a.txt"), Data(kSpecialName)));
    ASSERT_GE(Value(info->secEquivCount), 1u);
    EXPECT_STREQ(info->sevDNs[0], "root");
    FreeUserDetailsNode(&info);

    ASSERT_EQ(Ext_GetConnInfo(guestNumber, &info), 0);
    EXPECT_STREQ(info->userName, "nobody");
    EXPECT_STREQ(info->privileges, "Non-Supervisor");
    EXPECT_EQ(Value(info->openFileCount), 1);
    FreeUserDetailsNode(&info);
}

TEST_F(SambaLiveTest, ClosingAConnectionsFilesKeepsItsSession) {
    Client root(*server_, "data", false, "byid-root");
    Client guest(*server_, "docs", true, "byid-guest");
    Open(root, "a.txt", "data/root", 1);
    Open(guest, "c.txt", "docs/nobody", 1);
    const Listed before = List();
    const unsigned guestNumber = before.numbers.at("nobody");

    ASSERT_EQ(Ext_CloseFileByID(guestNumber), 0);
    ASSERT_TRUE(WaitUntil([] { return FileCount(List(), "docs/nobody") == 0; }, 20));
    Listed after = List();
    EXPECT_EQ(after.numbers, before.numbers) << "both sessions stay, under their numbers";
    EXPECT_EQ(FileCount(after, "data/root"), 1u) << "the other connection keeps its file";
    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(guestNumber, &info), 0);
    EXPECT_EQ(Value(info->openFileCount), 0);
    FreeUserDetailsNode(&info);

    // The client's tree connect is gone, its session is not.
    guest.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_THAT(guest.Finish(), HasSubstr("NT_STATUS_NETWORK_NAME_DELETED"));
}

TEST_F(SambaLiveTest, ClosingOneFileWithoutRpcClosesItsShareInTheProcess) {
    Client root(*server_, "data", false, "byname-share");
    Open(root, "a.txt", "data/root", 1);
    Open(root, kSpecialName, "data/root", 2);
    const unsigned number = List().numbers.at("root");

    testing::internal::CaptureStderr();
    int status = Ext_CloseFileByFileName(Data("a.txt").c_str());
    std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0) << messages;
    EXPECT_THAT(messages, HasSubstr("closed share data in connection " + std::to_string(number) +
                                    " (user root, process "));
    EXPECT_THAT(messages,
                HasSubstr("also closed its other files on that share: " + Data(kSpecialName)));
    ASSERT_TRUE(WaitUntil([] { return FileCount(List(), "data/root") == 0; }, 20));
    EXPECT_EQ(List().numbers.at("root"), number);
    root.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_THAT(root.Finish(), HasSubstr("NT_STATUS_NETWORK_NAME_DELETED"));
}

TEST_F(SambaLiveTest, ClosingOneFileOverRpcClosesThatFileAlone) {
    if (!server_->rpc()) {
        GTEST_SKIP() << "port 445 on loopback is taken or the RPC account could not be set up";
    }
    setenv(cifsmon::kSambaRpcAuthVariable, server_->Path("private/rpc.auth").c_str(), 1);
    Client root(*server_, "data", false, "byname-rpc");
    Open(root, "a.txt", "data/root", 1);
    Open(root, kSpecialName, "data/root", 2);

    testing::internal::CaptureStderr();
    int status = Ext_CloseFileByFileName(Data("a.txt").c_str());
    std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0) << messages;
    EXPECT_THAT(messages, HasSubstr("through the server service"));
    EXPECT_THAT(messages, ::testing::Not(HasSubstr("closed share")));
    Listed after = List();
    EXPECT_THAT(after.files["data/root"], ::testing::ElementsAre(Data(kSpecialName)));

    // The client's handle of a.txt (fnum 1) is gone; that of the other file (fnum 2) and the
    // tree connect still work.
    root.Send("close 1");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    root.Send("close 2");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    root.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::string output = root.Finish();
    EXPECT_THAT(output, HasSubstr("close 1: NT_STATUS_FILE_CLOSED"));
    EXPECT_THAT(output, ::testing::Not(HasSubstr("close 2:")));
    EXPECT_THAT(output, HasSubstr("a.txt  "));  // a line of the listing
    EXPECT_THAT(output, ::testing::Not(HasSubstr("NT_STATUS_NETWORK_NAME_DELETED")));
}

}  // namespace
