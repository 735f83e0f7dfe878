#include "monitoring/records.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "monitoring/state_ops.h"
#include "monitoring/status.h"
#include "monitoring/text.h"

namespace cifsmon {

namespace {

template <typename Node>
Node *NewNode() {
    return static_cast<Node *>(std::calloc(1, sizeof(Node)));
}

// A null-terminated array of copies of texts[0, count), in one malloc block: the count + 1
// pointers, then the terminated texts they point at; null when the allocation fails. One block
// per array, not one per text: a volume with a million open files costs a few thousand
// allocations instead of a million. Text: std::string or std::string_view.
template <typename Text>
char **NewTextArray(const Text *texts, std::size_t count) {
    if (count > (SIZE_MAX / sizeof(char *)) - 1) {
        return nullptr;
    }
    std::size_t size = (count + 1) * sizeof(char *);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t text = std::string_view(texts[i]).size() + 1;
        if (text > SIZE_MAX - size) {
            return nullptr;
        }
        size += text;
    }
    char **array = static_cast<char **>(std::malloc(size));
    if (array == nullptr) {
        return nullptr;
    }
    char *at = reinterpret_cast<char *>(array + count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view text(texts[i]);
        std::memcpy(at, text.data(), text.size());
        at[text.size()] = '\0';
        array[i] = at;
        at += text.size() + 1;
    }
    array[count] = nullptr;
    return array;
}

// The texts live in the array's own block.
void FreeTextArray(char **array, std::size_t /*count*/) {
    std::free(array);
}

// Appends nodes at the tail of a list and counts them. The nodes of one list are one zeroed
// malloc block of `capacity` nodes (the head is its start), taken at the first Append: a
// listing of a hundred thousand connections is one allocation, not a hundred thousand. A count
// past INT_MAX is refused as an allocation failure would be, since the interface's counts are
// int.
template <typename Node>
class ListBuilder {
  public:
    ListBuilder(std::size_t capacity, void (*free)(Node *))
        : capacity_(capacity < static_cast<std::size_t>(INT_MAX) ? capacity : INT_MAX),
          free_(free) {}
    ~ListBuilder() {
        if (head_ != nullptr) {
            free_(head_);
        }
    }
    ListBuilder(const ListBuilder &) = delete;
    ListBuilder &operator=(const ListBuilder &) = delete;

    Node *Append() {
        if (head_ == nullptr && count_ == 0) {
            if (capacity_ == 0) {
                return nullptr;
            }
            head_ = static_cast<Node *>(std::calloc(capacity_, sizeof(Node)));
            if (head_ == nullptr) {
                return nullptr;
            }
        }
        if (static_cast<std::size_t>(count_) == capacity_) {
            return nullptr;
        }
        Node *node = head_ + count_;
        if (count_ > 0) {
            node[-1].next = node;
        }
        ++count_;
        return node;
    }

    // Hands the list over; the builder no longer frees it.
    void Release(Node **list, int *count) {
        *list = head_;
        *count = count_;
        head_ = nullptr;
    }

  private:
    std::size_t capacity_;
    void (*free_)(Node *);
    Node *head_ = nullptr;
    int count_ = 0;
};

}  // namespace

int BuildVolumeList(const State &state, int *count, VolumeDetailsNode **list) {
    *list = nullptr;
    *count = 0;
    ListBuilder<VolumeDetailsNode> builder(state.volumes.size(), FreeVolumeList);
    for (const Volume &volume : state.volumes) {
        VolumeDetailsNode *node = builder.Append();
        if (node == nullptr) {
            return kStatusNoMemory;
        }
        CopyText(node->volumeName, sizeof node->volumeName, volume.name);
    }
    builder.Release(list, count);
    return kStatusOk;
}

