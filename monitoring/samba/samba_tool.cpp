#include "monitoring/samba/samba_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "monitoring/status.h"

extern char **environ;

namespace cifsmon {

namespace {

// A descriptor closed on scope exit.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return fd_; }
    int *receive() { return &fd_; }
    void Close() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_ = -1;
};

struct Pipe {
    Descriptor read;
    Descriptor write;
    bool Open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        *read.receive() = fds[0];
        *write.receive() = fds[1];
        return true;
    }
};

// The caller's environment with every LC_ALL and LANG entry replaced by one LC_ALL=C, and the
// `extra` entries in place of the caller's of the same names. The strings stay those of
// `environ`, `extra` (which must outlive the vector) or the literal.
std::vector<char *> ChildEnvironment(std::vector<std::string> &extra) {
    static char cLocale[] = "LC_ALL=C";
    std::vector<char *> entries;
    auto replaced = [&extra](std::string_view text) {
        for (const std::string &entry : extra) {
            const std::size_t equals = entry.find('=');
            if (equals != std::string::npos && text.starts_with(entry.substr(0, equals + 1))) {
                return true;
            }
        }
        return false;
    };
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        if (text.starts_with("LC_ALL=") || text.starts_with("LANG=") || replaced(text)) {
            continue;
        }
        entries.push_back(*entry);
    }
    for (std::string &entry : extra) {
        if (entry.find('=') != std::string::npos) {
            entries.push_back(entry.data());
        }
    }
    entries.push_back(cLocale);
    entries.push_back(nullptr);
    return entries;
}

// Runs in the forked child: only async-signal-safe calls until execve. On failure the errno is
// written to `report` and the child exits.
[[noreturn]] void ExecChild(const char *path, char *const argv[], char *const envp[], int input,
                            int output, int errors, int report) {
    // The parent's dispositions and mask must not reach the tool: an ignored SIGPIPE or a
    // blocked SIGTERM would change how it ends.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults;
    std::memset(&defaults, 0, sizeof defaults);
    defaults.sa_handler = SIG_DFL;
    for (int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD}) {
        sigaction(signal, &defaults, nullptr);
    }
    if (dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(errors, 2) < 0) {
        int error = errno;
        (void)!write(report, &error, sizeof error);
        _exit(127);
    }
    // No other descriptor of the caller reaches the tool. `report` is close-on-exec: it stays
    // open until execve succeeds.
    for (int fd = 3; fd < report; ++fd) {
        close(fd);
    }
    close_range(static_cast<unsigned>(report) + 1, ~0U, 0);
    execve(path, argv, envp);
    int error = errno;
    (void)!write(report, &error, sizeof error);
    _exit(127);
}

