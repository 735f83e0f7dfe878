#include "monitoring/demo_backend.h"

#include <string_view>
#include <utility>

#include "monitoring/diagnostics.h"
#include "monitoring/state_file.h"
#include "monitoring/state_json.h"
#include "monitoring/state_ops.h"
#include "monitoring/status.h"

namespace cifsmon {

namespace {

// What a change returns when it succeeded without changing anything: nothing is written.
constexpr int kUnchanged = -1;

}  // namespace

DemoBackend::DemoBackend(std::string statePath) : path_(std::move(statePath)) {}

int DemoBackend::Report(int status, const std::string &error) {
    switch (status) {
        case kStatusStateMissing:
            ReportOnce("the demo state file " + path_ +
                       " does not exist; create it with: cifsmon-demo-gen --output " + path_);
            break;
        case kStatusStateCorrupt:
            ReportOnce("the demo state file " + path_ + " is invalid: " + error);
            break;
        default:
            ReportOnce(error);
            break;
    }
    return status;
}

void DemoBackend::Keep(const ContentKey &key, std::shared_ptr<const State> state, int status) {
    std::lock_guard<std::mutex> guard(mutex_);
    haveKept_ = true;
    keptKey_ = key;
    kept_ = std::move(state);
    keptStatus_ = status;
}

int DemoBackend::Load(std::shared_ptr<const State> *state) {
    state->reset();
    std::string content;
    std::string error;
    int status = ReadStateFile(path_, &content, &error);
    if (status != kStatusOk) {
        return Report(status, error);
    }
    ContentKey key{content.size(), std::hash<std::string_view>()(content)};
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (haveKept_ && keptKey_ == key) {
            *state = kept_;
            return keptStatus_;
        }
    }
    auto parsed = std::make_shared<State>();
    if (!ParseState(content, parsed.get(), &error)) {
        parsed.reset();
        status = Report(kStatusStateCorrupt, error);
    }
    Keep(key, parsed, status);
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
        return RemoveOpenFile(state, path) > 0 ? kStatusOk : kStatusNotFound;
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

}  // namespace cifsmon
