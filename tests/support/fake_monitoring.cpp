// fake_monitoring.cpp: the programmable monitoring library and its block accounting.
#include "support/fake_monitoring.h"

#include "cifsmonitoring/failure.h"

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

enum class Kind {
    kVolumeNode,
    kVolFileNode,
    kConnNode,
    kUserInfo,
    kArray,
    kText,
    kOpenFiles,
    kSessions
};

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
        case Kind::kOpenFiles:
            return "CifsOpenFile block";
        case Kind::kSessions:
            return "CifsSession block";
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
    std::vector<OpenFile> openFiles;
    int openFilesStatus = 0;
    std::vector<Session> sessions;
    int sessionsStatus = 0;
    std::vector<OpenFile> planAlong;
    std::string actionReport;
    CifsActionObserver observer = nullptr;
    void *observerContext = nullptr;

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
    state.closes.push_back(call);
    if (state.observer != nullptr) {
        static constexpr int kActions[] = {
            CIFSMON_ACTION_CLOSE_FILE, CIFSMON_ACTION_CLOSE_CONNECTION_FILES,
            CIFSMON_ACTION_CLOSE_OPEN_FILE, CIFSMON_ACTION_END_SESSION};
        const CifsActionObserver observer = state.observer;
        void *const context = state.observerContext;
        const std::string report = state.actionReport;
        const bool hasPath =
            call.kind == CloseCall::kByFileName || call.kind == CloseCall::kOpenFile;
        const CifsActionReport action{kActions[call.kind], call.connNumber,
                                      hasPath ? call.path.c_str() : nullptr, call.result,
                                      report.c_str()};
        lock.unlock();
        observer(&action, context);
        lock.lock();
    }
    return call.result;
}

// One block of `records` CifsOpenFile records followed by their paths.
CifsOpenFile *MakeOpenFiles(MonitoringState &state, const std::vector<OpenFile> &files) {
    std::size_t size = files.size() * sizeof(CifsOpenFile);
    for (const OpenFile &file : files) {
        size += file.path.size() + 1;
    }
    auto *block = static_cast<CifsOpenFile *>(Allocate(
        state, Kind::kOpenFiles, size, "CifsOpenFile block of " + std::to_string(files.size())));
    char *text = reinterpret_cast<char *>(block + files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const OpenFile &file = files[i];
        CifsOpenFile &record = block[i];
        record.connNumber = file.connNumber;
        record.node = file.node;
        record.openedAt = file.openedAt;
        record.access = file.access;
        record.shareMode = file.shareMode;
        FillArray(record.oplock, sizeof record.oplock, file.oplock);
        FillArray(record.volume, sizeof record.volume, file.volume);
        FillArray(record.user, sizeof record.user, file.user);
        FillArray(record.client, sizeof record.client, file.client);
        std::memcpy(text, file.path.c_str(), file.path.size() + 1);
        record.path = text;
        text += file.path.size() + 1;
    }
    return block;
}

bool SameOpen(const OpenFile &a, const OpenFile &b) {
    return a.connNumber == b.connNumber && a.path == b.path;
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
    state.openFiles.clear();
    state.openFilesStatus = 0;
    state.sessions.clear();
    state.sessionsStatus = 0;
    state.planAlong.clear();
    state.actionReport.clear();
    state.observer = nullptr;
    state.observerContext = nullptr;
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

void SetOpenFiles(std::vector<OpenFile> files, int status) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.openFiles = std::move(files);
    state.openFilesStatus = status;
}

void SetSessions(std::vector<Session> sessions, int status) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.sessions = std::move(sessions);
    state.sessionsStatus = status;
}

void SetPlanAlong(std::vector<OpenFile> along) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.planAlong = std::move(along);
}

void SetActionReport(std::string report) {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.actionReport = std::move(report);
}

