#include "monitoring/diagnostics.h"

#include <cstdio>
#include <mutex>
#include <unordered_set>

namespace cifsmon {

void ReportOnce(const std::string &message) {
    static std::mutex mutex;
    static std::unordered_set<std::string> reported;
    std::lock_guard<std::mutex> guard(mutex);
    if (!reported.insert(message).second) {
        return;
    }
    std::fprintf(stderr, "cifsmonitoring: %s\n", message.c_str());
    std::fflush(stderr);
}

void Report(const std::string &message) {
    // One fprintf call writes the line under the stream's lock, whole.
    std::fprintf(stderr, "cifsmonitoring: %s\n", message.c_str());
    std::fflush(stderr);
}

}  // namespace cifsmon
