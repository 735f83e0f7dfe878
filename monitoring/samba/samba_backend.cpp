#include "monitoring/samba/samba_backend.h"

#include <climits>
#include <cstdlib>
#include <thread>
#include <utility>

#include "monitoring/diagnostics.h"
#include "monitoring/samba/samba_close.h"
#include "monitoring/samba/samba_identity.h"
#include "monitoring/samba/samba_numbers.h"
#include "monitoring/samba/samba_proc.h"
#include "monitoring/status.h"

namespace cifsmon {

namespace {

// After the server service accepted a close it is carried out by the process holding the
// file: smbstatus is asked this many times, this far apart, whether the open went.
constexpr int kRpcCheckAttempts = 10;
constexpr std::chrono::milliseconds kRpcCheckPause(200);
// A close message lists at most this many of the other files it closed.
constexpr std::size_t kListedFiles = 50;
// smbstatus prints this when its lock database was never written: no client ever connected.
constexpr char kNeverConnected[] = "not initialised";
// The reply that tells that smbd answers.
constexpr char kPong[] = "PONG";

ToolOptions ToolOptionsOf(const SambaSettings &settings) {
    ToolOptions tools;
    tools.searchPath = settings.toolPath;
    tools.timeoutMs = settings.timeoutSeconds * 1000;
    tools.outputLimit = settings.outputLimit;
    return tools;
}

std::string ResolvePath(const std::string &path) {
    char *resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::string();
    }
    std::string text(resolved);
    std::free(resolved);
    return text;
}

std::string JoinPaths(const std::vector<std::string> &paths) {
    std::string text;
    std::size_t listed = 0;
    for (const std::string &path : paths) {
        if (listed == kListedFiles) {
            text += " and " + std::to_string(paths.size() - listed) + " more";
            break;
        }
        text += listed++ == 0 ? "" : ", ";
        text += path;
    }
    return text.empty() ? "none" : text;
}

bool SameOpen(const SambaOpen &a, const SambaOpen &b) {
    return a.server.SameProcess(b.server) && a.shareFileId == b.shareFileId;
}

// A process that a message can reach: not the placeholder of a disconnected durable handle.
bool IsLiveProcess(const ServerId &server) {
    return server.pid != 0 && server.pid <= static_cast<uint64_t>(INT_MAX);
}

}  // namespace

SambaBackend::SambaBackend(SambaSettings settings)
    : settings_(std::move(settings)), tools_(ToolOptionsOf(settings_)) {
    const SambaSettings &s = settings_;
    auto local = [s](const ServerId &server) {
        return server.vnn == kNonClusterVnn || (s.haveLocalVnn && server.vnn == s.localVnn);
    };
    lookups_.processIo = [local](const ServerId &server) -> std::optional<ProcessIo> {
        if (!local(server)) {
            return std::nullopt;
        }
        return ReadProcessIo(kProcRoot, server.pid);
    };
    lookups_.processStart = [local](const ServerId &server) -> std::optional<uint64_t> {
        if (!local(server)) {
            return std::nullopt;
        }
        return ReadProcessStartTime(kProcRoot, server.pid);
    };
    lookups_.groups = UserGroups;
    lookups_.resolvePath = ResolvePath;
    lookups_.hostName = DefaultNetbiosName();
    lookups_.adminGroup = settings_.adminGroup;
}

int SambaBackend::Fail(int status, const std::string &error) {
    std::lock_guard<std::mutex> guard(reportMutex_);
    if (error != lastReported_) {
        Report(error);
        lastReported_ = error;
    }
    return status;
}

void SambaBackend::Recovered() {
    std::lock_guard<std::mutex> guard(reportMutex_);
    lastReported_.clear();
}

