// bench_connections_page: the Manage Connections list page, from the monitoring call to the
// last byte in the console's response buffer, against its floor.
//
// ConnectionsPage serves GET /cifscons/<sort keyword> through cifsconsMethod on a fresh console
// request per iteration: the monitoring listing, the copy into the plug-in's nodes (login time
// texts included), the merge sort, formatting every row into the response buffer and freeing
// everything. ConnectionsFloor writes the same rows' bytes with one snprintf each into a
// preallocated buffer, from arguments prepared beforehand (numbers with their separators, time
// texts, escaped names); its setup checks that those bytes stand in the page as they are.
//
// Arguments: connections, sort type (1 ConnectionNumber, 2 ConnectionName, 3 LoginTime,
// 4 FSActivity, 5 ZupRequest, 6 ConnectionType).
#include <benchmark/benchmark.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_support.h"
#include "cifsmonitoring/monitoring.h"
#include "connections/connection_list.h"
#include "connections/dispatch.h"
#include "logger/logger.h"
#include "plugin/html.h"
#include "plugin/pages.h"
#include "plugin/utils.h"

namespace {

// One row of the connection list, as the page writes it in six writes; the "*" of a connection
// without a logged-in user is the sixth argument.
constexpr char kRowFormat[] =
    "\n<TR %s><td class=\"tablecol\" align=center>%d</td><td class=\"tablecol\" "
    "align=left><A HREF=/%s/%s/%08X>%s%s</A></td><td class=\"tablecol\" align=center>%s</td>"
    "<td class=\"tablecol\" align=right>%s</td><td class=\"tablecol\" align=right>%s</td>"
    "<td class=\"tablecol\" align=right>%s</td></TR>";

constexpr std::size_t kNumberTextSize = 32;

bench::DataSet ConnectionsDataSet(std::size_t connections) {
    bench::DataSet set;
    set.connections = connections;
    set.files = connections;
    set.volumes = 4;
    return set;
}

const char *SortKeyword(int sortType) {
    for (const kel2cifs::ConnectionSortOrder &order : kel2cifs::kConnectionColumns) {
        if (static_cast<int>(order.sortType) == sortType) {
            return order.keyword;
        }
    }
    return kel2cifs::kDefaultConnectionSortName;
}

void Prepare() {
    bench::StartLogger(kel2cifs::kLevelWarning);
}

void ConnectionsPage(benchmark::State &state) {
    Prepare();
    const auto connections = static_cast<std::size_t>(state.range(0));
    const int sortType = static_cast<int>(state.range(1));
    bench::UseDataSet(ConnectionsDataSet(connections));
    const std::string path = std::string("/cifscons/") + SortKeyword(sortType);
    bench::TimePage(state, cifsconsMethod, path, "</dl></BODY></HTML>\n", connections);
}

struct Row {
    const char *stripe;
    unsigned connNumber;
    std::string name;  // escaped
    const char *star;
    std::string activity;
    std::string requests;
    std::string loginTime;  // escaped
    std::string type;       // localised word or escaped text
};

std::string TypeText(const char *connType) {
    const std::string_view type(connType);
    if (type == "Active Directory" || type == "Ravelin") {
        return lnxMSG(connType);
    }
    return kel2cifs::HtmlText(connType).c_str();
}

void ConnectionsFloor(benchmark::State &state) {
    Prepare();
    const auto connections = static_cast<std::size_t>(state.range(0));
    const auto sortType = static_cast<cifsSortType>(state.range(1));
    bench::UseDataSet(ConnectionsDataSet(connections));
    const char *keyword = SortKeyword(static_cast<int>(sortType));

    ConnectionSortStruct *list = nullptr;
    bench::Require(GetSortedConnectionList(&list, sortType) == 0, "GetSortedConnectionList");
    std::vector<Row> rows;
    rows.reserve(connections);
    bool light = true;
    for (const ConnectionSortStruct *node = list; node != nullptr; node = node->next) {
        char activity[kNumberTextSize];
        CreateLargeNumberStringWithCommas(node->bytesReadWritten, activity, sizeof(activity),
                                          "%" PRIu64);
        char requests[kNumberTextSize];
        CreateLargeNumberStringWithCommas(node->requestCount, requests, sizeof(requests),
                                          "%" PRIu64);
        rows.push_back({light ? pzSTRIPE_LIGHT : pzSTRIPE_DARK, node->connNumber,
                        kel2cifs::HtmlText(node->userName).c_str(),
                        std::string_view(node->loggedInMark) == kel2cifs::kLoggedInMark ? "" : "*",
                        activity, requests, kel2cifs::HtmlText(node->loginTimeText).c_str(),
                        TypeText(node->connType)});
        light = !light;
    }
    kel2cifs::FreeConnectionList(list);
    bench::Require(rows.size() == connections, "the library lists " + std::to_string(rows.size()) +
                                                   " connections, not " +
                                                   std::to_string(connections));

    auto format = [keyword](char *out, std::size_t room, const Row &row) {
        return std::snprintf(out, room, kRowFormat, row.stripe, row.connNumber, keyword_cifsdcons,
                             keyword, row.connNumber, row.star, row.name.c_str(),
                             row.activity.c_str(), row.requests.c_str(), row.loginTime.c_str(),
                             row.type.c_str());
    };
    std::size_t capacity = 1;
    for (const Row &row : rows) {
        capacity += static_cast<std::size_t>(format(nullptr, 0, row));
    }
    std::unique_ptr<char[]> buffer(new char[capacity]);
    std::fill(buffer.get(), buffer.get() + capacity, '\0');  // resident before timing

    std::size_t written = 0;
    for (auto _ : state) {
        written = 0;
        for (const Row &row : rows) {
            written +=
                static_cast<std::size_t>(format(buffer.get() + written, capacity - written, row));
        }
        benchmark::DoNotOptimize(buffer.get());
        benchmark::ClobberMemory();
    }
    const std::string page = bench::PageBody(cifsconsMethod, std::string("/cifscons/") + keyword);
    bench::Require(page.find(std::string_view(buffer.get(), written)) != std::string::npos,
                   "the floor's rows differ from the page's");
    state.counters["rows"] = static_cast<double>(connections);
    state.counters["row_bytes"] = static_cast<double>(written);
    state.counters["page_bytes"] = static_cast<double>(page.size());
}

// Where a page's time goes, for the notes: the monitoring listing alone (records built and
// freed), and GetSortedConnectionList, which adds the copy into the plug-in's nodes (login time
// texts included) and the sort, with the nodes' release.
void ConnectionsListing(benchmark::State &state) {
    Prepare();
    const auto connections = static_cast<std::size_t>(state.range(0));
    bench::UseDataSet(ConnectionsDataSet(connections));
    bench::WarmUp();
    for (auto _ : state) {
        ConnListNode *list = nullptr;
        int count = 0;
        benchmark::DoNotOptimize(Ext_ListConnDetails(&count, &list));
        FreeConnListNodes(&list);
    }
    state.counters["rows"] = static_cast<double>(connections);
}

void ConnectionsCopy(benchmark::State &state) {
    Prepare();
    const auto connections = static_cast<std::size_t>(state.range(0));
    const auto sortType = static_cast<cifsSortType>(state.range(1));
    bench::UseDataSet(ConnectionsDataSet(connections));
    bench::WarmUp();
    for (auto _ : state) {
        ConnectionSortStruct *list = nullptr;
        benchmark::DoNotOptimize(GetSortedConnectionList(&list, sortType));
        kel2cifs::FreeConnectionList(list);
    }
    state.counters["rows"] = static_cast<double>(connections);
}

const std::vector<std::vector<int64_t>> kArguments = {{1000, 10000, 100000}, {1, 2, 3, 4, 5, 6}};

BENCHMARK(ConnectionsPage)
    ->ArgsProduct(kArguments)
    ->ArgNames({"connections", "sort"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ConnectionsListing)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->ArgName("connections")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ConnectionsCopy)
    ->ArgsProduct({{1000, 10000, 100000}, {1, 3}})
    ->ArgNames({"connections", "sort"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ConnectionsFloor)
    ->ArgsProduct(kArguments)
    ->ArgNames({"connections", "sort"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
