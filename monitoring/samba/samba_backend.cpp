#include "monitoring/samba/samba_backend.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <thread>
#include <utility>

#include "monitoring/call_report.h"
#include "monitoring/diagnostics.h"
#include "monitoring/samba/samba_close.h"
#include "monitoring/samba/samba_identity.h"
#include "monitoring/samba/samba_numbers.h"
#include "monitoring/samba/samba_proc.h"
#include "monitoring/samba/samba_sockets.h"
#include "monitoring/state_ops.h"
#include "monitoring/status.h"

namespace cifsmon {

namespace {

// After a close message was delivered, a listing waits at most this long for the process to
// close the handle, asking smbstatus this far apart.
constexpr std::chrono::milliseconds kCloseGrace(2000);
constexpr std::chrono::milliseconds kCloseCheckPause(100);
// Close messages remembered until a listing sees them carried out, at most.
constexpr std::size_t kPendingLimit = 65536;
// The message that tells that smbd answers, its answer, and what smbcontrol says when no smbd
// process is there.
constexpr char kLivenessMessage[] = "num-children";
constexpr char kLivenessAnswer[] = "children";
constexpr char kNoProcess[] = "Can't find pid";
// After the server service accepted a close it is carried out by the process holding the
// file: smbstatus is asked this many times, this far apart, whether the open went.
constexpr int kRpcCheckAttempts = 10;
constexpr std::chrono::milliseconds kRpcCheckPause(200);
// A close message lists at most this many of the other files it closed.
constexpr std::size_t kListedFiles = 50;
// smbstatus prints this when its lock database was never written: no client ever connected.
constexpr char kNeverConnected[] = "not initialised";

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

// Whether the process runs on this machine: outside a cluster, or on this node of it.
bool IsThisNode(std::optional<uint32_t> localVnn, const ServerId &server) {
    return server.vnn == kNonClusterVnn || (localVnn && server.vnn == *localVnn);
}

// The kernel's counters of each session's client connection, for sessions of this node.
template <typename IsLocal>
std::vector<std::optional<SambaTraffic>> SessionTraffic(const std::vector<SambaSession> &sessions,
                                                        const IsLocal &local) {
    std::vector<SessionSocketQuery> queries;
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        std::optional<SocketEndpoint> client = ParseTsocketAddress(sessions[i].clientEndpoint);
        if (client && local(sessions[i].server)) {
            queries.push_back(SessionSocketQuery{sessions[i].server.pid, *client});
            asked.push_back(i);
        }
    }
    std::vector<std::optional<SambaTraffic>> traffic(sessions.size());
    if (queries.empty()) {
        return traffic;
    }
    std::string failure;
    std::vector<std::optional<TcpCounters>> counters =
        LookUpSessionSockets(queries, kProcRoot, &failure);
    if (!failure.empty()) {
        ReportOnce("cannot read the connections' traffic from the kernel: " + failure);
    }
    for (std::size_t q = 0; q < queries.size() && q < counters.size(); ++q) {
        if (counters[q]) {
            traffic[asked[q]] = SambaTraffic{
                counters[q]->bytesAcked, counters[q]->bytesReceived,
                static_cast<uint32_t>(std::min<uint64_t>(counters[q]->dataSegsIn, UINT32_MAX)),
                counters[q]->lastDataRecvMs / 1000};
        }
    }
    return traffic;
}

}  // namespace

SambaBackend::SambaBackend(SambaSettings settings)
    : settings_(std::move(settings)),
      tools_(ToolOptionsOf(settings_)),
      messenger_(tools_, settings_.configPath) {
    // Called while a snapshot is built, with mutex_ held and localVnn_ set for it.
    auto local = [this](const ServerId &server) { return IsThisNode(localVnn_, server); };
    lookups_.processStart = [local](const ServerId &server) -> std::optional<uint64_t> {
        if (!local(server)) {
            return std::nullopt;
        }
        return ReadProcessStartTime(kProcRoot, server.pid);
    };
    lookups_.traffic = [local](const std::vector<SambaSession> &sessions) {
        return SessionTraffic(sessions, local);
    };
    lookups_.stableLogin = [this](const SambaSession &session, uint64_t seen) {
        return StableLogin(session, seen);
    };
    lookups_.groups = UserGroups;
    lookups_.resolvePath = ResolvePath;
    lookups_.hostName = DefaultNetbiosName();
    lookups_.adminGroup = settings_.adminGroup;
}

