#include "monitoring/state_ops.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <utility>

#include "cifsmonitoring/failure.h"
#include "cifsmonitoring/monitoring.h"
#include "monitoring/status.h"
#include "monitoring/text.h"

namespace cifsmon {

const Volume *FindVolume(const State &state, std::string_view listedName) {
    for (const Volume &volume : state.volumes) {
        if (volume.name == listedName) {
            return &volume;
        }
    }
    for (const Volume &volume : state.volumes) {
        if (CutToFit(volume.name, CIFSMON_VOLUME_NAME_SIZE) == listedName) {
            return &volume;
        }
    }
    return nullptr;
}

std::vector<std::size_t> FindConnections(const State &state, unsigned int number) {
    std::vector<std::size_t> found;
    if (number > UINT16_MAX) {
        return found;
    }
    for (std::size_t i = 0; i < state.connections.size(); ++i) {
        if (state.connections[i].number == number) {
            found.push_back(i);
        }
    }
    return found;
}

namespace {

// Removes `path` from the group, its details in step; returns how many went.
std::size_t RemoveFromGroup(OpenFileGroup *group, std::string_view path) {
    std::size_t removed = 0;
    std::size_t kept = 0;
    const bool detailed = group->details.size() == group->paths.size();
    for (std::size_t i = 0; i < group->paths.size(); ++i) {
        if (group->paths[i] == path) {
            ++removed;
            continue;
        }
        if (kept != i) {
            group->paths[kept] = std::move(group->paths[i]);
            if (detailed) {
                group->details[kept] = std::move(group->details[i]);
            }
        }
        ++kept;
    }
    group->paths.resize(kept);
    group->details.resize(detailed ? kept : 0);
    return removed;
}

std::size_t RemoveFromConnection(Connection *connection, std::string_view path) {
    std::size_t removed = 0;
    for (OpenFileGroup &group : connection->openFiles) {
        removed += RemoveFromGroup(&group, path);
    }
    std::erase_if(connection->openFiles,
                  [](const OpenFileGroup &group) { return group.paths.empty(); });
    return removed;
}

}  // namespace

std::size_t RemoveOpenFile(State *state, std::string_view path) {
    std::size_t removed = 0;
    for (Connection &connection : state->connections) {
        removed += RemoveFromConnection(&connection, path);
    }
    return removed;
}

std::size_t RemoveOpenOfConnection(State *state, unsigned int number, std::string_view path) {
    std::size_t removed = 0;
    for (std::size_t index : FindConnections(*state, number)) {
        removed += RemoveFromConnection(&state->connections[index], path);
    }
    return removed;
}

std::size_t RemoveConnection(State *state, unsigned int number) {
    const std::vector<std::size_t> found = FindConnections(*state, number);
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        state->connections.erase(state->connections.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    return found.size();
}

bool RemoveFilesOfConnection(State *state, unsigned int number, std::size_t *removed) {
    *removed = 0;
    std::vector<std::size_t> found = FindConnections(*state, number);
    for (std::size_t index : found) {
        for (const OpenFileGroup &group : state->connections[index].openFiles) {
            *removed += group.paths.size();
        }
        state->connections[index].openFiles.clear();
    }
    return !found.empty();
}

int ResolveClosePath(std::string_view wanted, const std::vector<std::string_view> &openPaths,
                     std::string *resolved, std::size_t *candidates) {
    *candidates = 0;
    for (std::string_view path : openPaths) {
        if (path == wanted) {
            *resolved = std::string(wanted);
            *candidates = 1;
            return kStatusOk;
        }
    }
    constexpr std::string_view kMark = CIFSMON_CUT_MARK;
    if (!wanted.ends_with(kMark) || wanted.size() == kMark.size()) {
        return kStatusNotFound;
    }
    const std::string_view prefix = wanted.substr(0, wanted.size() - kMark.size());
    std::unordered_set<std::string_view> matches;
    for (std::string_view path : openPaths) {
        if (path.size() > prefix.size() && path.starts_with(prefix)) {
            matches.insert(path);
        }
    }
    *candidates = matches.size();
    if (matches.empty()) {
        return kStatusNotFound;
    }
    if (matches.size() > 1) {
        return kStatusAmbiguous;
    }
    *resolved = std::string(*matches.begin());
    return kStatusOk;
}

std::vector<std::string_view> OpenPaths(const State &state) {
    std::vector<std::string_view> paths;
    for (const Connection &connection : state.connections) {
        for (const OpenFileGroup &group : connection.openFiles) {
            paths.insert(paths.end(), group.paths.begin(), group.paths.end());
        }
    }
    return paths;
}

}  // namespace cifsmon