int SambaBackend::RunSmbstatus(SambaStatus *status, std::string *error) {
    ToolResult result;
    const std::vector<std::string> arguments = {"-s", settings_.configPath, "--json"};
    int code = RunTool(tools_, kSmbstatusTool, arguments, &result, error);
    if (code != kStatusOk) {
        return code;
    }
    if (result.exitStatus != 0) {
        bool blank = result.output.find_first_not_of(" \t\r\n") == std::string::npos;
        if (blank && result.errors.find(kNeverConnected) != std::string::npos) {
            *status = SambaStatus();
            return kStatusOk;
        }
        *error = DescribeCommand(kSmbstatusTool, arguments) + " failed: " + DescribeFailure(result);
        return kStatusToolFailed;
    }
    if (!ParseSmbstatusJson(result.output, status, error)) {
        return kStatusToolOutputInvalid;
    }
    return kStatusOk;
}

int SambaBackend::Gather(Taken *taken, std::string *error) {
    const std::string &conf = settings_.configPath;
    ToolResult result;
    const std::vector<std::string> testparm = {"-s", "--", conf};
    int status = RunTool(tools_, kTestparmTool, testparm, &result, error);
    if (status != kStatusOk) {
        return status;
    }
    if (result.exitStatus != 0) {
        *error = DescribeCommand(kTestparmTool, testparm) + " failed: " + DescribeFailure(result);
        return kStatusToolFailed;
    }
    if (!ParseTestparmOutput(result.output, &taken->config, error)) {
        return kStatusToolOutputInvalid;
    }

    const unsigned wait = std::max(1u, settings_.timeoutSeconds / 2);
    const std::vector<std::string> ping = {"-s", conf,   "-t",  std::to_string(wait),
                                           "--", "smbd", "ping"};
    status = RunTool(tools_, kSmbcontrolTool, ping, &result, error);
    if (status != kStatusOk) {
        return status;
    }
    if (result.exitStatus != 0 || result.output.find(kPong) == std::string::npos) {
        *error = "smbd is not running or does not answer (" +
                 DescribeCommand(kSmbcontrolTool, ping) + ": " + DescribeFailure(result) + ")";
        return kStatusServerNotRunning;
    }

    status = RunSmbstatus(&taken->status, error);
    if (status != kStatusOk) {
        return status;
    }

    std::vector<std::string> keys;
    keys.reserve(taken->status.sessions.size());
    for (const SambaSession &session : taken->status.sessions) {
        keys.push_back(SessionKey(session));
    }
    std::string warning;
    status = AssignConnectionNumbers(settings_.numbersPath, keys, &taken->numbers, &warning, error);
    if (!warning.empty()) {
        Report(warning);
    }
    if (status != kStatusOk) {
        *error = "cannot keep the connection numbers: " + *error;
        return status;
    }
    taken->state = std::make_shared<const State>(
        BuildSambaState(taken->config, taken->status, taken->numbers, lookups_));
    return kStatusOk;
}

int SambaBackend::Take(bool fresh, std::shared_ptr<const Taken> *taken) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (!fresh && haveKept_ && now - keptAt_ < std::chrono::milliseconds(settings_.intervalMs)) {
        *taken = kept_;
        return keptStatus_;
    }
    auto gathered = std::make_shared<Taken>();
    std::string error;
    int status = Gather(gathered.get(), &error);
    haveKept_ = true;
    keptAt_ = std::chrono::steady_clock::now();
    keptStatus_ = status;
    kept_ = status == kStatusOk ? std::shared_ptr<const Taken>(std::move(gathered)) : nullptr;
    *taken = kept_;
    if (status != kStatusOk) {
        return Fail(status, error);
    }
    Recovered();
    return kStatusOk;
}

void SambaBackend::Invalidate() {
    std::lock_guard<std::mutex> guard(mutex_);
    haveKept_ = false;
    kept_.reset();
}

int SambaBackend::Snapshot(std::shared_ptr<const State> *state) {
    state->reset();
    std::shared_ptr<const Taken> taken;
    int status = Take(false, &taken);
    if (status == kStatusOk) {
        *state = taken->state;
    }
    return status;
}

