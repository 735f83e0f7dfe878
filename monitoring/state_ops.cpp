#include "monitoring/state_ops.h"

#include <algorithm>
#include <cstdint>

#include "cifsmonitoring/monitoring.h"
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

std::size_t RemoveOpenFile(State *state, std::string_view path) {
    std::size_t removed = 0;
    for (Connection &connection : state->connections) {
        for (OpenFileGroup &group : connection.openFiles) {
            auto end = std::remove(group.paths.begin(), group.paths.end(), path);
            removed += static_cast<std::size_t>(group.paths.end() - end);
            group.paths.erase(end, group.paths.end());
        }
        std::erase_if(connection.openFiles,
                      [](const OpenFileGroup &group) { return group.paths.empty(); });
    }
    return removed;
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

}  // namespace cifsmon
