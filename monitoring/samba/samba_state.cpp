#include "monitoring/samba/samba_state.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

#include "monitoring/samba/samba_identity.h"
#include "monitoring/text.h"

namespace cifsmon {

namespace {

// Whether the share serves the directory the server reported for an open.
bool ServesPath(const SambaShare &share, const std::string &servicePath,
                const SambaLookups &lookups) {
    std::string reported = NormalizeSharePath(servicePath);
    if (share.path.empty() || reported.empty()) {
        return false;
    }
    if (NormalizeSharePath(share.path) == reported) {
        return true;
    }
    if (!lookups.resolvePath) {
        return false;
    }
    std::string resolved = lookups.resolvePath(share.path);
    return !resolved.empty() && NormalizeSharePath(resolved) == reported;
}

// Session indexes in number order (ties in smbstatus's order).
std::vector<std::size_t> NumberOrder(const std::vector<uint16_t> &numbers) {
    std::vector<std::size_t> order(numbers.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&numbers](std::size_t a, std::size_t b) { return numbers[a] < numbers[b]; });
    return order;
}

// A process as a map key.
struct ProcessKey {
    uint64_t pid;
    uint32_t vnn;
    bool operator==(const ProcessKey &) const = default;
};

struct ProcessKeyHash {
    std::size_t operator()(const ProcessKey &key) const {
        return std::hash<uint64_t>()(key.pid * 31 + key.vnn);
    }
};

using SessionsOfProcess = std::unordered_map<ProcessKey, std::vector<std::size_t>, ProcessKeyHash>;

// Each process's sessions, in number order.
SessionsOfProcess GroupByProcess(const SambaStatus &status, const std::vector<std::size_t> &order) {
    SessionsOfProcess sessions;
    for (std::size_t index : order) {
        const ServerId &server = status.sessions[index].server;
        sessions[ProcessKey{server.pid, server.vnn}].push_back(index);
    }
    return sessions;
}

// The volume a file opened by `session` under `servicePath` is listed on: among the shares
// serving that directory, one the session is connected to, else the first; empty when none.
std::string VolumeOf(const SambaConfig &config, const SambaStatus &status,
                     const SambaSession &session, const std::string &servicePath,
                     const SambaLookups &lookups) {
    const SambaShare *first = nullptr;
    std::vector<std::string> connected = SharesOfSession(status, session);
    for (const SambaShare &share : config.shares) {
        if (!ServesPath(share, servicePath, lookups)) {
            continue;
        }
        for (const std::string &name : connected) {
            if (EqualsIgnoringCase(name, share.name)) {
                return share.name;
            }
        }
        if (first == nullptr) {
            first = &share;
        }
    }
    return first != nullptr ? first->name : std::string();
}

// NT access and share bits (FILE_READ_DATA, FILE_WRITE_DATA, FILE_APPEND_DATA, DELETE; and
// FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE).
constexpr uint32_t kNtReadData = 0x1;
constexpr uint32_t kNtWriteData = 0x2;
constexpr uint32_t kNtAppendData = 0x4;
constexpr uint32_t kNtDelete = 0x10000;
constexpr uint32_t kNtShareAll = 0x7;

// Folds another open of the same file by the same session into its detail.
void MergeDetail(OpenDetail *into, const OpenDetail &other) {
    if (other.openedAt != 0 && (into->openedAt == 0 || other.openedAt < into->openedAt)) {
        into->openedAt = other.openedAt;
    }
    into->access |= other.access;
    into->shareMode &= other.shareMode;
    if (into->oplock == "none") {
        into->oplock = other.oplock;
    }
}

}  // namespace

std::string EndpointAddress(const std::string &endpoint) {
    const std::size_t colon = endpoint.find(':');
    const std::size_t port = endpoint.rfind(':');
    if (colon == std::string::npos || port == colon) {
        return std::string();
    }
    const std::string family = endpoint.substr(0, colon);
    if (family != "ipv4" && family != "ipv6") {
        return std::string();
    }
    return endpoint.substr(colon + 1, port - colon - 1);
}

OpenDetail DetailOfOpen(const SambaOpen &open) {
    OpenDetail detail;
    detail.openedAt = open.openedAt.value_or(0);
    if (open.accessMask) {
        const uint32_t mask = *open.accessMask;
        detail.access = ((mask & kNtReadData) ? kAccessRead : 0) |
                        ((mask & (kNtWriteData | kNtAppendData)) ? kAccessWrite : 0) |
                        ((mask & kNtDelete) ? kAccessDelete : 0);
    }
    if (open.shareAccess) {
        detail.shareMode = *open.shareAccess & kNtShareAll;
    }
    if (!open.oplock.empty()) {
        detail.oplock = open.oplock;
    }
    return detail;
}

