#include "monitoring/samba/samba_messenger.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "monitoring/status.h"

namespace cifsmon {

namespace {

// The helper. Answers "ready" once Samba's messaging is set up (or "fail <why>" and exits),
// then one line per request: "ok" when the message was delivered, "error <why>" when not. The
// bindings take no part in a cluster: they silently drop a message that names a node (their own
// node's too), so a request must name this machine's process with the vnn of no cluster. It
// exits when its input ends or after a minute without requests. The message is MSG_SMB_CLOSE_FILE
// (0x0313 in Samba's messaging.idl): 76 little-endian bytes laid out as the server's share mode
// entry message, of which the close reads the file id (device, inode, extension at 34) and the
// share_file_id (at 58).
constexpr char kScript[] = R"PY(import os, select, struct, sys
def say(text):
    os.write(1, (text.replace("\n", " ") + "\n").encode("utf-8", "replace"))
try:
    from samba import param, messaging
    lp = param.LoadParm()
    lp.load(sys.argv[1])
    bus = messaging.Messaging(lp_ctx=lp)
except Exception as error:
    say("fail cannot use Samba's messaging (python3-samba): %s" % error)
    sys.exit(1)
say("ready")
data = b""
while True:
    while b"\n" not in data:
        if not select.select([0], [], [], 60)[0]:
            sys.exit(0)
        chunk = os.read(0, 65536)
        if not chunk or len(data) > 1048576:
            sys.exit(0)
        data += chunk
    line, data = data.split(b"\n", 1)
    try:
        word, pid, vnn, dev, ino, ext, fid = line.split()
        if word != b"close":
            raise ValueError("unknown request")
        pid, vnn, dev, ino, ext, fid = (int(x) for x in (pid, vnn, dev, ino, ext, fid))
        if vnn != 4294967295:
            raise ValueError("a message to cluster node %d would be dropped unsent" % vnn)
        msg = bytearray(76)
        struct.pack_into("<I", msg, 0, pid & 0xFFFFFFFF)
        struct.pack_into("<QQQ", msg, 34, dev, ino, ext)
        struct.pack_into("<I", msg, 58, fid & 0xFFFFFFFF)
        struct.pack_into("<I", msg, 72, vnn)
        bus.send((pid, 0, -1), 0x0313, bytes(msg))
        say("ok")
    except Exception as error:
        say("error %s" % error)
)PY";

// Lines of other output (warnings of the bindings) skipped before an answer, at most.
constexpr int kNoiseLines = 50;
// Requests sent before their answers are read.
constexpr std::size_t kChunk = 256;
// The longest line read from the helper.
constexpr std::size_t kLineLimit = 4096;

}  // namespace

std::string CloseRequestLine(const CloseTarget &target) {
    return "close " + std::to_string(target.pid) + " " + std::to_string(target.vnn) + " " +
           std::to_string(target.devid) + " " + std::to_string(target.inode) + " " +
           std::to_string(target.extid) + " " + std::to_string(target.shareFileId) + "\n";
}

CloseMessenger::CloseMessenger(ToolOptions tools, std::string configPath)
    : tools_(std::move(tools)), configPath_(std::move(configPath)) {}

CloseMessenger::~CloseMessenger() {
    Stop();
}

