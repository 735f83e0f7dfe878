#include "monitoring/demo/demo_backend.h"

#include <ctime>
#include <string_view>
#include <utility>

#include "monitoring/call_report.h"
#include "monitoring/demo/state_json.h"
#include "monitoring/diagnostics.h"
#include "monitoring/state_file.h"
#include "monitoring/state_ops.h"
#include "monitoring/status.h"

namespace cifsmon {

namespace {

// What a change returns when it succeeded without changing anything: nothing is written.
constexpr int kUnchanged = -1;

// File times come from a clock coarser than the one read here, and some file systems keep them
// in whole seconds; a stamp whose times lie this far in the past is safe to compare.
constexpr long long kSettledSeconds = 2;

// True when the stamp's modification and change times lie at least kSettledSeconds before now.
// Any later change to the file (a write, a rename over it, even utimes) then sets a change time
// that differs from the stamp's, so an equal stamp means the same content. A stamp of a file
// changed just now is not trusted: a second change within the same clock tick could keep it.
bool IsSettled(const FileStamp &stamp) {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return false;
    }
    const long long settled = static_cast<long long>(now.tv_sec) - kSettledSeconds;
    return stamp.modifiedSeconds < settled && stamp.changedSeconds < settled;
}

}  // namespace

DemoBackend::DemoBackend(std::string statePath) : path_(std::move(statePath)) {}

int DemoBackend::Report(int status, const std::string &error) {
    std::string message;
    switch (status) {
        case kStatusStateMissing:
            message = "the demo state file " + path_ +
                      " does not exist; create it with: cifsmon-demo-gen --output " + path_;
            break;
        case kStatusStateCorrupt:
            message = "the demo state file " + path_ + " is invalid: " + error;
            break;
        default:
            message = error;
            break;
    }
    ReportOnce(message);
    SetFailureReason(message);
    return status;
}

int DemoBackend::KeptStatus() const {
    if (keptStatus_ != kStatusOk) {
        SetFailureReason(keptError_);
    }
    return keptStatus_;
}

void DemoBackend::Keep(const ContentKey &key, std::shared_ptr<const State> state, int status,
                       const FileStamp *stamp, bool trusted) {
    std::lock_guard<std::mutex> guard(mutex_);
    haveKept_ = true;
    keptKey_ = key;
    kept_ = std::move(state);
    keptStatus_ = status;
    keptStampTrusted_ = stamp != nullptr && trusted;
    keptStamp_ = stamp != nullptr ? *stamp : FileStamp{};
}

int DemoBackend::Load(std::shared_ptr<const State> *state) {
    state->reset();
    std::string content;
    std::string error;
    StateFileReader reader;
    int status = reader.Open(path_, &error);
    if (status != kStatusOk) {
        return Report(status, error);
    }
    const FileStamp stamp = reader.stamp();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (haveKept_ && keptStampTrusted_ && keptStamp_ == stamp) {
            *state = kept_;
            return KeptStatus();
        }
    }
    const bool trusted = IsSettled(stamp);
    status = reader.Read(&content, &error);
    if (status != kStatusOk) {
        return Report(status, error);
    }
    ContentKey key{content.size(), std::hash<std::string_view>()(content)};
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (haveKept_ && keptKey_ == key) {
            keptStamp_ = stamp;
            keptStampTrusted_ = trusted;
            *state = kept_;
            return KeptStatus();
        }
    }
    auto parsed = std::make_shared<State>();
    if (!ParseState(content, parsed.get(), &error)) {
        parsed.reset();
        status = Report(kStatusStateCorrupt, error);
    }
    Keep(key, parsed, status, &stamp, trusted);
    if (status != kStatusOk) {
        std::lock_guard<std::mutex> guard(mutex_);
        keptError_ = "the demo state file " + path_ + " is invalid: " + error;
    }
    *state = std::move(parsed);
    return status;
}

int DemoBackend::Snapshot(std::shared_ptr<const State> *state) {
    return Load(state);
}

int DemoBackend::Update(const std::function<int(State *)> &change) {
    std::string error;
    StateFileLock lock;
    int status = lock.Acquire(path_, &error);
    if (status != kStatusOk) {
        return Report(status, error);
    }
    std::shared_ptr<const State> current;
    status = Load(&current);
    if (status != kStatusOk) {
        return status;
    }
    auto next = std::make_shared<State>(*current);
    status = change(next.get());
    if (status == kUnchanged) {
        return kStatusOk;
    }
    if (status != kStatusOk) {
        return status;
    }
    std::string content = SerializeState(*next);
    status = WriteFileAtomically(path_, content, &error);
    if (status != kStatusOk) {
        return Report(status, error);
    }
    Keep(ContentKey{content.size(), std::hash<std::string_view>()(content)}, std::move(next),
         kStatusOk);
    return kStatusOk;
}

int DemoBackend::CloseFileByPath(std::string_view path) {
    return Update([path](State *state) {
        std::string resolved;
        std::size_t candidates = 0;
        int status = ResolveClosePath(path, OpenPaths(*state), &resolved, &candidates);
        if (status == kStatusAmbiguous) {
            SetFailureReason("the shortened name stands for " + std::to_string(candidates) +
                             " open files");
            return status;
        }
        if (status != kStatusOk) {
            return status;
        }
        return RemoveOpenFile(state, resolved) > 0 ? kStatusOk : kStatusNotFound;
    });
}

int DemoBackend::CloseFilesOfConnection(unsigned int number) {
    return Update([number](State *state) {
        std::size_t removed = 0;
        if (!RemoveFilesOfConnection(state, number, &removed)) {
            return kStatusNotFound;
        }
        return removed > 0 ? kStatusOk : kUnchanged;
    });
}

int DemoBackend::CloseOpenOfConnection(unsigned int number, std::string_view path) {
    return Update([number, path](State *state) {
        if (FindConnections(*state, number).empty()) {
            return kStatusNotFound;
        }
        // A path cut to fit names the one path of the connection it stands for.
        std::vector<std::string_view> paths;
        for (std::size_t index : FindConnections(*state, number)) {
            for (const OpenFileGroup &group : state->connections[index].openFiles) {
                paths.insert(paths.end(), group.paths.begin(), group.paths.end());
            }
        }
        std::string resolved;
        std::size_t candidates = 0;
        int status = ResolveClosePath(path, paths, &resolved, &candidates);
        if (status == kStatusAmbiguous) {
            SetFailureReason("the shortened name stands for " + std::to_string(candidates) +
                             " open files");
        }
        if (status != kStatusOk) {
            return status;
        }
        return RemoveOpenOfConnection(state, number, resolved) > 0 ? kStatusOk : kStatusNotFound;
    });
}

int DemoBackend::PlanClose(const std::vector<OpenRef> &targets, std::shared_ptr<const State> *state,
                           std::vector<OpenRef> *plan) {
    plan->clear();
    int status = Load(state);
    if (status != kStatusOk) {
        return status;
    }
    for (const OpenRef &target : targets) {
        if (IsOpen(**state, target)) {
            plan->push_back(target);
        }
    }
    return kStatusOk;
}

int DemoBackend::EndSession(unsigned int number) {
    return Update([number](State *state) {
        return RemoveConnection(state, number) > 0 ? kStatusOk : kStatusNotFound;
    });
}

}  // namespace cifsmon
