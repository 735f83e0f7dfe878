#include "monitoring/samba/samba_identity.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "monitoring/text.h"

namespace cifsmon {

namespace {

// getpwuid_r/getgrgid_r with a buffer grown until the entry fits.
template <typename Entry, typename Lookup>
bool LookUp(Lookup lookup, Entry *entry, std::vector<char> *buffer) {
    buffer->resize(1024);
    for (;;) {
        Entry *found = nullptr;
        int error = lookup(entry, buffer->data(), buffer->size(), &found);
        if (error == ERANGE && buffer->size() < (1u << 20)) {
            buffer->resize(buffer->size() * 2);
            continue;
        }
        return error == 0 && found != nullptr;
    }
}

std::optional<std::string> GroupName(gid_t gid) {
    struct group entry;
    std::vector<char> buffer;
    if (!LookUp([gid](struct group *e, char *b, std::size_t n,
                      struct group **r) { return getgrgid_r(gid, e, b, n, r); },
                &entry, &buffer)) {
        return std::nullopt;
    }
    return std::string(entry.gr_name);
}

}  // namespace

std::string DefaultNetbiosName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return std::string();
    }
    std::string_view text(name);
    return UpperAscii(text.substr(0, text.find('.')));
}

std::string ConnectionType(const SambaSession &session, const SambaConfig &config,
                           std::string_view hostName) {
    if (session.Authenticating()) {
        return std::string();
    }
    std::size_t separator = session.userName.find(config.winbindSeparator);
    if (separator != std::string::npos) {
        std::string_view domain = std::string_view(session.userName).substr(0, separator);
        std::string_view self = config.netbiosName.empty() ? hostName : config.netbiosName;
        return EqualsIgnoringCase(domain, self) ? kLocalType : kActiveDirectoryType;
    }
    for (const IdRange &range : config.idmapRanges) {
        if (*session.uid >= range.low && *session.uid <= range.high) {
            return kActiveDirectoryType;
        }
    }
    return kLocalType;
}

std::vector<std::string> UserGroups(uint32_t uid, const std::string &fallbackGroup) {
    struct passwd user;
    std::vector<char> buffer;
    if (!LookUp([uid](struct passwd *e, char *b, std::size_t n,
                      struct passwd **r) { return getpwuid_r(uid, e, b, n, r); },
                &user, &buffer)) {
        return fallbackGroup.empty() ? std::vector<std::string>()
                                     : std::vector<std::string>{fallbackGroup};
    }
    const std::string name(user.pw_name);
    const gid_t primary = user.pw_gid;
    std::vector<gid_t> gids(32);
    int count = static_cast<int>(gids.size());
    while (getgrouplist(name.c_str(), primary, gids.data(), &count) < 0) {
        if (count <= static_cast<int>(gids.size()) || count > 65536) {
            count = static_cast<int>(gids.size());
            break;
        }
        gids.resize(static_cast<std::size_t>(count));
    }
    gids.resize(static_cast<std::size_t>(count));
    std::vector<std::string> groups;
    auto add = [&groups](gid_t gid) {
        std::optional<std::string> group = GroupName(gid);
        std::string text = group ? *group : std::to_string(gid);
        for (const std::string &known : groups) {
            if (known == text) {
                return;
            }
        }
        groups.push_back(std::move(text));
    };
    add(primary);
    for (gid_t gid : gids) {
        add(gid);
    }
    return groups;
}

const char *Privileges(std::optional<uint32_t> uid, const std::vector<std::string> &groups,
                       std::string_view adminGroup) {
    if (uid.has_value() && *uid == 0) {
        return kSupervisor;
    }
    if (!adminGroup.empty()) {
        for (const std::string &group : groups) {
            if (EqualsIgnoringCase(group, adminGroup)) {
                return kSupervisor;
            }
        }
    }
    return kNonSupervisor;
}

}  // namespace cifsmon
