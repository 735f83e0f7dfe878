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

std::optional<std::size_t> Owner(const SambaStatus &status, const std::vector<std::size_t> &order,
                                 const SambaOpen &open) {
    for (std::size_t index : order) {
        const SambaSession &session = status.sessions[index];
        if (session.server.SameProcess(open.server) && session.uid.has_value() &&
            session.uid == open.uid) {
            return index;
        }
    }
    return std::nullopt;
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

}  // namespace

std::optional<std::size_t> OwnerOfOpen(const SambaStatus &status,
                                       const std::vector<uint16_t> &numbers,
                                       const SambaOpen &open) {
    return Owner(status, NumberOrder(numbers), open);
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
    State state;
    for (const SambaShare &share : config.shares) {
        state.volumes.push_back(Volume{share.name, share.path});
    }
    const std::vector<std::size_t> order = NumberOrder(numbers);

    // Each session's open paths per volume, in smbstatus's order, each path once.
    struct Opened {
        std::vector<OpenFileGroup> groups;
        std::unordered_set<std::string> paths;
    };
    std::vector<Opened> opened(status.sessions.size());
    for (const SambaOpenFile &file : status.openFiles) {
        for (const SambaOpen &open : file.opens) {
            std::optional<std::size_t> owner = Owner(status, order, open);
            if (!owner || !opened[*owner].paths.insert(file.path).second) {
                continue;
            }
            std::string volume =
                VolumeOf(config, status, status.sessions[*owner], file.servicePath, lookups);
            std::vector<OpenFileGroup> &groups = opened[*owner].groups;
            auto group =
                std::find_if(groups.begin(), groups.end(),
                             [&volume](const OpenFileGroup &g) { return g.volume == volume; });
            if (group == groups.end()) {
                groups.push_back(OpenFileGroup{volume, {}});
                group = groups.end() - 1;
            }
            group->paths.push_back(file.path);
        }
    }

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

        std::optional<uint64_t> login;
        for (const SambaTreeConnect &tcon : status.treeConnects) {
            if (tcon.sessionId == session.sessionId && tcon.server.SameProcess(session.server) &&
                tcon.connectedAt && (!login || *tcon.connectedAt < *login)) {
                login = tcon.connectedAt;
            }
        }
        if (!login && lookups.processStart) {
            login = lookups.processStart(session.server);
        }
        connection.loginTime = login.value_or(0);

        if (lookups.processIo) {
            if (std::optional<ProcessIo> io = lookups.processIo(session.server)) {
                connection.bytesRead = io->bytesRead;
                connection.bytesWritten = io->bytesWritten;
                uint64_t calls = io->readCalls + io->writeCalls;
                connection.requestCount =
                    static_cast<uint32_t>(std::min<uint64_t>(calls, UINT32_MAX));
            }
        }
        connection.openFiles = std::move(opened[index].groups);
        state.connections.push_back(std::move(connection));
    }
    return state;
}

}  // namespace cifsmon