std::string SambaBackend::Describe(const Taken &taken, const ServerId &server,
                                   std::optional<uint32_t> uid) const {
    for (std::size_t i = 0; i < taken.status.sessions.size(); ++i) {
        const SambaSession &session = taken.status.sessions[i];
        if (session.server.SameProcess(server) && (!uid || session.uid == uid)) {
            return "connection " + std::to_string(taken.numbers[i]) + " (user " + session.userName +
                   ", process " + ProcessDestination(server) + ")";
        }
    }
    return "process " + ProcessDestination(server);
}

int SambaBackend::CloseFilesOfConnection(unsigned int number) {
    if (number < kFirstConnectionNumber || number > kLastConnectionNumber) {
        return kStatusNotFound;
    }
    std::shared_ptr<const Taken> taken;
    int status = Take(true, &taken);
    if (status != kStatusOk) {
        return status;
    }
    bool found = false;
    int result = kStatusOk;
    for (std::size_t i = 0; i < taken->status.sessions.size(); ++i) {
        if (taken->numbers[i] != number) {
            continue;
        }
        found = true;
        const SambaSession &session = taken->status.sessions[i];
        const std::string who = "connection " + std::to_string(number) + " (user " +
                                session.userName + ", process " +
                                ProcessDestination(session.server) + ")";
        for (const std::string &share : SharesOfSession(taken->status, session)) {
            std::vector<std::string> files;
            for (const SambaOpenFile &file : taken->status.openFiles) {
                bool served = false;
                for (const std::string &name :
                     SharesServingPath(taken->config, taken->status, session.server,
                                       file.servicePath, lookups_)) {
                    served = served || name == share;
                }
                for (const SambaOpen &open : file.opens) {
                    if (served && open.server.SameProcess(session.server)) {
                        files.push_back(file.path);
                        break;
                    }
                }
            }
            std::string error;
            if (CloseShare(tools_, settings_.configPath, session.server, share, &error) !=
                kStatusOk) {
                Report("closing the files of " + who + " on share " + share + " failed: " + error);
                result = kStatusToolFailed;
                continue;
            }
            Report("closed share " + share + " in " + who +
                   ", the session stays; files closed: " + JoinPaths(files));
        }
    }
    Invalidate();
    return found ? result : kStatusNotFound;
}

void SambaBackend::CloseOverRpc(const Taken &taken, const std::string &path,
                                std::vector<SambaOpen> *remaining) {
    std::vector<SambaOpen> targets = std::move(*remaining);
    remaining->clear();
    std::vector<SambaOpen> requested;
    for (const SambaOpen &open : targets) {
        const uint32_t id = RpcFileId(open.server, open.shareFileId);
        // The service closes every open carrying the id; one of another file must not go too.
        bool shared = false;
        for (const SambaOpenFile &file : taken.status.openFiles) {
            for (const SambaOpen &other : file.opens) {
                shared = shared ||
                         (file.path != path && RpcFileId(other.server, other.shareFileId) == id);
            }
        }
        std::string error;
        if (shared) {
            Report("not closing " + path + " of " + Describe(taken, open.server, open.uid) +
                   " through the server service: its file id " + std::to_string(id) +
                   " also names an open of another file");
            remaining->push_back(open);
        } else if (CloseOpenOverRpc(tools_, settings_.configPath, settings_.rpcServer,
                                    settings_.rpcAuthFile, id, &error) != kStatusOk) {
            Report("the server service did not close " + path + " of " +
                   Describe(taken, open.server, open.uid) + ": " + error);
            remaining->push_back(open);
        } else {
            requested.push_back(open);
        }
    }
    if (requested.empty()) {
        return;
    }
    // The service answers once it has passed the close on; the process closes the file soon
    // after. An open still listed after the last check is closed by its share.
    std::vector<SambaOpen> pending = requested;
    for (int attempt = 0; attempt < kRpcCheckAttempts && !pending.empty(); ++attempt) {
        std::this_thread::sleep_for(kRpcCheckPause);
        SambaStatus now;
        std::string error;
        if (RunSmbstatus(&now, &error) != kStatusOk) {
            Report("cannot check the close of " + path + ": " + error);
            break;
        }
        std::vector<SambaOpen> still;
        for (const SambaOpen &open : pending) {
            bool listed = false;
            for (const SambaOpenFile &file : now.openFiles) {
                for (const SambaOpen &other : file.opens) {
                    listed = listed || (file.path == path && SameOpen(open, other));
                }
            }
            if (listed) {
                still.push_back(open);
            }
        }
        pending = std::move(still);
    }
    for (const SambaOpen &open : requested) {
        bool stillOpen = false;
        for (const SambaOpen &other : pending) {
            stillOpen = stillOpen || SameOpen(open, other);
        }
        if (stillOpen) {
            Report("the server service accepted the close of " + path + " of " +
                   Describe(taken, open.server, open.uid) + " but it is still open");
            remaining->push_back(open);
        } else {
            Report("closed " + path + " of " + Describe(taken, open.server, open.uid) +
                   " through the server service");
        }
    }
}

