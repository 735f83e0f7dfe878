// fake_monitoring.cpp: the programmable monitoring library and its block accounting.
#include "support/fake_monitoring.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace fake {
namespace {

// Longest path Ext_CloseFileByFileName accepts, and the furthest it reads looking for the end of
// a longer one.
constexpr std::size_t kMaxClosePath = 511;
constexpr std::size_t kMaxPathRead = 65536;
// What a freed block is filled with.
constexpr int kPoison = 0xdd;

enum class Kind { kVolumeNode, kVolFileNode, kConnNode, kUserInfo, kArray, kText };

const char *KindName(Kind kind) {
    switch (kind) {
        case Kind::kVolumeNode:
            return "VolumeDetailsNode";
        case Kind::kVolFileNode:
            return "VolFileListNode";
        case Kind::kConnNode:
            return "ConnListNode";
        case Kind::kUserInfo:
            return "UserInfo_s";
        case Kind::kArray:
            return "text array";
        case Kind::kText:
            return "text";
    }
    return "block";
}

struct Block {
    Kind kind;
    std::size_t size;
    std::size_t entries;  // kArray: number of pointers
    std::string what;
};

struct Listing {
    int status = 0;
    std::optional<int> count;
};

struct MonitoringState {
    std::mutex mutex;

    std::vector<std::string> volumes;
    Listing volumeListing;
    std::map<std::string, std::pair<std::vector<VolumeFiles>, Listing>> volumeFiles;
    std::vector<Connection> connections;
    Listing connectionListing;
    std::map<unsigned int, std::pair<std::optional<ConnInfo>, int>> infos;
    std::vector<int> closeResults;
    CloseHandler closeHandler;

    std::vector<CloseCall> closes;
    std::vector<std::string> calls;
    std::vector<std::string> errors;
    std::map<const void *, Block> live;
    std::map<const void *, Block> freed;
    std::size_t allocated = 0;
};

// Never destroyed: records may still be freed while the program's static objects are destroyed.
MonitoringState &State() {
    static MonitoringState *state = new MonitoringState;
    return *state;
}

// All helpers below run with the state's mutex held.

void *Allocate(MonitoringState &state, Kind kind, std::size_t size, std::string what,
               std::size_t entries = 0) {
    void *block = std::calloc(1, size == 0 ? 1 : size);
    if (block == nullptr) {
        std::abort();
    }
    state.live.emplace(block, Block{kind, size, entries, std::move(what)});
    ++state.allocated;
    return block;
}

// Whether `block` is a live block of `kind`; records the error otherwise.
bool Check(MonitoringState &state, const void *block, Kind kind, const char *op) {
    const auto found = state.live.find(block);
    if (found == state.live.end()) {
        const auto freed = state.freed.find(block);
        if (freed != state.freed.end()) {
            state.errors.push_back(std::string(op) + ": double free of " + freed->second.what);
        } else {
            state.errors.push_back(std::string(op) + ": free of a pointer never handed out (" +
                                   KindName(kind) + ")");
        }
        return false;
    }
    if (found->second.kind != kind) {
        state.errors.push_back(std::string(op) + ": " + found->second.what + " freed as a " +
                               KindName(kind));
        return false;
    }
    return true;
}

// Gives back a block that passed Check: poisoned and kept until Reset.
void Retire(MonitoringState &state, void *block) {
    auto node = state.live.extract(block);
    std::memset(block, kPoison, node.mapped().size);
    state.freed.insert(std::move(node));
}

void FillArray(char *array, std::size_t size, const std::string &text) {
    const std::size_t length = std::min(text.size(), size);
    std::memcpy(array, text.data(), length);
    if (length < size) {
        array[length] = '\0';
    }
}

std::string Shown(const std::string &text) {
    return "\"" + text.substr(0, 60) + "\"";
}

char **MakeTexts(MonitoringState &state, const std::vector<Entry> &entries, std::size_t count) {
    if (entries.empty() && count == 0) {
        return nullptr;
    }
    const std::size_t slots = std::max(count, entries.size()) + 1;
    auto **array = static_cast<char **>(
        Allocate(state, Kind::kArray, slots * sizeof(char *),
                 "text array of " + std::to_string(entries.size()) + " entries", slots));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].has_value()) {
            const std::string &text = *entries[i];
            auto *copy = static_cast<char *>(
                Allocate(state, Kind::kText, text.size() + 1, "text " + Shown(text)));
            std::memcpy(copy, text.c_str(), text.size() + 1);
            array[i] = copy;
        }
    }
    return array;
}