OpenOwners AttributeOpens(const SambaConfig &config, const SambaStatus &status,
                          const std::vector<uint16_t> &numbers, const SambaLookups &lookups) {
    const SessionsOfProcess sessions = GroupByProcess(status, NumberOrder(numbers));
    // The shares of each session of a process serving several, found when first needed.
    std::vector<std::optional<std::vector<std::string>>> sharesOf(status.sessions.size());
    OpenOwners owners;
    owners.of.resize(status.openFiles.size());
    for (std::size_t f = 0; f < status.openFiles.size(); ++f) {
        const SambaOpenFile &file = status.openFiles[f];
        owners.of[f].assign(file.opens.size(), OpenOwners::kNone);
        for (std::size_t o = 0; o < file.opens.size(); ++o) {
            const SambaOpen &open = file.opens[o];
            auto found = sessions.find(ProcessKey{open.server.pid, open.server.vnn});
            if (found == sessions.end()) {
                continue;
            }
            const std::vector<std::size_t> &candidates = found->second;
            if (candidates.size() == 1) {
                owners.of[f][o] = candidates.front();
                continue;
            }
            // Several sessions in one process: those connected to a share serving the file.
            std::vector<std::size_t> serving;
            for (std::size_t index : candidates) {
                if (!sharesOf[index]) {
                    sharesOf[index] = SharesOfSession(status, status.sessions[index]);
                }
                for (const std::string &share : *sharesOf[index]) {
                    bool serves = false;
                    for (const SambaShare &configured : config.shares) {
                        serves = serves || (EqualsIgnoringCase(configured.name, share) &&
                                            ServesPath(configured, file.servicePath, lookups));
                    }
                    if (serves) {
                        serving.push_back(index);
                        break;
                    }
                }
            }
            if (serving.size() == 1) {
                owners.of[f][o] = serving.front();
                continue;
            }
            const std::vector<std::size_t> &pool = serving.empty() ? candidates : serving;
            std::size_t owner = pool.front();
            for (std::size_t index : pool) {
                if (status.sessions[index].uid.has_value() &&
                    status.sessions[index].uid == open.uid) {
                    owner = index;
                    break;
                }
            }
            owners.of[f][o] = owner;
        }
    }
    return owners;
}

std::vector<std::string> SharesOfSession(const SambaStatus &status, const SambaSession &session) {
    std::vector<std::string> shares;
    for (const SambaTreeConnect &tcon : status.treeConnects) {
        if (tcon.sessionId != session.sessionId || !tcon.server.SameProcess(session.server) ||
            tcon.service.empty() || EqualsIgnoringCase(tcon.service, "IPC$")) {
            continue;
        }
        if (std::find(shares.begin(), shares.end(), tcon.service) == shares.end()) {
            shares.push_back(tcon.service);
        }
    }
    return shares;
}

std::vector<std::string> SharesServingPath(const SambaConfig &config, const SambaStatus &status,
                                           const ServerId &server, const std::string &servicePath,
                                           const SambaLookups &lookups) {
    std::vector<std::string> shares;
    for (const SambaTreeConnect &tcon : status.treeConnects) {
        if (!tcon.server.SameProcess(server) ||
            std::find(shares.begin(), shares.end(), tcon.service) != shares.end()) {
            continue;
        }
        for (const SambaShare &share : config.shares) {
            if (EqualsIgnoringCase(share.name, tcon.service) &&
                ServesPath(share, servicePath, lookups)) {
                shares.push_back(tcon.service);
                break;
            }
        }
    }
    return shares;
}

State BuildSambaState(const SambaConfig &config, const SambaStatus &status,
                      const std::vector<uint16_t> &numbers, const SambaLookups &lookups) {
    return BuildSambaState(config, status, numbers,
                           AttributeOpens(config, status, numbers, lookups), lookups);
}