int SambaBackend::CloseByShare(const Taken &taken, const std::string &path,
                               const std::string &servicePath,
                               const std::vector<SambaOpen> &opens) {
    int result = kStatusOk;
    std::vector<ServerId> done;
    for (const SambaOpen &open : opens) {
        bool already = false;
        for (const ServerId &server : done) {
            already = already || server.SameProcess(open.server);
        }
        if (already) {
            continue;
        }
        done.push_back(open.server);
        const std::string who = Describe(taken, open.server, open.uid);
        std::vector<std::string> shares =
            SharesServingPath(taken.config, taken.status, open.server, servicePath, lookups_);
        if (shares.empty()) {
            Report("cannot close " + path + " of " + who + ": it is connected to no configured " +
                   "share serving " + servicePath);
            result = kStatusToolFailed;
            continue;
        }
        for (const std::string &share : shares) {
            std::vector<std::string> others;
            for (const SambaOpenFile &file : taken.status.openFiles) {
                if (file.path == path ||
                    NormalizeSharePath(file.servicePath) != NormalizeSharePath(servicePath)) {
                    continue;
                }
                for (const SambaOpen &other : file.opens) {
                    if (other.server.SameProcess(open.server)) {
                        others.push_back(file.path);
                        break;
                    }
                }
            }
            std::string error;
            if (CloseShare(tools_, settings_.configPath, open.server, share, &error) != kStatusOk) {
                Report("closing " + path + " of " + who + " failed: " + error);
                result = kStatusToolFailed;
                continue;
            }
            Report("closed share " + share + " in " + who + " to close " + path +
                   "; this also closed its other files on that share: " + JoinPaths(others));
        }
    }
    return result;
}

int SambaBackend::CloseFileByPath(std::string_view path) {
    std::shared_ptr<const Taken> taken;
    int status = Take(true, &taken);
    if (status != kStatusOk) {
        return status;
    }
    const std::string wanted(path);
    int result = kStatusOk;
    bool found = false;
    for (const SambaOpenFile &file : taken->status.openFiles) {
        if (file.path != wanted) {
            continue;
        }
        std::vector<SambaOpen> opens;
        for (const SambaOpen &open : file.opens) {
            if (IsLiveProcess(open.server)) {
                opens.push_back(open);
            }
        }
        if (opens.empty()) {
            continue;
        }
        found = true;
        if (!settings_.rpcAuthFile.empty()) {
            CloseOverRpc(*taken, wanted, &opens);
        }
        if (!opens.empty()) {
            int closed = CloseByShare(*taken, wanted, file.servicePath, opens);
            if (closed != kStatusOk) {
                result = closed;
            }
        }
    }
    Invalidate();
    return found ? result : kStatusNotFound;
}

}  // namespace cifsmon
