// bench_sort: the plug-in's list merge sorts alone, against std::stable_sort of an array of
// pointers to the same nodes by the same key (a floor for the comparisons; the list sort's order
// of ties differs on purpose).
//
// The nodes are the plug-in's own, built by GetOpenFileList and GetSortedConnectionList from the
// demo data, so their memory layout is the one the pages sort. Before every iteration (outside
// the timing) the list is relinked, or the array refilled, in the library's order.
//
// Arguments: nodes, sort type (open files 1 to 3, connections 1 to 6).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "connections/connection_list.h"
#include "logger/logger.h"
#include "ofm/open_files.h"
#include "ofm/sort.h"

namespace {

template <typename Node>
class NodeSet {
  public:
    explicit NodeSet(Node *head) {
        for (Node *node = head; node != nullptr; node = node->next) {
            nodes_.push_back(node);
        }
    }
    ~NodeSet() {
        for (Node *node : nodes_) {
            std::free(node);
        }
    }
    NodeSet(const NodeSet &) = delete;
    NodeSet &operator=(const NodeSet &) = delete;

    // Relinks the nodes in their first order and returns the head.
    Node *Relink() {
        for (std::size_t i = 0; i + 1 < nodes_.size(); ++i) {
            nodes_[i]->next = nodes_[i + 1];
        }
        if (!nodes_.empty()) {
            nodes_.back()->next = nullptr;
        }
        return nodes_.empty() ? nullptr : nodes_.front();
    }
    const std::vector<Node *> &nodes() const { return nodes_; }

  private:
    std::vector<Node *> nodes_;
};

// The node sets are built once per size and kept: Google Benchmark calls a benchmark function
// several times while it settles on an iteration count.
NodeSet<OpenFileInfo> *OpenFileNodes(std::size_t files) {
    static std::map<std::size_t, std::unique_ptr<NodeSet<OpenFileInfo>>> kept;
    if (auto found = kept.find(files); found != kept.end()) {
        return found->second.get();
    }
    bench::StartLogger(kel2cifs::kLevelWarning);
    bench::DataSet set;
    set.files = files;
    set.connections = files / 20 < 10 ? 10 : files / 20;
    const std::string volume = bench::UseDataSet(set);
    OpenFileInfo *list = nullptr;
    bench::Require(GetOpenFileList(volume.c_str(), &list, "") == 0, "GetOpenFileList");
    return (kept[files] = std::make_unique<NodeSet<OpenFileInfo>>(list)).get();
}

// With the demo data the library lists connections in ascending number order, so the list as
// sorted by number is the library's order.
NodeSet<ConnectionSortStruct> *ConnectionNodes(std::size_t connections) {
    static std::map<std::size_t, std::unique_ptr<NodeSet<ConnectionSortStruct>>> kept;
    if (auto found = kept.find(connections); found != kept.end()) {
        return found->second.get();
    }
    bench::StartLogger(kel2cifs::kLevelWarning);
    bench::DataSet set;
    set.files = connections;
    set.connections = connections;
    set.volumes = 4;
    bench::UseDataSet(set);
    ConnectionSortStruct *list = nullptr;
    bench::Require(GetSortedConnectionList(&list, kSortByConnectionNumber) == 0,
                   "GetSortedConnectionList");
    return (kept[connections] = std::make_unique<NodeSet<ConnectionSortStruct>>(list)).get();
}

bool OpenFileKeyLess(const OpenFileInfo *a, const OpenFileInfo *b, int sortType) {
    switch (sortType) {
        case 1:
            return a->connNumber < b->connNumber;
        case 2:
            return std::strcmp(a->userName, b->userName) < 0;
        default:
            return std::strcmp(a->fileName, b->fileName) < 0;
    }
}

bool ConnectionKeyLess(const ConnectionSortStruct *a, const ConnectionSortStruct *b, int sortType) {
    switch (sortType) {
        case 1:
            return a->connNumber < b->connNumber;
        case 3:
            return a->loginTime < b->loginTime;
        case 4:
            return a->bytesReadWritten < b->bytesReadWritten;
        case 5:
            return a->requestCount < b->requestCount;
        default:  // 2 and 6: the user name
            return std::strcmp(a->userName, b->userName) < 0;
    }
}

void OpenFileMergeSort(benchmark::State &state) {
    NodeSet<OpenFileInfo> *nodes = OpenFileNodes(static_cast<std::size_t>(state.range(0)));
    const auto sortType = static_cast<cifsSortType>(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        OpenFileInfo *head = nodes->Relink();
        state.ResumeTiming();
        mergesortFile(&head, sortType);
        benchmark::DoNotOptimize(head);
    }
    state.counters["nodes"] = static_cast<double>(nodes->nodes().size());
}

void OpenFileStableSort(benchmark::State &state) {
    NodeSet<OpenFileInfo> *nodes = OpenFileNodes(static_cast<std::size_t>(state.range(0)));
    const int sortType = static_cast<int>(state.range(1));
    std::vector<OpenFileInfo *> array;
    for (auto _ : state) {
        state.PauseTiming();
        array = nodes->nodes();
        state.ResumeTiming();
        std::stable_sort(array.begin(), array.end(),
                         [sortType](const OpenFileInfo *a, const OpenFileInfo *b) {
                             return OpenFileKeyLess(a, b, sortType);
                         });
        benchmark::DoNotOptimize(array.data());
    }
    state.counters["nodes"] = static_cast<double>(nodes->nodes().size());
}

void ConnectionMergeSort(benchmark::State &state) {
    NodeSet<ConnectionSortStruct> *nodes =
        ConnectionNodes(static_cast<std::size_t>(state.range(0)));
    const auto sortType = static_cast<cifsSortType>(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        ConnectionSortStruct *head = nodes->Relink();
        state.ResumeTiming();
        benchmark::DoNotOptimize(mergesort(&head, sortType));
    }
    state.counters["nodes"] = static_cast<double>(nodes->nodes().size());
}

void ConnectionStableSort(benchmark::State &state) {
    NodeSet<ConnectionSortStruct> *nodes =
        ConnectionNodes(static_cast<std::size_t>(state.range(0)));
    const int sortType = static_cast<int>(state.range(1));
    std::vector<ConnectionSortStruct *> array;
    for (auto _ : state) {
        state.PauseTiming();
        array = nodes->nodes();
        state.ResumeTiming();
        std::stable_sort(array.begin(), array.end(),
                         [sortType](const ConnectionSortStruct *a, const ConnectionSortStruct *b) {
                             return ConnectionKeyLess(a, b, sortType);
                         });
        benchmark::DoNotOptimize(array.data());
    }
    state.counters["nodes"] = static_cast<double>(nodes->nodes().size());
}

const std::vector<std::vector<int64_t>> kOpenFileArguments = {{1000, 10000, 100000, 1000000},
                                                              {1, 2, 3}};
const std::vector<std::vector<int64_t>> kConnectionArguments = {{1000, 10000, 100000},
                                                                {1, 2, 3, 4, 5, 6}};

BENCHMARK(OpenFileMergeSort)
    ->ArgsProduct(kOpenFileArguments)
    ->ArgNames({"nodes", "sort"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OpenFileStableSort)
    ->ArgsProduct(kOpenFileArguments)
    ->ArgNames({"nodes", "sort"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ConnectionMergeSort)
    ->ArgsProduct(kConnectionArguments)
    ->ArgNames({"nodes", "sort"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ConnectionStableSort)
    ->ArgsProduct(kConnectionArguments)
    ->ArgNames({"nodes", "sort"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
