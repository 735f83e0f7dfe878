// bench_ofm_page: the Manage Open Files page of one volume, from the monitoring call to the last
// byte in the console's response buffer, against its floor.
//
// OfmPage serves GET /cifsofm/<sort keyword>/<volume> through cifsofmMethod on a fresh console
// request per iteration: both monitoring listings (volumes and open files), the copy into the
// plug-in's nodes, the merge sort, escaping, formatting every row into the response buffer and
// freeing everything. OfmFloor writes the same rows' bytes with one snprintf each into a
// preallocated buffer, from arguments prepared beforehand (escaped texts included); its setup
// checks that those bytes stand in the page as they are.
//
// Arguments: open files on the volume, sort type (1 ConnectionNumber, 2 UserName, 3 FileName).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "cifsmonitoring/monitoring.h"
#include "logger/logger.h"
#include "ofm/dispatch.h"
#include "ofm/open_files.h"
#include "ofm/sort.h"
#include "plugin/html.h"
#include "plugin/pages.h"

namespace {

// The row of the open-files table, as the page writes it.
constexpr char kRowFormat[] =
    "<TR %s><TD align=center><input type=\"checkbox\" NAME=\"FILENAME\" "
    "VALUE=\"<filename>%s</filename>\" id=cb1></TD><td class=\"tablecol\" "
    "align=center>%d</td><td class=\"tablecol\" align=center><a "
    "href=\"/%s/ConnectionNumber/%08X\" onclick=\"return "
    "connectionFormSubmit(this);\" >%s</a></td><td class=\"tablecol\" "
    "align=left>%s</td></TR>";

bench::DataSet OfmDataSet(std::size_t files) {
    bench::DataSet set;
    set.files = files;
    set.connections = files / 20 < 10 ? 10 : files / 20;
    set.volumes = 1;
    return set;
}

std::string PagePath(const std::string &volume, int sortType) {
    return std::string("/cifsofm/") + getSortTypeString(static_cast<cifsSortType>(sortType)) + "/" +
           volume;
}

void Prepare() {
    // The level of a console configured as README.md describes (LOG_LEVEL default WARNING).
    bench::StartLogger(kel2cifs::kLevelWarning);
}

void OfmPage(benchmark::State &state) {
    Prepare();
    const auto files = static_cast<std::size_t>(state.range(0));
    const int sortType = static_cast<int>(state.range(1));
    const std::string volume = bench::UseDataSet(OfmDataSet(files));
    const std::string path = PagePath(volume, sortType);
    bench::TimePage(state, cifsofmMethod, path, "</FORM></BODY></HTML>\n", files);
}

struct Row {
    const char *stripe;
    std::string path;  // escaped
    unsigned connNumber;
    std::string user;  // escaped
};

void OfmFloor(benchmark::State &state) {
    Prepare();
    const auto files = static_cast<std::size_t>(state.range(0));
    const auto sortType = static_cast<cifsSortType>(state.range(1));
    const std::string volume = bench::UseDataSet(OfmDataSet(files));

    // The page's rows, in the page's order.
    OpenFileInfo *list = nullptr;
    bench::Require(GetOpenFileList(volume.c_str(), &list, "") == 0, "GetOpenFileList");
    SortOpenFilesTable(&list, sortType);
    std::vector<Row> rows;
    rows.reserve(files);
    const char *stripe = nullptr;
    for (const OpenFileInfo *file = list; file != nullptr; file = file->next) {
        stripe = stripe == pzSTRIPE_LIGHT ? pzSTRIPE_DARK : pzSTRIPE_LIGHT;
        rows.push_back({stripe, kel2cifs::HtmlText(file->fileName).c_str(), file->connNumber,
                        kel2cifs::HtmlText(file->userName).c_str()});
    }
    kel2cifs::FreeOpenFileList(list);
    bench::Require(rows.size() == files, "the volume lists " + std::to_string(rows.size()) +
                                             " files, not " + std::to_string(files));

    std::size_t capacity = 1;
    for (const Row &row : rows) {
        capacity += static_cast<std::size_t>(
            std::snprintf(nullptr, 0, kRowFormat, row.stripe, row.path.c_str(), row.connNumber,
                          keyword_cifsdcons, row.connNumber, row.user.c_str(), row.path.c_str()));
    }
    std::unique_ptr<char[]> buffer(new char[capacity]);
    std::fill(buffer.get(), buffer.get() + capacity, '\0');  // resident before timing

    std::size_t written = 0;
    for (auto _ : state) {
        written = 0;
        for (const Row &row : rows) {
            written += static_cast<std::size_t>(
                std::snprintf(buffer.get() + written, capacity - written, kRowFormat, row.stripe,
                              row.path.c_str(), row.connNumber, keyword_cifsdcons, row.connNumber,
                              row.user.c_str(), row.path.c_str()));
        }
        benchmark::DoNotOptimize(buffer.get());
        benchmark::ClobberMemory();
    }
    const std::string page = bench::PageBody(cifsofmMethod, PagePath(volume, sortType));
    bench::Require(page.find(std::string_view(buffer.get(), written)) != std::string::npos,
                   "the floor's rows differ from the page's");
    state.counters["rows"] = static_cast<double>(files);
    state.counters["row_bytes"] = static_cast<double>(written);
    state.counters["page_bytes"] = static_cast<double>(page.size());
}

// Where a page's time goes, for the notes: the monitoring listing alone (the records built and
// freed), and GetOpenFileList, which adds the copy into the plug-in's nodes (and their release).
void OfmListing(benchmark::State &state) {
    Prepare();
    const auto files = static_cast<std::size_t>(state.range(0));
    const std::string volume = bench::UseDataSet(OfmDataSet(files));
    bench::WarmUp();
    for (auto _ : state) {
        VolFileListNode *list = nullptr;
        int count = 0;
        benchmark::DoNotOptimize(Ext_ListVolFileDetails(volume.c_str(), &list, &count));
        FreeVolFileListNodes(&list);
    }
    state.counters["rows"] = static_cast<double>(files);
}

void OfmCopy(benchmark::State &state) {
    Prepare();
    const auto files = static_cast<std::size_t>(state.range(0));
    const std::string volume = bench::UseDataSet(OfmDataSet(files));
    bench::WarmUp();
    for (auto _ : state) {
        OpenFileInfo *list = nullptr;
        benchmark::DoNotOptimize(GetOpenFileList(volume.c_str(), &list, ""));
        kel2cifs::FreeOpenFileList(list);
    }
    state.counters["rows"] = static_cast<double>(files);
}

const std::vector<std::vector<int64_t>> kArguments = {{1000, 10000, 100000, 1000000}, {1, 2, 3}};

BENCHMARK(OfmPage)
    ->ArgsProduct(kArguments)
    ->ArgNames({"files", "sort"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OfmListing)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->ArgName("files")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OfmCopy)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->ArgName("files")->Unit(
    benchmark::kMillisecond);
BENCHMARK(OfmFloor)
    ->ArgsProduct(kArguments)
    ->ArgNames({"files", "sort"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
