// samba_backend.h: the backend for a running Samba file server (smbd).
//
// A snapshot runs `testparm -s` (the shares), `smbcontrol smbd num-children` (is the server up;
// unlike a ping it leaves smbd's log alone) and `smbstatus --json` (sessions, tree connects,
// open files) with the configured smb.conf, numbers the sessions (samba_numbers.h), ties opens
// to sessions and builds the state (samba_state.h). One snapshot serves every listing for the
// configured interval: concurrent listings wait for the one being taken and share it, so
// smbstatus runs at most once per interval however many requests come. A failure (a tool
// missing, smbd down or hung, output not understood) is shared the same way, given to the
// caller's report (call_report.h) and written to standard error when it differs from the last
// one written.
//
// Closing sends the server's own close message for each open concerned (samba_messenger.h):
// exactly those handles close, every session and tree connect stays. One file closes every
// open of that path; all files of a connection close the opens of that session. Where the
// message cannot be sent (no python3-samba, a process of another cluster node), a configured
// RPC account closes the open through the server service; failing that, the share is closed in
// the process holding the file, which also closes that process's other files on the share: the
// caller's report names them. Closes use the snapshot of the interval (so that closing many
// files in one request takes one snapshot and starts the close helper once); the next listing
// takes a fresh snapshot and waits, briefly, for the closed handles to go.
//
// On a CTDB cluster node (samba_cluster.h) a snapshot also asks ctdb for the nodes: this node's
// number decides which processes the close message and the kernel's counters reach, and the
// sessions and opens of nodes that take no part in the cluster are left out, with a notice
// every listing of the snapshot carries.
#ifndef CIFSMONITORING_SAMBA_BACKEND_H
#define CIFSMONITORING_SAMBA_BACKEND_H

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "monitoring/backend.h"
#include "monitoring/samba/samba_cluster.h"
#include "monitoring/samba/samba_config.h"
#include "monitoring/samba/samba_messenger.h"
#include "monitoring/samba/samba_state.h"
#include "monitoring/samba/samba_status.h"
#include "monitoring/samba/samba_tool.h"
#include "monitoring/settings.h"

namespace cifsmon {

inline constexpr char kTestparmTool[] = "testparm";
inline constexpr char kSmbstatusTool[] = "smbstatus";

class SambaBackend : public Backend {
  public:
    explicit SambaBackend(SambaSettings settings);

    int Snapshot(std::shared_ptr<const State> *state) override;
    int CloseFileByPath(std::string_view path) override;
    int CloseFilesOfConnection(unsigned int number) override;
    // The opens of the path held by the connection's session, by the close message; where that
    // cannot be sent, as the other closes fall back (the share closed in the process takes the
    // process's other files there along).
    int CloseOpenOfConnection(unsigned int number, std::string_view path) override;
    // The targets that are open, and for those whose process the close message cannot reach (a
    // process of another cluster node, or any when the close helper cannot use Samba's
    // messaging) while no RPC account is configured, every other file that process holds under
    // the same share directory, which closing the share takes along.
    int PlanClose(const std::vector<OpenRef> &targets, std::shared_ptr<const State> *state,
                  std::vector<OpenRef> *plan) override;
    // `smbcontrol <process> shutdown` to the session's server process: MSG_SHUTDOWN, which an
    // smbd child answers by exiting cleanly (its opens close, its client is disconnected). A
    // process carrying other sessions too ends them with it; the caller's report names them.
    int EndSession(unsigned int number) override;

  private:
    struct Taken {
        SambaConfig config;
        SambaStatus status;
        std::vector<uint16_t> numbers;  // of status.sessions, index for index
        OpenOwners owners;
        std::shared_ptr<const State> state;
        // In a CTDB cluster: this node's number (none when it cannot be told), and what every
        // listing made from this snapshot says about nodes that did not answer.
        std::optional<uint32_t> localVnn;
        std::string notice;
    };

    // A close message sent, until a snapshot no longer lists its open.
    struct PendingClose {
        SambaOpen open;
        std::string path;
        std::chrono::steady_clock::time_point sentAt;
    };

    enum class Purpose { kListing, kClose };
    // The snapshot of this interval, or a new one when the interval has passed or (for a
    // listing) a close was sent since it was taken.
    int Take(Purpose purpose, std::shared_ptr<const Taken> *taken);
    // *error says what failed for standard error; *reason, when set, says it shorter for a page.
    int Gather(Taken *taken, std::string *error, std::string *reason);
    // For a clustered server, the cluster's nodes (`ctdb status`): this node's number, the
    // notice on absent nodes; fails when this node itself is out of the cluster. Sets
    // taken->localVnn and localVnn_ in every case.
    int ReadNodes(Taken *taken, std::vector<ClusterNode> *nodes, std::string *error,
                  std::string *reason);
    int CheckServer(std::string *error, std::string *reason);
    int RunSmbstatus(SambaStatus *status, std::string *error);
    // Runs smbstatus again, briefly, while it still lists an open whose close was just sent.
    int AwaitPendingCloses(SambaStatus *status, std::string *error);
    void MarkDirectories(SambaStatus *status) const;
    uint64_t StableLogin(const SambaSession &session, uint64_t seen);
    // Gives a snapshot's failure to the caller's report (the reason, else the error) and writes
    // the error when it is not the one last written; returns status.
    int Fail(int status, const std::string &error, const std::string &reason);
    void Recovered();

    // One open to close: the file it is of, and the open.
    struct Target {
        const SambaOpenFile *file;
        SambaOpen open;
        std::size_t owner;  // index in status.sessions, or OpenOwners::kNone
    };
    // Closes each target by the close message; leaves in *targets those it could not reach.
    void CloseByMessage(const Taken &taken, std::vector<Target> *targets);
    // Asks the server service to close each target and checks that it went; leaves in
    // *targets those that did not go.
    void CloseOverRpc(const Taken &taken, std::vector<Target> *targets);
    // close-share, in each process holding one of the targets, of the shares serving the
    // target's directory; the caller's report names what else that closed.
    int CloseByShare(const Taken &taken, const std::vector<Target> &targets);
    // The opens of the path (resolved among the session's) held by the sessions numbered so.
    int TargetsOfConnectionPath(const Taken &taken, unsigned int number, std::string_view path,
                                std::vector<Target> *targets);
    // Every way in turn, for targets the last way left.
    int CloseTargets(const Taken &taken, std::vector<Target> targets);
    // "connection N (user U, process P)" for messages; "process P" without an owner.
    std::string Describe(const Taken &taken, const ServerId &server, std::size_t owner) const;

    const SambaSettings settings_;
    const ToolOptions tools_;
    SambaLookups lookups_;

    CloseMessenger messenger_;

    std::mutex mutex_;  // serialises snapshots; guards the kept one and what follows
    bool haveKept_ = false;
    bool closedSinceKept_ = false;
    std::chrono::steady_clock::time_point keptAt_;
    std::shared_ptr<const Taken> kept_;
    int keptStatus_ = 0;
    std::string keptError_;
    std::vector<PendingClose> pending_;
    std::optional<uint32_t> localVnn_;  // of the snapshot being taken, for lookups_
    std::unordered_map<std::string, uint64_t> firstLogin_;  // by SessionKey

    std::mutex reportMutex_;
    std::string lastReported_;
};

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_BACKEND_H