CifsActionObserver CurrentObserver() {
    MonitoringState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.observer;
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

int Ext_ListOpenFiles(CifsOpenFile **list, size_t *count) {
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back("Ext_ListOpenFiles()");
    if (list == nullptr || count == nullptr) {
        state.errors.emplace_back("Ext_ListOpenFiles: null out-parameter");
        return CIFSMON_STATUS_INVALID_ARGUMENT;
    }
    *list = nullptr;
    *count = 0;
    if (state.openFilesStatus != 0) {
        return state.openFilesStatus;
    }
    *list = fake::MakeOpenFiles(state, state.openFiles);
    *count = state.openFiles.size();
    return 0;
}

int Ext_FreeOpenFiles(CifsOpenFile **list) {
    static constexpr char kOp[] = "Ext_FreeOpenFiles";
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back(kOp);
    if (list == nullptr) {
        state.errors.push_back(std::string(kOp) + ": null list pointer");
        return CIFSMON_STATUS_INVALID_ARGUMENT;
    }
    if (*list != nullptr && fake::Check(state, *list, Kind::kOpenFiles, kOp)) {
        fake::Retire(state, *list);
    }
    *list = nullptr;
    return 0;
}

int Ext_ListSessions(CifsSession **list, size_t *count) {
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back("Ext_ListSessions()");
    if (list == nullptr || count == nullptr) {
        state.errors.emplace_back("Ext_ListSessions: null out-parameter");
        return CIFSMON_STATUS_INVALID_ARGUMENT;
    }
    *list = nullptr;
    *count = 0;
    if (state.sessionsStatus != 0) {
        return state.sessionsStatus;
    }
    auto *block = static_cast<CifsSession *>(
        fake::Allocate(state, Kind::kSessions, state.sessions.size() * sizeof(CifsSession),
                       "CifsSession block of " + std::to_string(state.sessions.size())));
    for (std::size_t i = 0; i < state.sessions.size(); ++i) {
        const fake::Session &item = state.sessions[i];
        CifsSession &record = block[i];
        record.connNumber = item.connNumber;
        record.node = item.node;
        fake::FillArray(record.user, sizeof record.user, item.user);
        fake::FillArray(record.client, sizeof record.client, item.client);
        fake::FillArray(record.machine, sizeof record.machine, item.machine);
        fake::FillArray(record.dialect, sizeof record.dialect, item.dialect);
        fake::FillArray(record.signing, sizeof record.signing, item.signing);
        fake::FillArray(record.encryption, sizeof record.encryption, item.encryption);
        record.openFileCount = item.openFileCount;
        record.connectedSince = item.connectedSince;
        record.idleSeconds = item.idleSeconds;
        record.bytesIn = item.bytesIn;
        record.bytesOut = item.bytesOut;
    }
    *list = block;
    *count = state.sessions.size();
    return 0;
}

int Ext_FreeSessions(CifsSession **list) {
    static constexpr char kOp[] = "Ext_FreeSessions";
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.emplace_back(kOp);
    if (list == nullptr) {
        state.errors.push_back(std::string(kOp) + ": null list pointer");
        return CIFSMON_STATUS_INVALID_ARGUMENT;
    }
    if (*list != nullptr && fake::Check(state, *list, Kind::kSessions, kOp)) {
        fake::Retire(state, *list);
    }
    *list = nullptr;
    return 0;
}

int Ext_PlanClose(const CifsOpenRef *targets, size_t targetCount, CifsOpenFile **list,
                  size_t *count) {
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::string call = "Ext_PlanClose(";
    for (size_t i = 0; targets != nullptr && i < targetCount; ++i) {
        call += (i == 0 ? "" : ",") + std::to_string(targets[i].connNumber) + ":" +
                (targets[i].path != nullptr ? targets[i].path : "null");
    }
    state.calls.push_back(call + ")");
    if (list == nullptr || count == nullptr || (targets == nullptr && targetCount != 0)) {
        state.errors.emplace_back("Ext_PlanClose: null argument");
        return CIFSMON_STATUS_INVALID_ARGUMENT;
    }
    std::vector<fake::OpenFile> plan;
    for (size_t i = 0; i < targetCount; ++i) {
        for (const fake::OpenFile &file : state.openFiles) {
            if (targets[i].path != nullptr && file.connNumber == targets[i].connNumber &&
                file.path == targets[i].path) {
                plan.push_back(file);
                break;
            }
        }
    }
    if (!plan.empty()) {
        for (const fake::OpenFile &file : state.planAlong) {
            if (std::none_of(plan.begin(), plan.end(),
                             [&](const fake::OpenFile &p) { return fake::SameOpen(p, file); })) {
                plan.push_back(file);
            }
        }
    }
    *list = fake::MakeOpenFiles(state, plan);
    *count = plan.size();
    return 0;
}

int Ext_CloseOpenFile(unsigned int connNumber, const char *path) {
    MonitoringState &state = fake::State();
    std::unique_lock<std::mutex> lock(state.mutex);
    if (path == nullptr) {
        state.calls.emplace_back("Ext_CloseOpenFile(null)");
        state.errors.emplace_back("Ext_CloseOpenFile: null path");
        return CIFSMON_STATUS_INVALID_ARGUMENT;
    }
    const std::string text(path, strnlen(path, fake::kMaxPathRead));
    state.calls.push_back("Ext_CloseOpenFile(" + std::to_string(connNumber) + "," + text + ")");
    return fake::FinishClose(state, lock,
                             fake::CloseCall{fake::CloseCall::kOpenFile, text, connNumber, 0});
}

int Ext_EndSession(unsigned int connNumber) {
    MonitoringState &state = fake::State();
    std::unique_lock<std::mutex> lock(state.mutex);
    state.calls.push_back("Ext_EndSession(" + std::to_string(connNumber) + ")");
    return fake::FinishClose(state, lock,
                             fake::CloseCall{fake::CloseCall::kEndSession, "", connNumber, 0});
}

int Ext_SetActionObserver(CifsActionObserver observer, void *context) {
    MonitoringState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.calls.push_back(std::string("Ext_SetActionObserver(") +
                          (observer != nullptr ? "set" : "null") + ")");
    state.observer = observer;
    state.observerContext = context;
    return 0;
}

}  // extern "C"
