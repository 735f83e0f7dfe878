// bench_memory: peak resident memory while the Manage Open Files page of a volume with
// 1,000,000 open files is served, against what the page must hold at once.
//
// The process first lets the monitoring library parse its state (the demo backend keeps the
// parsed state between requests), returns free heap memory to the system and takes the resident
// size as its baseline; then it resets the kernel's peak and serves the page once. The increase
// of the peak over the baseline is compared with the sum of
//   - the monitoring library's records for the volume (nodes, name arrays, path texts),
//   - the plug-in's OpenFileInfo nodes,
//   - the page's bytes,
// each as the allocator counts it (headers included). Run alone: the peak is the process's.
//
// Argument: open files on the volume.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include "bench/bench_support.h"
#include "cifsmonitoring/monitoring.h"
#include "logger/logger.h"
#include "ofm/dispatch.h"
#include "ofm/open_files.h"

namespace {

// Bytes the allocator has handed out and not taken back, headers included, mapped blocks too.
std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// The monitoring library's records for the volume, as the heap sees them while they are held.
std::size_t RecordBytes(const std::string &volume) {
    const std::size_t before = HeapInUse();
    VolFileListNode *list = nullptr;
    int count = 0;
    bench::Require(Ext_ListVolFileDetails(volume.c_str(), &list, &count) == 0,
                   "Ext_ListVolFileDetails");
    const std::size_t held = HeapInUse() - before;
    FreeVolFileListNodes(&list);
    return held;
}

// The plug-in's nodes for the volume (the records are given back before GetOpenFileList
// returns).
std::size_t NodeBytes(const std::string &volume, std::size_t *count) {
    const std::size_t before = HeapInUse();
    OpenFileInfo *list = nullptr;
    bench::Require(GetOpenFileList(volume.c_str(), &list, "") == 0, "GetOpenFileList");
    const std::size_t held = HeapInUse() - before;
    *count = 0;
    for (const OpenFileInfo *node = list; node != nullptr; node = node->next) {
        ++*count;
    }
    kel2cifs::FreeOpenFileList(list);
    return held;
}

void OfmPagePeakMemory(benchmark::State &state) {
    bench::StartLogger(kel2cifs::kLevelWarning);
    bench::DataSet set;
    set.files = static_cast<std::size_t>(state.range(0));
    set.connections = set.files / 20 < 10 ? 10 : set.files / 20;
    const std::string volume = bench::UseDataSet(set);
    const std::string path = "/cifsofm/FileName/" + volume;

    // The library parses its state on the first listing.
    VolumeDetailsNode *volumes = nullptr;
    int count = 0;
    bench::Require(Ext_ListVolumeDetails(&count, &volumes) == 0, "Ext_ListVolumeDetails");
    FreeVolsDetailsNode(&volumes);

    std::size_t baseline = 0;
    std::size_t peak = 0;
    std::size_t pageBytes = 0;
    bool complete = false;
    for (auto _ : state) {
        malloc_trim(0);
        baseline = bench::CurrentResident();
        bench::Require(bench::ResetPeakResident(), "cannot reset the peak resident size");
        {
            kel::console::Request request;
            bench::Serve(cifsofmMethod, request, path);
            peak = bench::PeakResident();
            pageBytes = request.content.size();
            complete = request.content.view().ends_with("</FORM></BODY></HTML>\n");
        }
    }
    bench::Require(complete, "the page of " + path + " is incomplete");
    std::size_t nodes = 0;
    const std::size_t nodeBytes = NodeBytes(volume, &nodes);
    const std::size_t recordBytes = RecordBytes(volume);
    const double held = static_cast<double>(recordBytes + nodeBytes + pageBytes);
    const double increase = static_cast<double>(peak > baseline ? peak - baseline : 0);

    state.counters["rows"] = static_cast<double>(nodes);
    state.counters["baseline_rss"] = static_cast<double>(baseline);
    state.counters["peak_rss"] = static_cast<double>(peak);
    state.counters["peak_increase"] = increase;
    state.counters["record_bytes"] = static_cast<double>(recordBytes);
    state.counters["node_bytes"] = static_cast<double>(nodeBytes);
    state.counters["page_bytes"] = static_cast<double>(pageBytes);
    state.counters["ratio"] = increase / held;
}

BENCHMARK(OfmPagePeakMemory)
    ->Arg(1000000)
    ->ArgName("files")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