void FreeTexts(MonitoringState &state, char **array, const char *op) {
    if (array == nullptr || !Check(state, array, Kind::kArray, op)) {
        return;
    }
    const std::size_t slots = state.live.at(array).entries;
    for (std::size_t i = 0; i < slots; ++i) {
        if (array[i] != nullptr && Check(state, array[i], Kind::kText, op)) {
            Retire(state, array[i]);
        }
    }
    Retire(state, array);
}

// Links nodes made by `make` for every item, in order; null for none.
template <typename Node, typename Item, typename Make>
Node *MakeList(const std::vector<Item> &items, Make make) {
    // The records are packed: `next` is set through its node, never through its address.
    Node *head = nullptr;
    Node *last = nullptr;
    for (const Item &item : items) {
        Node *node = make(item);
        if (last == nullptr) {
            head = node;
        } else {
            last->next = node;
        }
        last = node;
    }
    return head;
}

// Gives back every node of a list, releasing each node's own blocks with `release` first.
template <typename Node, typename Release>
void FreeList(MonitoringState &state, Node *node, Kind kind, const char *op, Release release) {
    while (node != nullptr) {
        if (!Check(state, node, kind, op)) {
            return;
        }
        Node *next = node->next;
        release(node);
        Retire(state, node);
        node = next;
    }
}

int CountOf(const Listing &listing, std::size_t items) {
    return listing.count.value_or(static_cast<int>(items));
}

// The result of the next close call, by its order since the reset.
int NextCloseResult(const MonitoringState &state) {
    const std::size_t index = state.closes.size();
    return index < state.closeResults.size() ? state.closeResults[index] : 0;
}

// Finishes a close call that `lock` (held) has recorded in the calls: its result comes from the
// handler, called with the lock released, or else from the results set.
int FinishClose(MonitoringState &state, std::unique_lock<std::mutex> &lock, CloseCall call) {
    if (state.closeHandler) {
        const CloseHandler handler = state.closeHandler;
        lock.unlock();
        const int result = handler(call);
        lock.lock();
        call.result = result;
    } else {
        call.result = NextCloseResult(state);
    }
    state.closes.push_back(std::move(call));
    return state.closes.back().result;
}

}  // namespace

void Reset() {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (auto *blocks : {&state.live, &state.freed}) {
        for (auto &[block, info] : *blocks) {
            std::free(const_cast<void *>(block));
        }
        blocks->clear();
    }
    state.volumes.clear();
    state.volumeListing = Listing{};
    state.volumeFiles.clear();
    state.connections.clear();
    state.connectionListing = Listing{};
    state.infos.clear();
    state.closeResults.clear();
    state.closeHandler = nullptr;
    state.closes.clear();
    state.calls.clear();
    state.errors.clear();
    state.allocated = 0;
}

void SetVolumes(std::vector<std::string> names, int status, std::optional<int> count) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.volumes = std::move(names);
    state.volumeListing = Listing{status, count};
}

void SetVolumeFiles(const std::string &volume, std::vector<VolumeFiles> records, int status,
                    std::optional<int> count) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.volumeFiles[volume] = {std::move(records), Listing{status, count}};
}

void SetConnections(std::vector<Connection> connections, int status, std::optional<int> count) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.connections = std::move(connections);
    state.connectionListing = Listing{status, count};
}

void SetConnInfo(unsigned int connNumber, std::optional<ConnInfo> info, int status) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.infos[connNumber] = {std::move(info), status};
}

void SetCloseResults(std::vector<int> results) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.closeResults = std::move(results);
}

void SetCloseHandler(CloseHandler handler) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.closeHandler = std::move(handler);
}

std::vector<CloseCall> CloseCalls() {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.closes;
}

std::vector<std::string> Calls() {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.calls;
}

std::size_t Outstanding() {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.live.size();
}

std::vector<std::string> OutstandingBlocks() {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::vector<std::string> blocks;
    for (const auto &[block, info] : state.live) {
        blocks.push_back(info.what);
    }
    return blocks;
}

std::size_t Allocated() {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.allocated;
}

std::vector<std::string> Errors() {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.errors;
}

}  // namespace fake