int SambaBackend::Fail(int status, const std::string &error, const std::string &reason) {
    SetFailureReason(reason.empty() ? error : reason);
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

uint64_t SambaBackend::StableLogin(const SambaSession &session, uint64_t seen) {
    // Called while a snapshot is built, with mutex_ held.
    auto [entry, added] = firstLogin_.emplace(SessionKey(session), seen);
    return added ? seen : std::min(entry->second, seen);
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

int SambaBackend::CheckServer(std::string *error, std::string *reason) {
    // num-children is answered by the main smbd process and, unlike ping, not logged by it.
    const unsigned wait = std::max(1u, settings_.timeoutSeconds / 2);
    const std::vector<std::string> arguments = {
        "-s", settings_.configPath, "-t", std::to_string(wait), "--", "smbd", kLivenessMessage};
    ToolResult result;
    int status = RunTool(tools_, kSmbcontrolTool, arguments, &result, error);
    if (status != kStatusOk) {
        return status;
    }
    if (result.exitStatus == 0 && result.output.find(kLivenessAnswer) != std::string::npos) {
        return kStatusOk;
    }
    const std::string said =
        " (" + DescribeCommand(kSmbcontrolTool, arguments) + ": " + DescribeFailure(result) + ")";
    if (geteuid() != 0) {
        *reason = "the console runs as uid " + std::to_string(geteuid()) +
                  ", not as root, and only root may ask smbd how it is.";
        *error = *reason + said;
        return kStatusNotPermitted;
    }
    const std::string text = result.errors + result.output;
    if (text.find(kNoProcess) != std::string::npos) {
        *reason = "smbd is not running.";
    } else {
        *reason = "smbd does not answer (no reply within " + std::to_string(wait) + " seconds).";
    }
    *error = *reason + said;
    return kStatusServerNotRunning;
}

void SambaBackend::MarkDirectories(SambaStatus *status) const {
    for (SambaOpenFile &file : status->openFiles) {
        struct stat info;
        file.directory = stat(file.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
}

int SambaBackend::AwaitPendingCloses(SambaStatus *status, std::string *error) {
    // Called while a snapshot is taken, with mutex_ held.
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        std::vector<PendingClose> still;
        bool young = false;
        for (const PendingClose &close : pending_) {
            bool listed = false;
            for (const SambaOpenFile &file : status->openFiles) {
                if (file.path != close.path) {
                    continue;
                }
                for (const SambaOpen &open : file.opens) {
                    listed = listed || SameOpen(open, close.open);
                }
            }
            if (!listed) {
                continue;
            }
            if (now - close.sentAt < kCloseGrace) {
                young = true;
                still.push_back(close);
            } else {
                Report("the close message for " + close.path + " of process " +
                       ProcessDestination(close.open.server) +
                       " was delivered, but the file is still open");
            }
        }
        pending_ = std::move(still);
        if (!young) {
            return kStatusOk;
        }
        std::this_thread::sleep_for(kCloseCheckPause);
        int code = RunSmbstatus(status, error);
        if (code != kStatusOk) {
            return code;
        }
    }
}

int SambaBackend::ReadNodes(Taken *taken, std::vector<ClusterNode> *nodes, std::string *error,
                            std::string *reason) {
    std::optional<uint32_t> configured;
    if (settings_.haveLocalVnn) {
        configured = settings_.localVnn;
    }
    taken->localVnn = configured;
    localVnn_ = configured;
    if (!taken->config.clustering) {
        return kStatusOk;
    }
    std::string failure;
    if (ReadClusterNodes(tools_, taken->config.ctdbdSocket, nodes, &failure) != kStatusOk) {
        // smbstatus still lists what the cluster's databases hold; which nodes take part, and
        // so which processes are this node's, is not known.
        ReportOnce("cannot read the cluster's nodes: " + failure);
        nodes->clear();
        return kStatusOk;
    }
    const std::optional<uint32_t> self = ThisNode(*nodes);
    for (const ClusterNode &node : *nodes) {
        if (node.thisNode && node.Absent()) {
            *reason = "this cluster node (" + std::to_string(node.pnn) + ", " + node.address +
                      ") is " + std::string(node.State()) +
                      ": it takes no part in the cluster's databases and cannot list them.";
            *error = *reason;
            return kStatusServerNotRunning;
        }
    }
    if (configured && self && *configured != *self) {
        ReportOnce(std::string(kSambaVnnVariable) + " says this is node " +
                   std::to_string(*configured) + ", ctdb says node " + std::to_string(*self) +
                   ": going by ctdb");
    }
    taken->localVnn = self ? self : configured;
    localVnn_ = taken->localVnn;
    taken->notice = AbsentNodesNotice(*nodes);
    return kStatusOk;
}

int SambaBackend::Gather(Taken *taken, std::string *error, std::string *reason) {
    const std::string &conf = settings_.configPath;
    ToolResult result;
    const std::vector<std::string> testparm = {"-s", "--", conf};
    int status = RunTool(tools_, kTestparmTool, testparm, &result, error);
    if (status != kStatusOk) {
        return status;
    }
    if (result.exitStatus != 0) {
        *error = "the Samba configuration cannot be read (" +
                 DescribeCommand(kTestparmTool, testparm) + " failed: " + DescribeFailure(result) +
                 ")";
        return kStatusToolFailed;
    }
    if (!ParseTestparmOutput(result.output, &taken->config, error)) {
        return kStatusToolOutputInvalid;
    }
    std::vector<ClusterNode> nodes;
    status = ReadNodes(taken, &nodes, error, reason);
    if (status != kStatusOk) {
        return status;
    }

    status = CheckServer(error, reason);
    if (status != kStatusOk) {
        return status;
    }
    status = RunSmbstatus(&taken->status, error);
    if (status == kStatusOk && !pending_.empty()) {
        status = AwaitPendingCloses(&taken->status, error);
    }
    if (status != kStatusOk) {
        return status;
    }
    DropAbsentNodes(nodes, &taken->status);
    MarkDirectories(&taken->status);

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
    // Login times are kept for the sessions there are.
    std::unordered_map<std::string, uint64_t> kept;
    for (const std::string &key : keys) {
        auto found = firstLogin_.find(key);
        if (found != firstLogin_.end()) {
            kept.insert(*found);
        }
    }
    firstLogin_ = std::move(kept);
    taken->owners = AttributeOpens(taken->config, taken->status, taken->numbers, lookups_);
    taken->state = std::make_shared<const State>(
        BuildSambaState(taken->config, taken->status, taken->numbers, taken->owners, lookups_));
    return kStatusOk;
}

int SambaBackend::Take(Purpose purpose, std::shared_ptr<const Taken> *taken) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const bool current = haveKept_ &&
                         now - keptAt_ < std::chrono::milliseconds(settings_.intervalMs) &&
                         (purpose == Purpose::kClose || !closedSinceKept_);
    if (current) {
        *taken = kept_;
        if (keptStatus_ != kStatusOk) {
            SetFailureReason(keptError_);
        }
        return keptStatus_;
    }
    auto gathered = std::make_shared<Taken>();
    std::string error;
    std::string reason;
    int status = Gather(gathered.get(), &error, &reason);
    haveKept_ = true;
    closedSinceKept_ = false;
    keptAt_ = std::chrono::steady_clock::now();
    keptStatus_ = status;
    keptError_ = reason.empty() ? error : reason;
    kept_ = status == kStatusOk ? std::shared_ptr<const Taken>(std::move(gathered)) : nullptr;
    *taken = kept_;
    if (status != kStatusOk) {
        return Fail(status, error, reason);
    }
    Recovered();
    return kStatusOk;
}

int SambaBackend::Snapshot(std::shared_ptr<const State> *state) {
    state->reset();
    std::shared_ptr<const Taken> taken;
    int status = Take(Purpose::kListing, &taken);
    if (status == kStatusOk) {
        *state = taken->state;
        if (!taken->notice.empty()) {
            AddNote(taken->notice);
        }
    }
    return status;
}

std::string SambaBackend::Describe(const Taken &taken, const ServerId &server,
                                   std::size_t owner) const {
    if (owner == OpenOwners::kNone || owner >= taken.status.sessions.size()) {
        return "process " + ProcessDestination(server);
    }
    return "connection " + std::to_string(taken.numbers[owner]) + " (user " +
           taken.status.sessions[owner].userName + ", process " + ProcessDestination(server) + ")";
}

void SambaBackend::CloseByMessage(const Taken &taken, std::vector<Target> *targets) {
    std::vector<Target> reachable;
    std::vector<Target> left;
    for (Target &target : *targets) {
        // Samba's messaging bindings reach the processes of this machine only.
        const bool here = IsThisNode(taken.localVnn, target.open.server);
        (here ? reachable : left).push_back(std::move(target));
    }
    *targets = std::move(left);
    if (reachable.empty()) {
        return;
    }
    std::vector<CloseTarget> messages;
    for (const Target &target : reachable) {
        CloseTarget message;
        message.pid = target.open.server.pid;
        // Addressed as a process of this machine: Samba's messaging bindings take no part in
        // the cluster and silently drop a message to a node number, even their own node's.
        message.vnn = kNonClusterVnn;
        message.devid = target.file->devid;
        message.inode = target.file->inode;
        message.extid = target.file->extid;
        message.shareFileId = target.open.shareFileId;
        messages.push_back(message);
    }
    std::vector<bool> delivered;
    std::string error;
    if (messenger_.Send(messages, &delivered, &error) != kStatusOk) {
        ReportOnce("cannot send the server's close message, closing another way: " + error);
        targets->insert(targets->end(), reachable.begin(), reachable.end());
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> guard(mutex_);
    closedSinceKept_ = true;
    for (std::size_t i = 0; i < reachable.size(); ++i) {
        const Target &target = reachable[i];
        if (!delivered[i]) {
            Report("the close message for " + target.file->path + " of " +
                   Describe(taken, target.open.server, target.owner) +
                   " could not be delivered (is the process gone?)");
            targets->push_back(target);
            continue;
        }
        Report("closed " + target.file->path + " of " +
               Describe(taken, target.open.server, target.owner));
        if (pending_.size() < kPendingLimit) {
            pending_.push_back(PendingClose{target.open, target.file->path, now});
        }
    }
}

void SambaBackend::CloseOverRpc(const Taken &taken, std::vector<Target> *targets) {
    std::vector<Target> requested;
    std::vector<Target> left;
    for (Target &target : *targets) {
        const uint32_t id = RpcFileId(target.open.server, target.open.shareFileId);
        // The service closes every open carrying the id, on every node (the id holds no node
        // number): one of another file, or of another node's process, must not go too.
        bool shared = false;
        for (const SambaOpenFile &file : taken.status.openFiles) {
            for (const SambaOpen &other : file.opens) {
                shared = shared || (RpcFileId(other.server, other.shareFileId) == id &&
                                    (&file != target.file || !SameOpen(other, target.open)));
            }
        }
        const std::string who = Describe(taken, target.open.server, target.owner);
        std::string error;
        if (shared) {
            Report("not closing " + target.file->path + " of " + who +
                   " through the server service: its file id " + std::to_string(id) +
                   " also names another open");
            left.push_back(std::move(target));
        } else if (CloseOpenOverRpc(tools_, settings_.configPath, settings_.rpcServer,
                                    settings_.rpcAuthFile, id, &error) != kStatusOk) {
            Report("the server service did not close " + target.file->path + " of " + who + ": " +
                   error);
            left.push_back(std::move(target));
        } else {
            requested.push_back(std::move(target));
        }
    }
    *targets = std::move(left);
    // The service answers once it has passed the close on; the process closes the file soon
    // after. An open still listed after the last check is closed another way.
    std::vector<Target> pending = requested;
    for (int attempt = 0; attempt < kRpcCheckAttempts && !pending.empty(); ++attempt) {
        std::this_thread::sleep_for(kRpcCheckPause);
        SambaStatus now;
        std::string error;
        if (RunSmbstatus(&now, &error) != kStatusOk) {
            Report("cannot check the closes through the server service: " + error);
            break;
        }
        std::vector<Target> still;
        for (const Target &target : pending) {
            bool listed = false;
            for (const SambaOpenFile &file : now.openFiles) {
                for (const SambaOpen &other : file.opens) {
                    listed =
                        listed || (file.path == target.file->path && SameOpen(target.open, other));
                }
            }
            if (listed) {
                still.push_back(target);
            }
        }
        pending = std::move(still);
    }
    for (const Target &target : requested) {
        bool stillOpen = false;
        for (const Target &other : pending) {
            stillOpen =
                stillOpen || (other.file == target.file && SameOpen(other.open, target.open));
        }
        const std::string who = Describe(taken, target.open.server, target.owner);
        if (stillOpen) {
            Report("the server service accepted the close of " + target.file->path + " of " + who +
                   " but it is still open");
            targets->push_back(target);
        } else {
            Report("closed " + target.file->path + " of " + who + " through the server service");
        }
    }
    if (!requested.empty()) {
        std::lock_guard<std::mutex> guard(mutex_);
        closedSinceKept_ = true;
    }
}

int SambaBackend::CloseByShare(const Taken &taken, const std::vector<Target> &targets) {
    int result = kStatusOk;
    // Each process and share once, however many of the targets it serves.
    std::vector<std::pair<ServerId, std::string>> done;
    for (const Target &target : targets) {
        const std::string who = Describe(taken, target.open.server, target.owner);
        const std::string &servicePath = target.file->servicePath;
        std::vector<std::string> shares = SharesServingPath(
            taken.config, taken.status, target.open.server, servicePath, lookups_);
        if (shares.empty()) {
            const std::string why = "cannot close " + target.file->path + " of " + who +
                                    ": it is connected to no configured share serving " +
                                    servicePath;
            Report(why);
            SetFailureReason(why);
            result = kStatusToolFailed;
            continue;
        }
        for (const std::string &share : shares) {
            bool already = false;
            for (const auto &[server, name] : done) {
                already = already || (server.SameProcess(target.open.server) && name == share);
            }
            if (already) {
                continue;
            }
            done.emplace_back(target.open.server, share);
            std::vector<std::string> others;
            for (const SambaOpenFile &file : taken.status.openFiles) {
                if (file.directory ||
                    NormalizeSharePath(file.servicePath) != NormalizeSharePath(servicePath)) {
                    continue;
                }
                bool asked = false;
                for (const Target &other : targets) {
                    asked = asked || other.file == &file;
                }
                for (const SambaOpen &open : file.opens) {
                    if (!asked && open.server.SameProcess(target.open.server)) {
                        others.push_back(file.path);
                        break;
                    }
                }
            }
            std::string error;
            if (CloseShare(tools_, settings_.configPath, target.open.server, share, &error) !=
                kStatusOk) {
                Report("closing " + target.file->path + " of " + who + " failed: " + error);
                SetFailureReason(error);
                result = kStatusToolFailed;
                continue;
            }
            Report("closed share " + share + " in " + who + " to close " + target.file->path +
                   "; this also closed its other files on that share: " + JoinPaths(others));
            if (!others.empty()) {
                AddNote("closing share " + share + " of " + who + " also closed " +
                        JoinPaths(others));
            }
        }
    }
    if (!done.empty()) {
        std::lock_guard<std::mutex> guard(mutex_);
        closedSinceKept_ = true;
    }
    return result;
}

int SambaBackend::CloseTargets(const Taken &taken, std::vector<Target> targets) {
    CloseByMessage(taken, &targets);
    if (!targets.empty() && !settings_.rpcAuthFile.empty()) {
        CloseOverRpc(taken, &targets);
    }
    return targets.empty() ? kStatusOk : CloseByShare(taken, targets);
}

int SambaBackend::CloseFilesOfConnection(unsigned int number) {
    if (number < kFirstConnectionNumber || number > kLastConnectionNumber) {
        return kStatusNotFound;
    }
    std::shared_ptr<const Taken> taken;
    int status = Take(Purpose::kClose, &taken);
    if (status != kStatusOk) {
        return status;
    }
    bool found = false;
    std::vector<Target> targets;
    for (std::size_t i = 0; i < taken->status.sessions.size(); ++i) {
        found = found || taken->numbers[i] == number;
    }
    for (std::size_t f = 0; f < taken->status.openFiles.size(); ++f) {
        const SambaOpenFile &file = taken->status.openFiles[f];
        if (file.directory) {
            continue;
        }
        for (std::size_t o = 0; o < file.opens.size(); ++o) {
            const std::size_t owner = taken->owners.of[f][o];
            if (owner != OpenOwners::kNone && taken->numbers[owner] == number &&
                IsLiveProcess(file.opens[o].server)) {
                targets.push_back(Target{&file, file.opens[o], owner});
            }
        }
    }
    if (!found) {
        return kStatusNotFound;
    }
    return CloseTargets(*taken, std::move(targets));
}

int SambaBackend::CloseFileByPath(std::string_view path) {
    std::shared_ptr<const Taken> taken;
    int status = Take(Purpose::kClose, &taken);
    if (status != kStatusOk) {
        return status;
    }
    std::vector<std::string_view> open;
    for (const SambaOpenFile &file : taken->status.openFiles) {
        for (const SambaOpen &holder : file.opens) {
            if (IsLiveProcess(holder.server)) {
                open.push_back(file.path);
                break;
            }
        }
    }
    std::string wanted;
    std::size_t candidates = 0;
    status = ResolveClosePath(path, open, &wanted, &candidates);
    if (status == kStatusAmbiguous) {
        SetFailureReason("the shortened name stands for " + std::to_string(candidates) +
                         " open files");
    }
    if (status != kStatusOk) {
        return status;
    }
    std::vector<Target> targets;
    for (std::size_t f = 0; f < taken->status.openFiles.size(); ++f) {
        const SambaOpenFile &file = taken->status.openFiles[f];
        if (file.path != wanted) {
            continue;
        }
        for (std::size_t o = 0; o < file.opens.size(); ++o) {
            if (IsLiveProcess(file.opens[o].server)) {
                targets.push_back(Target{&file, file.opens[o], taken->owners.of[f][o]});
            }
        }
    }
    return CloseTargets(*taken, std::move(targets));
}

int SambaBackend::TargetsOfConnectionPath(const Taken &taken, unsigned int number,
                                          std::string_view path, std::vector<Target> *targets) {
    targets->clear();
    if (number < kFirstConnectionNumber || number > kLastConnectionNumber) {
        return kStatusNotFound;
    }
    bool found = false;
    for (std::size_t i = 0; i < taken.status.sessions.size(); ++i) {
        found = found || taken.numbers[i] == number;
    }
    if (!found) {
        return kStatusNotFound;
    }
    // The session's open paths, among which a path cut to fit is resolved.
    auto owned = [&](std::size_t f, std::size_t o) {
        const std::size_t owner = taken.owners.of[f][o];
        return owner != OpenOwners::kNone && taken.numbers[owner] == number &&
               IsLiveProcess(taken.status.openFiles[f].opens[o].server);
    };
    std::vector<std::string_view> paths;
    for (std::size_t f = 0; f < taken.status.openFiles.size(); ++f) {
        const SambaOpenFile &file = taken.status.openFiles[f];
        for (std::size_t o = 0; o < file.opens.size() && !file.directory; ++o) {
            if (owned(f, o)) {
                paths.push_back(file.path);
                break;
            }
        }
    }
    std::string wanted;
    std::size_t candidates = 0;
    int status = ResolveClosePath(path, paths, &wanted, &candidates);
    if (status == kStatusAmbiguous) {
        SetFailureReason("the shortened name stands for " + std::to_string(candidates) +
                         " open files");
    }
    if (status != kStatusOk) {
        return status;
    }
    for (std::size_t f = 0; f < taken.status.openFiles.size(); ++f) {
        const SambaOpenFile &file = taken.status.openFiles[f];
        if (file.path != wanted || file.directory) {
            continue;
        }
        for (std::size_t o = 0; o < file.opens.size(); ++o) {
            if (owned(f, o)) {
                targets->push_back(Target{&file, file.opens[o], taken.owners.of[f][o]});
            }
        }
    }
    return targets->empty() ? kStatusNotFound : kStatusOk;
}

int SambaBackend::CloseOpenOfConnection(unsigned int number, std::string_view path) {
    std::shared_ptr<const Taken> taken;
    int status = Take(Purpose::kClose, &taken);
    if (status != kStatusOk) {
        return status;
    }
    std::vector<Target> targets;
    status = TargetsOfConnectionPath(*taken, number, path, &targets);
    if (status != kStatusOk) {
        return status;
    }
    return CloseTargets(*taken, std::move(targets));
}

int SambaBackend::PlanClose(const std::vector<OpenRef> &targets,
                            std::shared_ptr<const State> *state, std::vector<OpenRef> *plan) {
    plan->clear();
    std::shared_ptr<const Taken> taken;
    int status = Take(Purpose::kListing, &taken);
    if (status != kStatusOk) {
        return status;
    }
    *state = taken->state;
    const bool rpc = !settings_.rpcAuthFile.empty();
    // Whether the close message can be sent here, asked only when a local open needs it.
    std::optional<bool> messaging;
    for (const OpenRef &ref : targets) {
        std::vector<Target> opens;
        if (TargetsOfConnectionPath(*taken, ref.number, ref.path, &opens) != kStatusOk) {
            continue;
        }
        plan->push_back(OpenRef{ref.number, opens.front().file->path});
        for (const Target &target : opens) {
            if (rpc) {
                continue;
            }
            if (IsThisNode(taken->localVnn, target.open.server)) {
                if (!messaging) {
                    std::string error;
                    messaging = messenger_.Ready(&error);
                }
                if (*messaging) {
                    continue;
                }
            }
            // Closed by its share: the process's other files under that directory go along.
            const std::string directory = NormalizeSharePath(target.file->servicePath);
            for (std::size_t f = 0; f < taken->status.openFiles.size(); ++f) {
                const SambaOpenFile &file = taken->status.openFiles[f];
                if (file.directory || NormalizeSharePath(file.servicePath) != directory) {
                    continue;
                }
                for (std::size_t o = 0; o < file.opens.size(); ++o) {
                    const std::size_t owner = taken->owners.of[f][o];
                    if (owner != OpenOwners::kNone &&
                        file.opens[o].server.SameProcess(target.open.server)) {
                        plan->push_back(OpenRef{taken->numbers[owner], file.path});
                    }
                }
            }
        }
    }
    return kStatusOk;
}

int SambaBackend::EndSession(unsigned int number) {
    if (number < kFirstConnectionNumber || number > kLastConnectionNumber) {
        return kStatusNotFound;
    }
    std::shared_ptr<const Taken> taken;
    int status = Take(Purpose::kClose, &taken);
    if (status != kStatusOk) {
        return status;
    }
    const std::vector<SambaSession> &sessions = taken->status.sessions;
    std::vector<ServerId> processes;
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        if (taken->numbers[i] != number) {
            continue;
        }
        bool known = false;
        for (const ServerId &server : processes) {
            known = known || server.SameProcess(sessions[i].server);
        }
        if (!known) {
            processes.push_back(sessions[i].server);
        }
    }
    if (processes.empty()) {
        return kStatusNotFound;
    }
    int result = kStatusOk;
    for (const ServerId &server : processes) {
        std::size_t owner = OpenOwners::kNone;
        std::vector<std::string> others;
        for (std::size_t i = 0; i < sessions.size(); ++i) {
            if (!sessions[i].server.SameProcess(server)) {
                continue;
            }
            if (taken->numbers[i] == number) {
                owner = owner == OpenOwners::kNone ? i : owner;
            } else {
                others.push_back("connection " + std::to_string(taken->numbers[i]) + " (user " +
                                 sessions[i].userName + ")");
            }
        }
        const std::string who = Describe(*taken, server, owner);
        std::string error;
        if (!IsLiveProcess(server)) {
            error = "cannot end " + who + ": it has no server process";
        } else if (ShutdownProcess(tools_, settings_.configPath, server, &error) == kStatusOk) {
            Report("ended " + who + " by shutting its server process down");
            if (!others.empty()) {
                const std::string note = "the server process " + ProcessDestination(server) +
                                         " also served " + JoinPaths(others) +
                                         ", which ended with it";
                Report(note);
                AddNote(note);
            }
            continue;
        }
        Report("ending " + who + " failed: " + error);
        SetFailureReason(error);
        result = kStatusToolFailed;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        closedSinceKept_ = true;
    }
    // The process leaves its session records as it exits; the next listing should not show it.
    const auto deadline = std::chrono::steady_clock::now() + kCloseGrace;
    std::vector<ServerId> remote;
    for (const ServerId &server : processes) {
        if (!IsLiveProcess(server)) {
            continue;
        }
        if (!IsThisNode(taken->localVnn, server)) {
            remote.push_back(server);
            continue;
        }
        while (kill(static_cast<pid_t>(server.pid), 0) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kCloseCheckPause);
        }
    }
    // Another node's process is seen to go only in the cluster's session records.
    while (!remote.empty() && std::chrono::steady_clock::now() < deadline) {
        SambaStatus now;
        std::string error;
        if (RunSmbstatus(&now, &error) != kStatusOk) {
            break;
        }
        std::erase_if(remote, [&now](const ServerId &server) {
            return std::none_of(now.sessions.begin(), now.sessions.end(),
                                [&server](const SambaSession &session) {
                                    return session.server.SameProcess(server);
                                });
        });
        if (!remote.empty()) {
            std::this_thread::sleep_for(kCloseCheckPause);
        }
    }
    return result;
}

}  // namespace cifsmon
