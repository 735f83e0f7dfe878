#include "monitoring/samba/samba_server.h"

#include <fcntl.h>
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
#include <filesystem>
#include <thread>
#include <utility>

#include "monitoring/samba/samba_tool.h"

namespace samba_test {

namespace {

constexpr char kSearchPath[] = "/usr/sbin:/usr/bin:/sbin:/bin";
constexpr int kFirstPort = 4450;
constexpr int kPortCount = 20;
// The server service's RPC calls go to port 445 only (net ignores other ports).

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool PortFree(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = Loopback(port);
    bool free = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return free;
}

bool PortAnswers(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address = Loopback(port);
    bool answers = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

std::string Tail(const std::string &path) {
    std::string text = testing_support::ReadFile(path);
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

}  // namespace

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

PrivateServer::PrivateServer(ServerSettings settings) : settings_(std::move(settings)) {}

std::string PrivateServer::Start() {
    std::vector<std::string> required = {"smbd",     "smbclient", "smbpasswd",
                                         "testparm", "smbstatus", "smbcontrol"};
    for (const std::string &tool : required) {
        std::string path = cifsmon::FindTool(kSearchPath, tool);
        if (path.empty()) {
            return tool + " is not installed (packages samba and smbclient)";
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
                            "bind-dns", "data", "docs", "forced"}) {
        dir_.MakeDir(sub);
    }
    chmod(Path("data").c_str(), 0777);
    chmod(Path("docs").c_str(), 0777);
    chmod(Path("forced").c_str(), 0777);
    for (const std::string &file : settings_.files) {
        chmod(dir_.Write(file, "content of " + file + "\n").c_str(), 0666);
    }
    std::string ports = std::to_string(port_);
    dir_.Write("smb.conf",
               "[global]\n"
               "\tnetbios name = " +
                   settings_.netbiosName +
                   "\n"
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
                   "\tguest ok = yes\n"
                   "[forced]\n\tpath = " +
                   Path("forced") +
                   "\n\tread only = no\n"
                   "\tforce user = nobody\n");
    const std::string &password = settings_.password;
    const std::string setup = Path("log/setup.log");
    if (RunWithInput({tools_["smbpasswd"], "-c", Conf(), "-a", "-s", "root"},
                     password + "\n" + password + "\n", setup) != 0) {
        return "smbpasswd failed: " + Tail(setup);
    }
    smbd_ = Spawn({tools_["smbd"], "-F", "--no-process-group", "-s", Conf(), "-d", "1"}, -1,
                  Path("log/smbd.out"), true);
    bool up = WaitUntil(
        [this] {
            cifsmon::ToolOptions options{kSearchPath, 5000, 1 << 16, {}};
            cifsmon::ToolResult result;
            std::string error;
            return PortAnswers(port_) &&
                   cifsmon::RunTool(options, "smbcontrol", {"-s", Conf(), "smbd", "ping"}, &result,
                                    &error) == 0 &&
                   result.exitStatus == 0;
        },
        20);
    if (!up) {
        return "smbd did not start: " + Tail(Path("log/smbd.out")) + Tail(Path("log/log.smbd"));
    }
    return std::string();
}

pid_t PrivateServer::MainPid() const {
    return static_cast<pid_t>(std::atol(testing_support::ReadFile(Path("pid/smbd.pid")).c_str()));
}

void PrivateServer::Stop() {
    StopChild(smbd_, true, 10);
    smbd_ = -1;
}

PrivateServer::~PrivateServer() {
    StopChild(smbd_, true, 10);
    // Helpers smbd started on demand (samba-dcerpcd and its workers, samba-bgqd) live in their
    // own process groups and leave their pid files here; stop those that run on this
    // configuration.
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(Path("pid"), ignored)) {
        pid_t pid = static_cast<pid_t>(std::atol(testing_support::ReadFile(entry.path()).c_str()));
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
    // A process that was still exiting may have written a file while the directory was being
    // emptied.
    WaitUntil(
        [this] {
            std::error_code error;
            std::filesystem::remove_all(dir_.path(), error);
            return !std::filesystem::exists(dir_.path());
        },
        5);
}

Client::Client(PrivateServer &server, const std::string &share, bool guest, const std::string &name,
               const std::vector<std::string> &options)
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
        argv.insert(argv.end(), {"-U", "root%" + server.password()});
    }
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = Spawn(argv, fds[0], log_, false);
    close(fds[0]);
    input_ = fds[1];
}

Client::~Client() {
    if (input_ >= 0) {
        close(input_);
    }
    StopChild(pid_, false, 5);
}

void Client::Send(const std::string &command) {
    std::string line = command + "\n";
    ASSERT_EQ(write(input_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
}

std::string Client::Finish() {
    close(input_);
    input_ = -1;
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 20)) {
        StopChild(pid_, false, 1);
    }
    pid_ = -1;
    return testing_support::ReadFile(log_);
}

}  // namespace samba_test
