#include "bench/bench_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "cifsmonitoring/monitoring.h"
#include "console/buffer.h"
#include "logger/logger.h"
#include "monitoring/demo/demo_generator.h"
#include "monitoring/demo/state_json.h"
#include "monitoring/state_file.h"
#include "monitoring/status.h"

namespace bench {
namespace {

// Login times of the demo data lie in the week before this moment (2024-12-06 14:26:40 UTC), so
// that every run formats the same times.
constexpr uint64_t kDataTime = 1733495200;

class Scratch {
  public:
    Scratch() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/kel2cifs-bench-XXXXXX";
        Require(mkdtemp(pattern.data()) != nullptr, "mkdtemp " + pattern);
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// The value of a "Name:   123 kB" line of /proc/self/status, in bytes; 0 when missing.
std::size_t StatusKilobytes(std::string_view name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, name.size(), name) == 0 && line.size() > name.size() &&
            line[name.size()] == ':') {
            return std::strtoull(line.c_str() + name.size() + 1, nullptr, 10) * 1024;
        }
    }
    return 0;
}

}  // namespace

const std::string &ScratchDirectory() {
    static Scratch scratch;
    return scratch.path();
}

void Require(bool condition, const std::string &what) {
    if (!condition) {
        std::fprintf(stderr, "bench: setup failed: %s\n", what.c_str());
        std::abort();
    }
}

std::string UseDataSet(const DataSet &set) {
    static std::mutex mutex;
    static std::map<std::tuple<std::size_t, std::size_t, std::size_t>, std::string> written;
    static std::string firstVolume;
    std::lock_guard<std::mutex> guard(mutex);

    const auto key = std::make_tuple(set.files, set.connections, set.volumes);
    auto found = written.find(key);
    if (found == written.end()) {
        cifsmon::GeneratorOptions options;
        options.files = set.files;
        options.connections = set.connections;
        options.volumes = set.volumes;
        options.seed = 1;
        options.now = kDataTime;
        cifsmon::State state;
        std::string error;
        Require(cifsmon::GenerateDemoState(options, &state, &error), error);
        Require(!state.volumes.empty(), "the data set has no volume");
        const std::string path = ScratchDirectory() + "/state-" + std::to_string(set.files) + "-" +
                                 std::to_string(set.connections) + "-" +
                                 std::to_string(set.volumes) + ".json";
        Require(cifsmon::WriteFileAtomically(path, cifsmon::SerializeState(state), &error) ==
                    cifsmon::kStatusOk,
                error);
        // The library reads a state file again on every listing until its times are two
        // seconds old (demo_backend.h); a console serves data written long before.
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        found = written.emplace(key, path).first;
        firstVolume = state.volumes.front().name;
    }
    setenv("CIFSMONITORING_STATE", found->second.c_str(), 1);
    setenv("CIFSMONITORING_BACKEND", "demo", 1);
    return firstVolume;
}

void WarmUp() {
    VolumeDetailsNode *volumes = nullptr;
    int count = 0;
    Require(Ext_ListVolumeDetails(&count, &volumes) == 0, "Ext_ListVolumeDetails");
    FreeVolsDetailsNode(&volumes);
}

void StartLogger(int level) {
    static std::once_flag once;
    std::call_once(once, [level] {
        Require(kel::console::TuneAllocatorForPages(), "TuneAllocatorForPages");
        const std::string file = ScratchDirectory() + "/libkel2cifs.log";
        kel2cifs::log = Logger_init(file.c_str(), level);
        Require(kel2cifs::log != nullptr, "Logger_init");
        kel2cifs::log->setLevel(level);
    });
}

int Serve(ServiceMethod method, kel::console::Request &request, std::string_view path) {
    request.SetPath(path);
    request.methodCode = kel::console::kMethodGet;
    return method(request.handle(), 0, 0, kAdministratorAccess);
}

std::string PageBody(ServiceMethod method, std::string_view path) {
    kel::console::Request request;
    const int status = Serve(method, request, path);
    if (status != 200 || request.status != 200 ||
        request.state != kel::console::ResponseState::kEnded) {
        return {};
    }
    return std::string(request.content.view());
}

void TimePage(benchmark::State &state, ServiceMethod method, const std::string &path,
              std::string_view ending, std::size_t rows) {
    const std::string body = PageBody(method, path);
    Require(!body.empty(), "the page of " + path + " was not served");
    Require(body.ends_with(ending), "the page of " + path + " is incomplete");
    for (auto _ : state) {
        kel::console::Request request;
        benchmark::DoNotOptimize(Serve(method, request, path));
        benchmark::DoNotOptimize(request.content.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["page_bytes"] = static_cast<double>(body.size());
}

std::size_t CurrentResident() {
    return StatusKilobytes("VmRSS");
}

std::size_t PeakResident() {
    return StatusKilobytes("VmHWM");
}

bool ResetPeakResident() {
    // "5" resets the peak resident set size to the current one (proc(5), clear_refs).
    const int fd = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, "5", 1) == 1;
    close(fd);
    return written;
}

}  // namespace bench