// Waits for the child, retrying on interruption. False when its status cannot be had (the
// process ignores SIGCHLD, so the kernel reaped it).
bool Reap(pid_t child, int *status) {
    for (;;) {
        if (waitpid(child, status, 0) == child) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool NeedsQuotes(std::string_view argument) {
    if (argument.empty()) {
        return true;
    }
    for (char c : argument) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\'' || c == '"' || c == '\\') {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string FindTool(const std::string &searchPath, std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos) {
        return std::string();
    }
    std::string_view rest(searchPath);
    while (!rest.empty()) {
        std::size_t colon = rest.find(':');
        std::string_view directory = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (directory.empty()) {
            continue;
        }
        std::string candidate(directory);
        candidate += '/';
        candidate += name;
        struct stat status;
        if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::string();
}

std::string DescribeCommand(std::string_view name, const std::vector<std::string> &arguments) {
    std::string text(name);
    for (const std::string &argument : arguments) {
        text += ' ';
        if (!NeedsQuotes(argument)) {
            text += argument;
            continue;
        }
        text += '\'';
        for (char c : argument) {
            if (c == '\'') {
                text += "'\\''";
            } else {
                text += c;
            }
        }
        text += '\'';
    }
    return text;
}

namespace {

// Starts the program at `path` with the given descriptors as its standard input, output and
// error, and returns its pid once it runs (execve succeeded); -1 and *error when it could not
// be started. The caller closes its copies of the child's descriptors.
pid_t Launch(const std::string &path, std::string_view name,
             const std::vector<std::string> &arguments, const std::vector<std::string> &environment,
             int input, int output, int errors, const std::string &command, std::string *error) {
    // Everything the child needs is built before fork: after it, only async-signal-safe calls.
    std::string argv0(name);
    std::vector<char *> argv;
    argv.push_back(argv0.data());
    std::vector<std::string> copies(arguments);
    for (std::string &argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> extra(environment);
    std::vector<char *> envp = ChildEnvironment(extra);
    Pipe report;
    if (!report.Open()) {
        *error = "cannot run " + command + ": " + std::strerror(errno);
        return -1;
    }
    pid_t child = fork();
    if (child < 0) {
        *error = "cannot run " + command + ": fork: " + std::strerror(errno);
        return -1;
    }
    if (child == 0) {
        ExecChild(path.c_str(), argv.data(), envp.data(), input, output, errors,
                  report.write.get());
    }
    report.write.Close();
    // An errno arrives only when the child failed before or in execve; end of file means the
    // program is running.
    int childErrno = 0;
    ssize_t got;
    do {
        got = read(report.read.get(), &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof childErrno)) {
        int ignored;
        Reap(child, &ignored);
        *error = "cannot run " + command + ": " + std::strerror(childErrno);
        return -1;
    }
    return child;
}

}  // namespace

int StartToolSession(const ToolOptions &options, std::string_view name,
                     const std::vector<std::string> &arguments, ToolSession *session,
                     std::string *error) {
    *session = ToolSession();
    const std::string command = DescribeCommand(name, arguments);
    const std::string path = FindTool(options.searchPath, name);
    if (path.empty()) {
        *error = std::string(name) + " not found in " + options.searchPath;
        return kStatusToolFailed;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        *error = "cannot run " + command + ": " + std::strerror(errno);
        return kStatusToolFailed;
    }
    Descriptor ours(pair[0]);
    Descriptor theirs(pair[1]);
    pid_t child = Launch(path, name, arguments, options.environment, theirs.get(), theirs.get(),
                         theirs.get(), command, error);
    if (child < 0) {
        return kStatusToolFailed;
    }
    session->pid = child;
    session->socket = ours.get();
    *ours.receive() = -1;
    return kStatusOk;
}

int RunTool(const ToolOptions &options, std::string_view name,
            const std::vector<std::string> &arguments, ToolResult *result, std::string *error) {
    *result = ToolResult();
    const std::string command = DescribeCommand(name, arguments);
    result->path = FindTool(options.searchPath, name);
    if (result->path.empty()) {
        *error = std::string(name) + " not found in " + options.searchPath;
        return kStatusToolFailed;
    }
    Descriptor input(open("/dev/null", O_RDONLY | O_CLOEXEC));
    Pipe output;
    Pipe errors;
    if (input.get() < 0 || !output.Open() || !errors.Open()) {
        *error = "cannot run " + command + ": " + std::strerror(errno);
        return kStatusToolFailed;
    }
    pid_t child = Launch(result->path, name, arguments, options.environment, input.get(),
                         output.write.get(), errors.write.get(), command, error);
    input.Close();
    output.write.Close();
    errors.write.Close();
    if (child < 0) {
        return kStatusToolFailed;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
    std::string failure;
    struct pollfd fds[2] = {{output.read.get(), POLLIN, 0}, {errors.read.get(), POLLIN, 0}};
    int openStreams = 2;
    char buffer[65536];
    while (openStreams > 0 && failure.empty()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            failure =
                command + " did not finish within " + std::to_string(options.timeoutMs) + " ms";
            break;
        }
        int ready = poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            failure = "cannot run " + command + ": poll: " + std::strerror(errno);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                fds[i].fd = -1;
                --openStreams;
                continue;
            }
            std::size_t size = static_cast<std::size_t>(count);
            if (i == 0) {
                if (result->output.size() + size > options.outputLimit) {
                    failure = command + " printed more than " +
                              std::to_string(options.outputLimit) + " bytes";
                    break;
                }
                result->output.append(buffer, size);
            } else if (result->errors.size() < kToolErrorTextLimit) {
                result->errors.append(buffer,
                                      std::min(size, kToolErrorTextLimit - result->errors.size()));
            }
        }
    }
    if (!failure.empty()) {
        kill(child, SIGKILL);
    }
    int status = 0;
    if (!Reap(child, &status)) {
        if (failure.empty()) {
            failure = command + ": its exit status was lost (" + std::strerror(errno) +
                      "; is SIGCHLD ignored in this process?)";
        }
    } else if (failure.empty() && WIFSIGNALED(status)) {
        failure = command + " was killed by signal " + std::to_string(WTERMSIG(status));
    }
    if (!failure.empty()) {
        *error = failure;
        return kStatusToolFailed;
    }
    result->exitStatus = WEXITSTATUS(status);
    return kStatusOk;
}

}  // namespace cifsmon
