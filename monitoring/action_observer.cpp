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

// Whether the calling thread is inside an observer: an action the observer makes is told to it
// under the lock the thread already holds (a shared lock taken twice by one thread may wait
// for a writer queued in between, forever).
thread_local bool insideObserver = false;

void Tell(const Observer &current, int action, unsigned int connNumber, const char *path,
          int status) {
    if (current.observer == nullptr) {
        return;
    }
    try {
        std::string report;
        LastReport(&report);
        CifsActionReport said{action, connNumber, path, status, report.c_str()};
        insideObserver = true;
        current.observer(&said, current.context);
    } catch (...) {
        // An observer's failure (or a report that could not be copied) is not the action's.
    }
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
    if (insideObserver) {
        Tell(current, action, connNumber, path, status);
        return;
    }
    std::shared_lock<std::shared_mutex> lock(current.mutex);
    Tell(current, action, connNumber, path, status);
    insideObserver = false;
}

}  // namespace cifsmon