void CloseMessenger::Stop() {
    if (session_.socket >= 0) {
        close(session_.socket);
        session_.socket = -1;
    }
    if (session_.pid > 0) {
        // Its input ended: it exits at once; a helper stuck in Samba's code is killed.
        int status;
        bool reaped = false;
        for (int i = 0; i < 20 && !reaped; ++i) {
            reaped = waitpid(session_.pid, &status, WNOHANG) != 0;
            if (!reaped) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (!reaped) {
            kill(session_.pid, SIGKILL);
            while (waitpid(session_.pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        session_.pid = -1;
    }
    pending_.clear();
}

bool CloseMessenger::ReadLine(std::string *line, std::chrono::steady_clock::time_point deadline,
                              std::string *error) {
    for (;;) {
        std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            *line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (pending_.size() > kLineLimit) {
            *error = "the close helper printed a line longer than " + std::to_string(kLineLimit);
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            *error = "the close helper did not answer within " + std::to_string(tools_.timeoutMs) +
                     " ms";
            return false;
        }
        struct pollfd fd = {session_.socket, POLLIN, 0};
        int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue;
        }
        char buffer[4096];
        ssize_t got = recv(session_.socket, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            *error =
                pending_.empty() ? "the close helper ended" : "the close helper ended: " + pending_;
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

bool CloseMessenger::EnsureRunning(std::string *error) {
    if (session_.pid > 0) {
        int status;
        if (waitpid(session_.pid, &status, WNOHANG) == 0) {
            return true;
        }
        // It left after a quiet minute (or died): start another.
        session_.pid = -1;
        Stop();
    }
    if (StartToolSession(tools_, kPythonTool, {"-I", "-c", kScript, configPath_}, &session_,
                         error) != kStatusOk) {
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(tools_.timeoutMs);
    std::string line;
    for (int i = 0; i < kNoiseLines; ++i) {
        if (!ReadLine(&line, deadline, error)) {
            Stop();
            return false;
        }
        if (line == "ready") {
            return true;
        }
        if (line.starts_with("fail ")) {
            *error = line.substr(5);
            Stop();
            return false;
        }
    }
    *error = "the close helper did not start: " + line;
    Stop();
    return false;
}

int CloseMessenger::SendChunk(const std::vector<CloseTarget> &targets, std::size_t first,
                              std::size_t count, std::vector<bool> *delivered,
                              std::size_t *answered, std::string *error) {
    std::string requests;
    for (std::size_t i = first; i < first + count; ++i) {
        requests += CloseRequestLine(targets[i]);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(tools_.timeoutMs);
    std::size_t sent = 0;
    while (sent < requests.size()) {
        ssize_t wrote = send(session_.socket, requests.data() + sent, requests.size() - sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
        if (wrote > 0) {
            sent += static_cast<std::size_t>(wrote);
            continue;
        }
        if (wrote < 0 && (errno == EAGAIN || errno == EINTR)) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            struct pollfd fd = {session_.socket, POLLOUT, 0};
            if (left.count() > 0 && poll(&fd, 1, static_cast<int>(left.count())) > 0) {
                continue;
            }
            *error = "the close helper took no requests within " +
                     std::to_string(tools_.timeoutMs) + " ms";
            return kStatusToolFailed;
        }
        *error = std::string("the close helper ended: ") + std::strerror(errno);
        return kStatusToolFailed;
    }
    std::string line;
    int noise = 0;
    while (*answered < count) {
        if (!ReadLine(&line, deadline, error)) {
            return kStatusToolFailed;
        }
        if (line == "ok" || line.starts_with("error ")) {
            (*delivered)[first + (*answered)++] = line == "ok";
        } else if (++noise > kNoiseLines) {
            *error = "the close helper answered what was not understood: " + line;
            return kStatusToolFailed;
        }
    }
    return kStatusOk;
}

bool CloseMessenger::Ready(std::string *error) {
    std::lock_guard<std::mutex> guard(mutex_);
    return EnsureRunning(error);
}

int CloseMessenger::Send(const std::vector<CloseTarget> &targets, std::vector<bool> *delivered,
                         std::string *error) {
    std::lock_guard<std::mutex> guard(mutex_);
    delivered->assign(targets.size(), false);
    // Requests go in chunks, each answered before the next is sent, so that neither side's
    // socket buffer fills while the other waits.
    for (std::size_t first = 0; first < targets.size(); first += kChunk) {
        const std::size_t count = std::min(kChunk, targets.size() - first);
        // A helper that left just before the requests arrived is started once more; a close
        // sent twice is harmless (the second finds no handle).
        int status = kStatusToolFailed;
        for (int attempt = 0; attempt < 2 && status != kStatusOk; ++attempt) {
            if (!EnsureRunning(error)) {
                return kStatusToolFailed;
            }
            std::size_t answered = 0;
            status = SendChunk(targets, first, count, delivered, &answered, error);
            if (status != kStatusOk) {
                Stop();
                if (answered > 0) {
                    return status;
                }
            }
        }
        if (status != kStatusOk) {
            return status;
        }
    }
    return kStatusOk;
}

}  // namespace cifsmon
