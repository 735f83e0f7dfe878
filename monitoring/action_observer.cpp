#include "monitoring/action_observer.h"

#include <mutex>
#include <shared_mutex>
#include <string>

#include "monitoring/call_report.h"

namespace cifsmon {

namespace {

struct Observer {
    std::shared_mutex mutex;  // shared while an observer runs, exclusive to change it
    CifsActionObserver observer = nullptr;
    void *context = nullptr;
};

Observer &TheObserver() {
    static Observer observer;
    return observer;
}

}  // namespace

void SetActionObserver(CifsActionObserver observer, void *context) {
    Observer &current = TheObserver();
    std::unique_lock<std::shared_mutex> lock(current.mutex);
    current.observer = observer;
    current.context = context;
}

void NotifyAction(int action, unsigned int connNumber, const char *path, int status) {
    Observer &current = TheObserver();
    std::shared_lock<std::shared_mutex> lock(current.mutex);
    if (current.observer == nullptr) {
        return;
    }
    try {
        std::string report;
        LastReport(&report);
        CifsActionReport said{action, connNumber, path, status, report.c_str()};
        current.observer(&said, current.context);
    } catch (...) {
        // An observer's failure (or a report that could not be copied) is not the action's.
    }
}

}  // namespace cifsmon
