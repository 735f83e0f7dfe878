// demo_backend.h: the demo backend, a made-up server kept in a JSON state file (state_json.h).
//
// Every listing sees the file as it is now. The parsed state of the last content seen is kept
// and reused while the file's bytes stay the same (same size and hash), so that an unchanged
// large state is not parsed again for every page. Nor is it read again while the file's stamp
// (device, inode, size, modification and change times) is the one it had when it was last read,
// provided those times were then at least two seconds old: a file changed since has another
// change time. A file changed less than two seconds before it was read is read and hashed
// again on every listing until its times have settled. A close reads, changes and
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
#include "monitoring/state_file.h"

namespace cifsmon {

class DemoBackend : public Backend {
  public:
    explicit DemoBackend(std::string statePath);

    int Snapshot(std::shared_ptr<const State> *state) override;
    int CloseFileByPath(std::string_view path) override;
    int CloseFilesOfConnection(unsigned int number) override;
    int CloseOpenOfConnection(unsigned int number, std::string_view path) override;
    // The demo server closes every open alone: the plan is the targets that are open.
    int PlanClose(const std::vector<OpenRef> &targets, std::shared_ptr<const State> *state,
                  std::vector<OpenRef> *plan) override;
    int EndSession(unsigned int number) override;

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
    // keptStatus_, with its reason for the caller's report when it is a failure. Called with
    // mutex_ held.
    int KeptStatus() const;
    // Keeps the state parsed from the content `key` describes; `stamp` (may be null: unknown)
    // is the file's stamp when that content was read, to be compared without reading when
    // `trusted`.
    void Keep(const ContentKey &key, std::shared_ptr<const State> state, int status,
              const FileStamp *stamp = nullptr, bool trusted = false);

    const std::string path_;
    std::mutex mutex_;  // guards the kept version below
    bool haveKept_ = false;
    ContentKey keptKey_;
    std::shared_ptr<const State> kept_;  // null when that content did not parse
    int keptStatus_ = 0;
    std::string keptError_;  // why the kept content failed to parse
    FileStamp keptStamp_;
    bool keptStampTrusted_ = false;
};

}  // namespace cifsmon

#endif  // CIFSMONITORING_DEMO_BACKEND_H