int BuildVolumeFileList(const State &state, std::string_view volumeName, VolFileListNode **list,
                        int *count) {
    *list = nullptr;
    *count = 0;
    const Volume *volume = FindVolume(state, volumeName);
    if (volume == nullptr) {
        return kStatusNotFound;
    }
    std::size_t nodes = 0;
    for (const Connection &connection : state.connections) {
        for (const OpenFileGroup &group : connection.openFiles) {
            if (group.volume == volume->name) {
                nodes += (group.paths.size() + kMaxFilesPerNode - 1) / kMaxFilesPerNode;
            }
        }
    }
    ListBuilder<VolFileListNode> builder(nodes, FreeVolumeFileList);
    for (const Connection &connection : state.connections) {
        for (const OpenFileGroup &group : connection.openFiles) {
            if (group.volume != volume->name) {
                continue;
            }
            for (std::size_t first = 0; first < group.paths.size(); first += kMaxFilesPerNode) {
                std::size_t files = std::min(kMaxFilesPerNode, group.paths.size() - first);
                VolFileListNode *node = builder.Append();
                if (node == nullptr) {
                    return kStatusNoMemory;
                }
                node->connNumber = connection.number;
                CopyText(node->userName, sizeof node->userName, connection.user);
                char **names = NewTextArray(group.paths.data() + first, files);
                if (names == nullptr) {
                    return kStatusNoMemory;
                }
                node->fileNames = names;
                node->fileCount = static_cast<uint16_t>(files);
            }
        }
    }
    builder.Release(list, count);
    return kStatusOk;
}

int BuildConnectionList(const State &state, int *count, ConnListNode **list) {
    *list = nullptr;
    *count = 0;
    ListBuilder<ConnListNode> builder(state.connections.size(), FreeConnectionList);
    for (const Connection &connection : state.connections) {
        ConnListNode *node = builder.Append();
        if (node == nullptr) {
            return kStatusNoMemory;
        }
        node->connNumber = connection.number;
        CopyText(node->netAddress, sizeof node->netAddress, connection.address);
        CopyText(node->userName, sizeof node->userName, connection.user);
        CopyText(node->connType, sizeof node->connType, connection.type);
        node->requestCount = connection.requestCount;
        node->bytesRead = connection.bytesRead;
        node->bytesWritten = connection.bytesWritten;
        node->loginTime = connection.loginTime;
    }
    builder.Release(list, count);
    return kStatusOk;
}

int BuildConnectionInfo(const State &state, unsigned int number, UserInfo_s **info) {
    *info = nullptr;
    std::vector<std::size_t> found = FindConnections(state, number);
    if (found.empty()) {
        return kStatusNotFound;
    }
    const Connection &connection = state.connections[found.front()];
    std::vector<std::string_view> files;
    for (const OpenFileGroup &group : connection.openFiles) {
        for (const std::string &path : group.paths) {
            if (files.size() < kMaxFilesPerConnectionInfo) {
                files.push_back(path);
            }
        }
    }
    UserInfo_s *record = NewNode<UserInfo_s>();
    if (record == nullptr) {
        return kStatusNoMemory;
    }
    record->connNumber = connection.number;
    CopyText(record->netAddress, sizeof record->netAddress, connection.address);
    CopyText(record->privileges, sizeof record->privileges, connection.privileges);
    CopyText(record->loginStatus, sizeof record->loginStatus, connection.loginStatus);
    CopyText(record->userName, sizeof record->userName, connection.user);
    CopyText(record->connType, sizeof record->connType, connection.type);
    record->loginTime = connection.loginTime;
    if (!files.empty()) {
        char **names = NewTextArray(files.data(), files.size());
        if (names == nullptr) {
            FreeConnectionInfo(record);
            return kStatusNoMemory;
        }
        record->openFileNames = names;
        record->openFileCount = static_cast<uint16_t>(files.size());
    }
    const std::vector<std::string> &equivalences = connection.securityEquivalences;
    if (!equivalences.empty()) {
        char **names = NewTextArray(equivalences.data(), equivalences.size());
        if (names == nullptr) {
            FreeConnectionInfo(record);
            return kStatusNoMemory;
        }
        record->sevDNs = names;
        record->secEquivCount = static_cast<uint32_t>(equivalences.size());
    }
    *info = record;
    return kStatusOk;
}

// A list's nodes are one block, its head's (ListBuilder).
void FreeVolumeList(VolumeDetailsNode *list) {
    std::free(list);
}

void FreeVolumeFileList(VolFileListNode *list) {
    for (VolFileListNode *node = list; node != nullptr; node = node->next) {
        FreeTextArray(node->fileNames, node->fileCount);
    }
    std::free(list);
}

void FreeConnectionList(ConnListNode *list) {
    std::free(list);
}

void FreeConnectionInfo(UserInfo_s *info) {
    if (info == nullptr) {
        return;
    }
    FreeTextArray(info->openFileNames, info->openFileCount);
    FreeTextArray(info->sevDNs, info->secEquivCount);
    std::free(info);
}

}  // namespace cifsmon