State BuildSambaState(const SambaConfig &config, const SambaStatus &status,
                      const std::vector<uint16_t> &numbers, const OpenOwners &owners,
                      const SambaLookups &lookups) {
    State state;
    for (const SambaShare &share : config.shares) {
        state.volumes.push_back(Volume{share.name, share.path});
    }
    const std::vector<std::size_t> order = NumberOrder(numbers);
    const SessionsOfProcess sessionsOfProcess = GroupByProcess(status, order);

    // Each session's open paths per volume, in smbstatus's order, each path once, and where
    // each is (group, index).
    struct Opened {
        std::vector<OpenFileGroup> groups;
        std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> paths;
    };
    std::vector<Opened> opened(status.sessions.size());
    for (std::size_t f = 0; f < status.openFiles.size(); ++f) {
        const SambaOpenFile &file = status.openFiles[f];
        if (file.directory) {
            continue;
        }
        for (std::size_t o = 0; o < file.opens.size(); ++o) {
            const std::size_t owner = owners.of[f][o];
            if (owner == OpenOwners::kNone) {
                continue;
            }
            const OpenDetail detail = DetailOfOpen(file.opens[o]);
            auto known = opened[owner].paths.find(file.path);
            if (known != opened[owner].paths.end()) {
                MergeDetail(
                    &opened[owner].groups[known->second.first].details[known->second.second],
                    detail);
                continue;
            }
            std::string volume =
                VolumeOf(config, status, status.sessions[owner], file.servicePath, lookups);
            std::vector<OpenFileGroup> &groups = opened[owner].groups;
            auto group =
                std::find_if(groups.begin(), groups.end(),
                             [&volume](const OpenFileGroup &g) { return g.volume == volume; });
            if (group == groups.end()) {
                groups.push_back(OpenFileGroup{volume, {}, {}});
                group = groups.end() - 1;
            }
            opened[owner].paths.emplace(
                file.path, std::make_pair(static_cast<std::size_t>(group - groups.begin()),
                                          group->paths.size()));
            group->paths.push_back(file.path);
            group->details.push_back(detail);
        }
    }

    std::vector<std::optional<SambaTraffic>> traffic;
    if (lookups.traffic) {
        traffic = lookups.traffic(status.sessions);
    }
    traffic.resize(status.sessions.size());

    std::unordered_map<uint32_t, std::vector<std::string>> groupsOfUid;
    for (std::size_t index : order) {
        const SambaSession &session = status.sessions[index];
        Connection connection;
        connection.number = numbers[index];
        connection.address = session.remoteMachine;
        connection.user = session.userName;
        connection.type = ConnectionType(session, config, lookups.hostName);
        connection.loginStatus = session.Authenticating() ? kLoggingIn : kLoggedIn;
        if (!session.Authenticating()) {
            auto known = groupsOfUid.find(*session.uid);
            if (known == groupsOfUid.end()) {
                known =
                    groupsOfUid
                        .emplace(*session.uid, lookups.groups
                                                   ? lookups.groups(*session.uid, session.groupName)
                                                   : std::vector<std::string>())
                        .first;
            }
            connection.securityEquivalences = known->second;
        }
        connection.privileges = Privileges(session.Authenticating() ? std::nullopt : session.uid,
                                           connection.securityEquivalences, lookups.adminGroup);

        std::optional<uint64_t> start;
        if (lookups.processStart) {
            start = lookups.processStart(session.server);
        }
        const bool alone =
            sessionsOfProcess.at(ProcessKey{session.server.pid, session.server.vnn}).size() == 1;
        std::optional<uint64_t> login;
        if (alone && start) {
            login = start;
        } else {
            for (const SambaTreeConnect &tcon : status.treeConnects) {
                if (tcon.sessionId == session.sessionId &&
                    tcon.server.SameProcess(session.server) && tcon.connectedAt &&
                    (!login || *tcon.connectedAt < *login)) {
                    login = tcon.connectedAt;
                }
            }
            if (!login) {
                login = start;
            }
        }
        connection.loginTime = login.value_or(0);
        if (lookups.stableLogin && login) {
            connection.loginTime = lookups.stableLogin(session, *login);
        }

        if (traffic[index]) {
            connection.bytesRead = traffic[index]->bytesRead;
            connection.bytesWritten = traffic[index]->bytesWritten;
            connection.requestCount = traffic[index]->requests;
            connection.idleSeconds = traffic[index]->idleSeconds;
        }
        connection.clientAddress = EndpointAddress(session.clientEndpoint);
        if (connection.clientAddress.empty()) {
            connection.clientAddress = session.remoteMachine;
        }
        // Over SMB2 and later the server knows no name of the client and keeps its address.
        if (session.remoteMachine != connection.clientAddress &&
            session.remoteMachine != session.clientEndpoint) {
            connection.machine = session.remoteMachine;
        }
        connection.dialect = session.dialect;
        connection.signing = session.signing;
        connection.encryption = session.encryption;
        connection.node = session.server.vnn;
        connection.openFiles = std::move(opened[index].groups);
        state.connections.push_back(std::move(connection));
    }
    return state;
}

}  // namespace cifsmon
