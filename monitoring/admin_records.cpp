#include "monitoring/admin_records.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "monitoring/state_ops.h"
#include "monitoring/status.h"
#include "monitoring/text.h"

namespace cifsmon {

namespace {

// One open file to list: its connection, group and index in the group.
struct Entry {
    const Connection *connection;
    const OpenFileGroup *group;
    std::size_t index;
};

struct RefHash {
    std::size_t operator()(const OpenRef &ref) const {
        return std::hash<std::string_view>()(ref.path) * 31 + ref.number;
    }
};

// The entries of one connection's groups that `take` accepts, each path once.
template <typename Take>
void CollectConnection(const Connection &connection, const Take &take, std::vector<Entry> *out) {
    std::unordered_set<std::string_view> seen;
    for (const OpenFileGroup &group : connection.openFiles) {
        if (!take(group)) {
            continue;
        }
        for (std::size_t i = 0; i < group.paths.size(); ++i) {
            if (seen.insert(group.paths[i]).second) {
                out->push_back(Entry{&connection, &group, i});
            }
        }
    }
}

// A block of `count` records of Record followed by `textBytes` bytes; null when too large or
// the allocation fails.
template <typename Record>
Record *NewBlock(std::size_t count, std::size_t textBytes) {
    if (count > (SIZE_MAX - textBytes) / sizeof(Record)) {
        return nullptr;
    }
    const std::size_t size = count * sizeof(Record) + textBytes;
    return static_cast<Record *>(std::calloc(1, size));
}

std::size_t DistinctPaths(const Connection &connection) {
    std::unordered_set<std::string_view> seen;
    for (const OpenFileGroup &group : connection.openFiles) {
        seen.insert(group.paths.begin(), group.paths.end());
    }
    return seen.size();
}

}  // namespace

int BuildOpenFileList(const State &state, const std::vector<OpenRef> *only, CifsOpenFile **list,
                      std::size_t *count) {
    *list = nullptr;
    *count = 0;
    std::vector<Entry> entries;
    std::unordered_set<std::string_view> listed;
    for (const Volume &volume : state.volumes) {
        listed.insert(volume.name);
        for (const Connection &connection : state.connections) {
            CollectConnection(
                connection, [&](const OpenFileGroup &g) { return g.volume == volume.name; },
                &entries);
        }
    }
    for (const Connection &connection : state.connections) {
        CollectConnection(
            connection, [&](const OpenFileGroup &g) { return listed.count(g.volume) == 0; },
            &entries);
    }
    if (only != nullptr) {
        std::unordered_set<OpenRef, RefHash> wanted(only->begin(), only->end());
        std::unordered_set<OpenRef, RefHash> taken;
        std::vector<Entry> kept;
        for (const Entry &entry : entries) {
            OpenRef ref{entry.connection->number, entry.group->paths[entry.index]};
            if (wanted.count(ref) != 0 && taken.insert(ref).second) {
                kept.push_back(entry);
            }
        }
        entries = std::move(kept);
    }
    if (entries.empty()) {
        return kStatusOk;
    }
    std::size_t textBytes = 0;
    for (const Entry &entry : entries) {
        textBytes += entry.group->paths[entry.index].size() + 1;
    }
    CifsOpenFile *records = NewBlock<CifsOpenFile>(entries.size(), textBytes);
    if (records == nullptr) {
        return kStatusNoMemory;
    }
    char *text = reinterpret_cast<char *>(records + entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        const Connection &connection = *entry.connection;
        const std::string &path = entry.group->paths[entry.index];
        const OpenDetail detail = entry.group->DetailOf(entry.index);
        CifsOpenFile &record = records[i];
        record.connNumber = connection.number;
        record.node = connection.node;
        record.openedAt = detail.openedAt;
        record.access = detail.access;
        record.shareMode = detail.shareMode;
        CopyText(record.oplock, sizeof record.oplock, detail.oplock);
        CopyText(record.volume, sizeof record.volume, entry.group->volume);
        CopyText(record.user, sizeof record.user, connection.user);
        CopyText(record.client, sizeof record.client,
                 connection.clientAddress.empty() ? connection.address : connection.clientAddress);
        std::memcpy(text, path.data(), path.size());
        text[path.size()] = '\0';
        record.path = text;
        text += path.size() + 1;
    }
    *list = records;
    *count = entries.size();
    return kStatusOk;
}

int BuildSessionList(const State &state, CifsSession **list, std::size_t *count) {
    *list = nullptr;
    *count = 0;
    if (state.connections.empty()) {
        return kStatusOk;
    }
    CifsSession *records = NewBlock<CifsSession>(state.connections.size(), 0);
    if (records == nullptr) {
        return kStatusNoMemory;
    }
    for (std::size_t i = 0; i < state.connections.size(); ++i) {
        const Connection &connection = state.connections[i];
        CifsSession &record = records[i];
        record.connNumber = connection.number;
        record.node = connection.node;
        CopyText(record.user, sizeof record.user, connection.user);
        CopyText(record.client, sizeof record.client,
                 connection.clientAddress.empty() ? connection.address : connection.clientAddress);
        CopyText(record.machine, sizeof record.machine, connection.machine);
        CopyText(record.dialect, sizeof record.dialect, connection.dialect);
        CopyText(record.signing, sizeof record.signing, connection.signing);
        CopyText(record.encryption, sizeof record.encryption, connection.encryption);
        const std::size_t files = DistinctPaths(connection);
        record.openFileCount = static_cast<uint32_t>(files < UINT32_MAX ? files : UINT32_MAX);
        record.connectedSince = connection.loginTime;
        record.idleSeconds = connection.idleSeconds.value_or(UINT64_MAX);
        record.bytesIn = connection.bytesWritten;
        record.bytesOut = connection.bytesRead;
    }
    *list = records;
    *count = state.connections.size();
    return kStatusOk;
}

bool IsOpen(const State &state, const OpenRef &ref) {
    for (std::size_t index : FindConnections(state, ref.number)) {
        for (const OpenFileGroup &group : state.connections[index].openFiles) {
            for (const std::string &path : group.paths) {
                if (path == ref.path) {
                    return true;
                }
            }
        }
    }
    return false;
}

}  // namespace cifsmon
