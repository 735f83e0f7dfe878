// backend.h: what a source of CIFS server data provides to the library's entry points.
//
// A backend reports the whole server as one State snapshot per listing, and carries out the
// close actions and the ending of a session. Implementations are safe to call from several threads
// at once.
#ifndef CIFSMONITORING_BACKEND_H
#define CIFSMONITORING_BACKEND_H

#include <memory>
#include <string_view>
#include <vector>

#include "monitoring/admin_records.h"
#include "monitoring/state.h"

namespace cifsmon {

class Backend {
  public:
    virtual ~Backend() = default;

    // The server as it is now. kStatusOk, or a nonzero status and no snapshot.
    virtual int Snapshot(std::shared_ptr<const State> *state) = 0;
    // Closes the open file with this full server path on every connection holding it.
    // kStatusNotFound when no connection holds it.
    virtual int CloseFileByPath(std::string_view path) = 0;
    // Closes every file the connection(s) carrying the number hold open; they stay connected.
    // kStatusNotFound when no connection carries it.
    virtual int CloseFilesOfConnection(unsigned int number) = 0;
    // Closes the opens of `path` held by the connection(s) carrying the number, and where the
    // server cannot close them alone, what PlanClose names with them (the caller's report names
    // those). kStatusNotFound when they hold no such open.
    virtual int CloseOpenOfConnection(unsigned int number, std::string_view path) = 0;
    // What CloseOpenOfConnection of each target would close, from the snapshot *state: the
    // targets that are open and what the server would close with them.
    virtual int PlanClose(const std::vector<OpenRef> &targets, std::shared_ptr<const State> *state,
                          std::vector<OpenRef> *plan) = 0;
    // Disconnects the client of the session(s) carrying the number; their opens close.
    // kStatusNotFound when no connection carries it.
    virtual int EndSession(unsigned int number) = 0;
};

}  // namespace cifsmon

#endif  // CIFSMONITORING_BACKEND_H