using fake::Kind;
using fake::MonitoringState;

extern "C" {

int Ext_ListVolumeDetails(int *count, VolumeDetailsNode **list) {
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back("Ext_ListVolumeDetails()");
    if (count == nullptr || list == nullptr) {
        state.errors.emplace_back("Ext_ListVolumeDetails: null out-parameter");
        return -1;
    }
    *list = fake::MakeList<VolumeDetailsNode>(state.volumes, [&](const std::string &name) {
        auto *node = static_cast<VolumeDetailsNode *>(
            fake::Allocate(state, Kind::kVolumeNode, sizeof(VolumeDetailsNode),
                           "VolumeDetailsNode " + fake::Shown(name)));
        fake::FillArray(node->volumeName, sizeof node->volumeName, name);
        return node;
    });
    *count = fake::CountOf(state.volumeListing, state.volumes.size());
    return state.volumeListing.status;
}

int Ext_ListVolFileDetails(const char *volumeName, VolFileListNode **list, int *count) {
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const std::string volume =
        volumeName == nullptr ? std::string() : std::string(volumeName, strnlen(volumeName, 4096));
    state.calls.push_back("Ext_ListVolFileDetails(" + volume + ")");
    if (list == nullptr || count == nullptr || volumeName == nullptr) {
        state.errors.emplace_back("Ext_ListVolFileDetails: null argument");
        return -1;
    }
    const auto found = state.volumeFiles.find(volume);
    if (found == state.volumeFiles.end()) {
        *list = nullptr;
        *count = 0;
        return fake::kUnknownStatus;
    }
    const auto &[records, listing] = found->second;
    *list = fake::MakeList<VolFileListNode>(records, [&](const fake::VolumeFiles &record) {
        auto *node = static_cast<VolFileListNode *>(
            fake::Allocate(state, Kind::kVolFileNode, sizeof(VolFileListNode),
                           "VolFileListNode conn " + std::to_string(record.connNumber)));
        node->connNumber = record.connNumber;
        node->fileCount = record.fileCount.value_or(static_cast<uint16_t>(record.fileNames.size()));
        fake::FillArray(node->userName, sizeof node->userName, record.userName);
        node->fileNames = fake::MakeTexts(state, record.fileNames, node->fileCount);
        return node;
    });
    *count = fake::CountOf(listing, records.size());
    return listing.status;
}

int Ext_ListConnDetails(int *count, ConnListNode **list) {
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back("Ext_ListConnDetails()");
    if (count == nullptr || list == nullptr) {
        state.errors.emplace_back("Ext_ListConnDetails: null out-parameter");
        return -1;
    }
    *list = fake::MakeList<ConnListNode>(state.connections, [&](const fake::Connection &item) {
        auto *node = static_cast<ConnListNode *>(
            fake::Allocate(state, Kind::kConnNode, sizeof(ConnListNode),
                           "ConnListNode conn " + std::to_string(item.connNumber)));
        node->connNumber = item.connNumber;
        fake::FillArray(node->netAddress, sizeof node->netAddress, item.netAddress);
        fake::FillArray(node->userName, sizeof node->userName, item.userName);
        fake::FillArray(node->connType, sizeof node->connType, item.connType);
        node->requestCount = item.requestCount;
        node->bytesRead = item.bytesRead;
        node->bytesWritten = item.bytesWritten;
        node->loginTime = item.loginTime;
        return node;
    });
    *count = fake::CountOf(state.connectionListing, state.connections.size());
    return state.connectionListing.status;
}

int Ext_GetConnInfo(unsigned int connNumber, UserInfo_s **info) {
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.push_back("Ext_GetConnInfo(" + std::to_string(connNumber) + ")");
    if (info == nullptr) {
        state.errors.emplace_back("Ext_GetConnInfo: null out-parameter");
        return -1;
    }
    *info = nullptr;
    const auto found = state.infos.find(connNumber);
    if (found == state.infos.end()) {
        return fake::kUnknownStatus;
    }
    const auto &[record, status] = found->second;
    if (record.has_value()) {
        auto *node = static_cast<UserInfo_s *>(
            fake::Allocate(state, Kind::kUserInfo, sizeof(UserInfo_s),
                           "UserInfo_s conn " + std::to_string(record->connNumber)));
        node->connNumber = record->connNumber;
        fake::FillArray(node->netAddress, sizeof node->netAddress, record->netAddress);
        fake::FillArray(node->privileges, sizeof node->privileges, record->privileges);
        fake::FillArray(node->loginStatus, sizeof node->loginStatus, record->loginStatus);
        fake::FillArray(node->userName, sizeof node->userName, record->userName);
        fake::FillArray(node->connType, sizeof node->connType, record->connType);
        const std::size_t sevCount = record->sevDNs.has_value() ? record->sevDNs->size() : 0;
        node->secEquivCount = record->secEquivCount.value_or(static_cast<uint32_t>(sevCount));
        node->openFileCount =
            record->openFileCount.value_or(static_cast<uint16_t>(record->openFileNames.size()));
        node->loginTime = record->loginTime;
        node->openFileNames = fake::MakeTexts(state, record->openFileNames, node->openFileCount);
        if (record->sevDNs.has_value()) {
            node->sevDNs = fake::MakeTexts(state, *record->sevDNs, node->secEquivCount);
        }
        *info = node;
    }
    return status;
}

int Ext_CloseFileByFileName(const char *path) {
    MonitoringState &state = fake::State();
    std::unique_lock<std::mutex> lock(state.mutex);
    if (path == nullptr) {
        state.calls.emplace_back("Ext_CloseFileByFileName(null)");
        state.errors.emplace_back("Ext_CloseFileByFileName: null path");
        return -1;
    }
    const std::string text(path, strnlen(path, fake::kMaxPathRead));
    state.calls.push_back("Ext_CloseFileByFileName(" + text + ")");
    if (text.size() > fake::kMaxClosePath) {
        state.errors.push_back("Ext_CloseFileByFileName: path of " + std::to_string(text.size()) +
                               " characters");
    }
    return fake::FinishClose(state, lock,
                             fake::CloseCall{fake::CloseCall::kByFileName, text, 0, 0});
}

int Ext_CloseFileByID(unsigned int connNumber) {
    MonitoringState &state = fake::State();
    std::unique_lock<std::mutex> lock(state.mutex);
    state.calls.push_back("Ext_CloseFileByID(" + std::to_string(connNumber) + ")");
    return fake::FinishClose(state, lock,
                             fake::CloseCall{fake::CloseCall::kByID, "", connNumber, 0});
}

int FreeVolsDetailsNode(VolumeDetailsNode **list) {
    static constexpr char kOp[] = "FreeVolsDetailsNode";
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back(kOp);
    if (list == nullptr) {
        state.errors.push_back(std::string(kOp) + ": null list pointer");
        return -1;
    }
    fake::FreeList(state, *list, Kind::kVolumeNode, kOp, [](VolumeDetailsNode *) {});
    *list = nullptr;
    return 0;
}

int FreeVolFileListNodes(VolFileListNode **list) {
    static constexpr char kOp[] = "FreeVolFileListNodes";
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back(kOp);
    if (list == nullptr) {
        state.errors.push_back(std::string(kOp) + ": null list pointer");
        return -1;
    }
    fake::FreeList(state, *list, Kind::kVolFileNode, kOp,
                   [&](VolFileListNode *node) { fake::FreeTexts(state, node->fileNames, kOp); });
    *list = nullptr;
    return 0;
}

int FreeConnListNodes(ConnListNode **list) {
    static constexpr char kOp[] = "FreeConnListNodes";
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back(kOp);
    if (list == nullptr) {
        state.errors.push_back(std::string(kOp) + ": null list pointer");
        return -1;
    }
    fake::FreeList(state, *list, Kind::kConnNode, kOp, [](ConnListNode *) {});
    *list = nullptr;
    return 0;
}

int FreeUserDetailsNode(UserInfo_s **info) {
    static constexpr char kOp[] = "FreeUserDetailsNode";
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back(kOp);
    if (info == nullptr) {
        state.errors.push_back(std::string(kOp) + ": null record pointer");
        return -1;
    }
    UserInfo_s *node = *info;
    if (node != nullptr && fake::Check(state, node, Kind::kUserInfo, kOp)) {
        fake::FreeTexts(state, node->openFileNames, kOp);
        fake::FreeTexts(state, node->sevDNs, kOp);
        fake::Retire(state, node);
    }
    *info = nullptr;
    return 0;
}

}  // extern "C"
