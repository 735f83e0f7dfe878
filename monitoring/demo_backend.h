// demo_backend.h: the demo backend, a made-up server kept in a JSON state file (state_json.h).
//
// Every listing reads the file as it is now. The parsed state of the last content seen is kept
// and reused while the file's bytes stay the same (same size and hash), so that an unchanged
// large state is read but not parsed again for every page. A close reads, changes and
// atomically replaces the file under the state file's lock (state_file.h), so that closes from
// several threads and processes never lose one another's changes.
// A missing or invalid file gives kStatusStateMissing or kStatusStateCorrupt and one message on
// standard error (diagnostics.h).
#ifndef CIFSMONITORING_DEMO_BACKEND_H
#define CIFSMONITORING_DEMO_BACKEND_H

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "monitoring/backend.h"

namespace cifsmon {

class DemoBackend : public Backend {
  public:
    explicit DemoBackend(std::string statePath);

    int Snapshot(std::shared_ptr<const State> *state) override;
    int CloseFileByPath(std::string_view path) override;
    int CloseFilesOfConnection(unsigned int number) override;

  private:
    struct ContentKey {
        std::size_t size = 0;
        std::size_t hash = 0;
        bool operator==(const ContentKey &) const = default;
    };

    // Reads the file and parses it, or takes the kept state when the content is the same.
    int Load(std::shared_ptr<const State> *state);
    // Under the lock: `change` edits a copy of the current state and returns kStatusOk to have
    // it written, kUnchanged for success without a write, or a status to return unwritten.
    int Update(const std::function<int(State *)> &change);
    // Reports a failed read or write once and returns status.
    int Report(int status, const std::string &error);
    void Keep(const ContentKey &key, std::shared_ptr<const State> state, int status);

    const std::string path_;
    std::mutex mutex_;  // guards the kept version below
    bool haveKept_ = false;
    ContentKey keptKey_;
    std::shared_ptr<const State> kept_;  // null when that content did not parse
    int keptStatus_ = 0;
};

}  // namespace cifsmon

#endif  // CIFSMONITORING_DEMO_BACKEND_H
