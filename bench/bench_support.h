// bench_support.h: what every benchmark binary shares: a scratch directory, demo data written
// for the real monitoring library, the plug-in's logger at the level a configured console runs
// it, pages served through the real console's request object, and resident-memory readings.
//
// Pages are produced exactly as kelconsole produces them, without the network: a
// kel::console::Request of libkel.so is filled with the decoded path the server would hand over,
// the plug-in's service method runs on it, and its response buffer holds the finished body.
#ifndef KEL2CIFS_BENCH_BENCH_SUPPORT_H
#define KEL2CIFS_BENCH_BENCH_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#include "console/request.h"
#include "kel/host.h"

namespace bench {

// The console's administrator role (kel/host.h's access word for it).
inline constexpr unsigned int kAdministratorAccess = 0x0000000Bu;

// A directory under $TMPDIR (or /tmp), removed with its content when the process ends.
const std::string &ScratchDirectory();

// The size of a data set: open files on one volume, connections, volumes.
struct DataSet {
    std::size_t files = 0;
    std::size_t connections = 0;
    std::size_t volumes = 1;
};

// Writes the demo backend's state file for the data set (cifsmon-demo-gen's generator, seed 1,
// a fixed time) once per process and points the monitoring library at it
// (CIFSMONITORING_STATE). Returns the name of the first volume. Aborts the process when the data
// cannot be written.
std::string UseDataSet(const DataSet &set);

// Lets the monitoring library read and parse the data set in use (it keeps the parsed state), so
// that a timed loop sees only what every later request costs.
void WarmUp();

// Starts the plug-in's logger on a file in the scratch directory at `level` (the console's
// default configuration runs it at warning level), once per process, and sets the allocator as
// kelconsole does (TuneAllocatorForPages).
void StartLogger(int level);

// Serves `path` (decoded, "/" + keyword + rest, as the server hands it over) with a GET through
// `method` on `request`, which must be fresh. Returns the method's status.
int Serve(ServiceMethod method, kel::console::Request &request, std::string_view path);

// Serves a fresh request and returns its body (empty when the page was not a complete 200).
std::string PageBody(ServiceMethod method, std::string_view path);

// The timed loop of a page benchmark: serves `path` once untimed (warming the monitoring
// library's parsed state) and checks that the page ends with `ending`, then serves it on a fresh
// request per iteration; sets the counters "rows" and "page_bytes".
void TimePage(benchmark::State &state, ServiceMethod method, const std::string &path,
              std::string_view ending, std::size_t rows);

// Resident memory of this process from /proc/self/status, in bytes: now (VmRSS) and the peak
// (VmHWM). ResetPeakResident() makes the peak start again from the current size; false when
// the kernel refuses.
std::size_t CurrentResident();
std::size_t PeakResident();
bool ResetPeakResident();

// Aborts with a message when `condition` is false (setup checks; never on a timed path).
void Require(bool condition, const std::string &what);

}  // namespace bench

#endif  // KEL2CIFS_BENCH_BENCH_SUPPORT_H
